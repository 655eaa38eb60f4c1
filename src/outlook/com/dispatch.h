// Late-bound calls into the item store's automation objects: a member is
// looked up by name through IDispatch and invoked with VARIANT arguments.
// Every reference, BSTR and VARIANT is owned by one of the classes below
// and released on every path.
#ifndef ZELSYNC_OUTLOOK_COM_DISPATCH_H
#define ZELSYNC_OUTLOOK_COM_DISPATCH_H

#include <oaidl.h>
#include <oleauto.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "object_model/object_model.h"

namespace zelsync {
namespace outlook {
namespace com {

// A VARIANT that clears itself (freeing its BSTR, releasing its object).
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  ~Variant() { VariantClear(&value_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* get() { return &value_; }
  const VARIANT& value() const { return value_; }

 private:
  VARIANT value_;
};

// The arguments of one call, in the order of the member's signature. An
// argument that cannot be made (no memory for its BSTR, a string longer
// than kMaxStringUnits, more than kMaxArgs arguments) spoils the list: ok()
// is false and a call with it fails without reaching the object.
class Args {
 public:
  static constexpr size_t kMaxArgs = 4;
  static constexpr size_t kMaxStringUnits = size_t{1} << 28;

  Args();
  ~Args();
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;

  Args& String(const WString& value);  // VT_BSTR
  Args& Int32(int32_t value);          // VT_I4
  Args& Bool(bool value);              // VT_BOOL, VARIANT_TRUE is -1
  Args& Object(IDispatch* object);     // VT_DISPATCH, holds its own reference

  bool ok() const { return ok_; }
  size_t size() const { return count_; }
  const VARIANT& operator[](size_t index) const { return values_[index]; }

 private:
  VARIANT* Next();

  VARIANT values_[kMaxArgs];
  size_t count_ = 0;
  bool ok_ = true;
};

// The DISPIDs of one interface's members. Each name is looked up once for
// the process: every lookup is a round trip to the item store's process,
// and an interface's DISPIDs are fixed.
class MemberIds {
 public:
  // The DISPID of `name`, asked of `object` only when not known yet.
  HRESULT Find(IDispatch* object, const wchar_t* name, DISPID* id);
  // Drops what is known of `name` (its DISPID proved stale).
  void Forget(const wchar_t* name);

 private:
  std::mutex mutex_;
  std::map<std::wstring, DISPID> ids_;
};

// The DISPIDs of the interface the wrapper type `Face` serves.
template <class Face>
MemberIds& IdsOf() {
  static MemberIds ids;
  return ids;
}

// A counted reference to an automation object, released when it goes.
class Dispatch {
 public:
  Dispatch() = default;
  // Takes over a reference the caller holds.
  explicit Dispatch(IDispatch* adopted) : object_(adopted) {}
  ~Dispatch() { Reset(); }
  Dispatch(Dispatch&& other) noexcept : object_(other.object_), ids_(other.ids_) {
    other.object_ = nullptr;
  }
  Dispatch& operator=(Dispatch&& other) noexcept;
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;

  // A reference of its own to `object` (which may be null).
  static Dispatch Share(IDispatch* object);

  IDispatch* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }
  void Reset();

  // From now on the DISPIDs of the object's members come from `ids`, the
  // cache of its interface; without one each call looks its member up.
  void Bind(MemberIds* ids) { ids_ = ids; }

  // Looks up `name` and invokes it with `flags` (DISPATCH_PROPERTYGET,
  // DISPATCH_METHOD or DISPATCH_PROPERTYPUT, the last with the named
  // argument DISPID_PROPERTYPUT). `result` is null for a put. An exception
  // the object raises is fetched and dropped; its HRESULT is returned.
  HRESULT Invoke(const wchar_t* name, WORD flags, const Args& args, VARIANT* result) const;

  // Property gets. False when the call fails or its value cannot be taken
  // as the type asked for; the out-value is then left alone. A null BSTR
  // (and VT_EMPTY or VT_NULL) is a null string.
  bool GetString(const wchar_t* name, OptString* value) const;
  bool GetInt32(const wchar_t* name, int32_t* value) const;
  bool GetDate(const wchar_t* name, double* value) const;
  bool GetBool(const wchar_t* name, bool* value) const;
  // An object property; *value is empty when the property holds no object.
  bool GetDispatch(const wchar_t* name, Dispatch* value) const;

  bool PutString(const wchar_t* name, const WString& value) const;
  bool PutInt32(const wchar_t* name, int32_t value) const;
  bool PutBool(const wchar_t* name, bool value) const;

  // A method call whose result, if any, is dropped.
  bool Call(const wchar_t* name, const Args& args) const;
  bool Call(const wchar_t* name) const;
  // A method call giving an object; *value is empty when it gave none.
  bool CallForDispatch(const wchar_t* name, const Args& args, Dispatch* value) const;
  bool CallForDispatch(const wchar_t* name, Dispatch* value) const;

  // The object's interface `iid` (the store's interfaces are dual, so it
  // is an IDispatch too), or an empty Dispatch when the object refuses it.
  Dispatch Query(const IID& iid) const;

 private:
  HRESULT Lookup(const wchar_t* name, DISPID* id) const;

  IDispatch* object_ = nullptr;
  MemberIds* ids_ = nullptr;
};

}  // namespace com
}  // namespace outlook
}  // namespace zelsync

#endif  // ZELSYNC_OUTLOOK_COM_DISPATCH_H
