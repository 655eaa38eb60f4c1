#include "outlook/com/dispatch.h"

namespace zelsync {
namespace outlook {
namespace com {
namespace {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "BSTRs hold UTF-16 code units");

// The value of a BSTR; a null BSTR is a null string.
void ReadBstr(BSTR text, OptString* value) {
  if (!text) {
    value->reset();
    return;
  }
  value->emplace(reinterpret_cast<const char16_t*>(text), SysStringLen(text));
}

// `from` as type `vt` in *to. A result without a value (VT_EMPTY, VT_NULL)
// is refused: a call that reports success must deliver one.
bool Coerce(Variant& from, VARTYPE vt, Variant* to) {
  const VARTYPE got = from.value().vt;
  if (got == VT_EMPTY || got == VT_NULL) return false;
  return SUCCEEDED(VariantChangeType(to->get(), from.get(), 0, vt)) && to->value().vt == vt;
}

// Frees what an object put into the exception record of a failed call; the
// description and source say nothing the library reports.
void DropException(EXCEPINFO* exception) {
  SysFreeString(exception->bstrSource);
  SysFreeString(exception->bstrDescription);
  SysFreeString(exception->bstrHelpFile);
}

}  // namespace

Args::Args() {
  for (VARIANT& value : values_) VariantInit(&value);
}

Args::~Args() {
  for (size_t i = 0; i < count_; ++i) VariantClear(&values_[i]);
}

VARIANT* Args::Next() {
  if (!ok_ || count_ == kMaxArgs) {
    ok_ = false;
    return nullptr;
  }
  return &values_[count_];
}

Args& Args::String(const WString& value) {
  VARIANT* slot = Next();
  if (!slot) return *this;
  if (value.size() > kMaxStringUnits) {
    ok_ = false;
    return *this;
  }
  // Even an empty string gets a BSTR: an empty argument is not a null one.
  BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()),
                                static_cast<UINT>(value.size()));
  if (!text) {
    ok_ = false;
    return *this;
  }
  slot->vt = VT_BSTR;
  slot->bstrVal = text;
  ++count_;
  return *this;
}

Args& Args::Int32(int32_t value) {
  if (VARIANT* slot = Next()) {
    slot->vt = VT_I4;
    slot->lVal = value;
    ++count_;
  }
  return *this;
}

Args& Args::Bool(bool value) {
  if (VARIANT* slot = Next()) {
    slot->vt = VT_BOOL;
    slot->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    ++count_;
  }
  return *this;
}

Args& Args::Object(IDispatch* object) {
  if (VARIANT* slot = Next()) {
    if (object) object->AddRef();
    slot->vt = VT_DISPATCH;
    slot->pdispVal = object;
    ++count_;
  }
  return *this;
}

HRESULT MemberIds::Find(IDispatch* object, const wchar_t* name, DISPID* id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto known = ids_.find(name);
  if (known != ids_.end()) {
    *id = known->second;
    return S_OK;
  }
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  const HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
  if (SUCCEEDED(hr)) ids_.emplace(name, *id);
  return hr;
}

void MemberIds::Forget(const wchar_t* name) {
  std::lock_guard<std::mutex> lock(mutex_);
  ids_.erase(name);
}

Dispatch& Dispatch::operator=(Dispatch&& other) noexcept {
  if (this != &other) {
    Reset();
    object_ = other.object_;
    ids_ = other.ids_;
    other.object_ = nullptr;
  }
  return *this;
}

Dispatch Dispatch::Share(IDispatch* object) {
  if (object) object->AddRef();
  return Dispatch(object);
}

void Dispatch::Reset() {
  if (object_) {
    IDispatch* object = object_;
    object_ = nullptr;
    object->Release();
  }
}

HRESULT Dispatch::Invoke(const wchar_t* name, WORD flags, const Args& args, VARIANT* result) const {
  if (!object_) return E_POINTER;
  if (!args.ok()) return E_OUTOFMEMORY;
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = Lookup(name, &id);
  if (FAILED(hr)) return hr;

  // Invoke wants the arguments last to first. The copies are shallow: `args`
  // keeps ownership of what they hold.
  VARIANTARG reversed[Args::kMaxArgs];
  const size_t count = args.size();
  for (size_t i = 0; i < count; ++i) reversed[i] = args[count - 1 - i];
  DISPID put_id = DISPID_PROPERTYPUT;
  DISPPARAMS params = {};
  params.rgvarg = count ? reversed : nullptr;
  params.cArgs = static_cast<UINT>(count);
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &put_id;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception = {};
  UINT bad_argument = 0;
  hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception,
                       &bad_argument);
  DropException(&exception);
  if (hr == DISP_E_MEMBERNOTFOUND && ids_) {
    // A remembered DISPID the object does not know: ask once more by name.
    // The member was not reached, so calling it again is safe.
    ids_->Forget(name);
    DISPID fresh = DISPID_UNKNOWN;
    if (SUCCEEDED(Lookup(name, &fresh)) && fresh != id) {
      exception = EXCEPINFO{};
      hr = object_->Invoke(fresh, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception,
                           &bad_argument);
      DropException(&exception);
    }
  }
  return hr;
}

HRESULT Dispatch::Lookup(const wchar_t* name, DISPID* id) const {
  if (ids_) return ids_->Find(object_, name, id);
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  return object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
}

bool Dispatch::GetString(const wchar_t* name, OptString* value) const {
  Variant result;
  if (FAILED(Invoke(name, DISPATCH_PROPERTYGET, Args(), result.get()))) return false;
  switch (result.value().vt) {
    case VT_EMPTY:
    case VT_NULL:
      value->reset();
      return true;
    case VT_BSTR:
      ReadBstr(result.value().bstrVal, value);
      return true;
    default: {
      Variant text;
      if (!Coerce(result, VT_BSTR, &text)) return false;
      ReadBstr(text.value().bstrVal, value);
      return true;
    }
  }
}

bool Dispatch::GetInt32(const wchar_t* name, int32_t* value) const {
  Variant result, number;
  if (FAILED(Invoke(name, DISPATCH_PROPERTYGET, Args(), result.get())) ||
      !Coerce(result, VT_I4, &number)) {
    return false;
  }
  *value = number.value().lVal;
  return true;
}

bool Dispatch::GetDate(const wchar_t* name, double* value) const {
  Variant result, date;
  if (FAILED(Invoke(name, DISPATCH_PROPERTYGET, Args(), result.get())) ||
      !Coerce(result, VT_DATE, &date)) {
    return false;
  }
  *value = date.value().date;
  return true;
}

bool Dispatch::GetBool(const wchar_t* name, bool* value) const {
  Variant result, flag;
  if (FAILED(Invoke(name, DISPATCH_PROPERTYGET, Args(), result.get())) ||
      !Coerce(result, VT_BOOL, &flag)) {
    return false;
  }
  *value = flag.value().boolVal != VARIANT_FALSE;
  return true;
}

namespace {

// Moves the object a call returned out of `result` into *value.
bool TakeDispatch(Variant& result, Dispatch* value) {
  VARIANT& v = *result.get();
  switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
      *value = Dispatch();
      return true;
    case VT_DISPATCH:
      *value = Dispatch(v.pdispVal);
      v.pdispVal = nullptr;
      v.vt = VT_EMPTY;
      return true;
    case VT_UNKNOWN: {
      IDispatch* object = nullptr;
      if (v.punkVal &&
          FAILED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object)))) {
        return false;
      }
      *value = Dispatch(object);
      return true;
    }
    default:
      return false;
  }
}

}  // namespace

bool Dispatch::GetDispatch(const wchar_t* name, Dispatch* value) const {
  Variant result;
  return SUCCEEDED(Invoke(name, DISPATCH_PROPERTYGET, Args(), result.get())) &&
         TakeDispatch(result, value);
}

bool Dispatch::PutString(const wchar_t* name, const WString& value) const {
  Args args;
  return SUCCEEDED(Invoke(name, DISPATCH_PROPERTYPUT, args.String(value), nullptr));
}

bool Dispatch::PutInt32(const wchar_t* name, int32_t value) const {
  Args args;
  return SUCCEEDED(Invoke(name, DISPATCH_PROPERTYPUT, args.Int32(value), nullptr));
}

bool Dispatch::PutBool(const wchar_t* name, bool value) const {
  Args args;
  return SUCCEEDED(Invoke(name, DISPATCH_PROPERTYPUT, args.Bool(value), nullptr));
}

bool Dispatch::Call(const wchar_t* name, const Args& args) const {
  Variant result;
  return SUCCEEDED(Invoke(name, DISPATCH_METHOD, args, result.get()));
}

bool Dispatch::Call(const wchar_t* name) const { return Call(name, Args()); }

bool Dispatch::CallForDispatch(const wchar_t* name, const Args& args, Dispatch* value) const {
  Variant result;
  return SUCCEEDED(Invoke(name, DISPATCH_METHOD, args, result.get())) &&
         TakeDispatch(result, value);
}

bool Dispatch::CallForDispatch(const wchar_t* name, Dispatch* value) const {
  return CallForDispatch(name, Args(), value);
}

Dispatch Dispatch::Query(const IID& iid) const {
  void* found = nullptr;
  if (!object_ || FAILED(object_->QueryInterface(iid, &found))) return Dispatch();
  return Dispatch(static_cast<IDispatch*>(found));
}

}  // namespace com
}  // namespace outlook
}  // namespace zelsync
