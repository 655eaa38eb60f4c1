// The COM backend where only an in-process object reaches it: results of
// the wrong type, failed calls and their exception records, a DISPID gone
// stale, and the failures of creating the application. Every reference is
// counted and every BSTR goes through a malloc spy with the BSTR cache off,
// so whatever the library fails to free or release shows.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "outlook/com/com_model.h"
#include "outlook/com/com_objects.h"

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;
using outlook::OptString;

// What a member gives, written into the result of a call; empty gives none.
using Value = std::function<void(VARIANT*)>;
Value Str(const wchar_t* text, UINT length) {
  return [=](VARIANT* out) {
    out->vt = VT_BSTR;
    out->bstrVal = text ? SysAllocStringLen(text, length) : nullptr;
  };
}
Value Num(VARTYPE vt, double number) {
  return [=](VARIANT* out) {
    out->vt = VT_R8;
    out->dblVal = number;
    VariantChangeType(out, out, 0, vt);
  };
}
Value Obj(IDispatch* object) {
  return [object](VARIANT* out) {
    out->vt = VT_DISPATCH;
    out->pdispVal = object;
    object->AddRef();
  };
}

// An automation object answering to `iid` besides IDispatch, with a table
// of members giving an HRESULT and a value. Release never deletes it, so a
// missing or extra Release shows in `refs`. A DISPID is the name's place in
// one list shared by every stand-in, plus `shift`: moving it makes every
// DISPID the library remembers stale.
class StandIn : public IDispatch {
 public:
  explicit StandIn(IID iid = IID_NULL) : iid_(iid) {}
  virtual ~StandIn() = default;
  StandIn& Set(const std::wstring& name, Value value, HRESULT hr = S_OK) {
    members_[name] = {hr, std::move(value)};
    return *this;
  }
  static inline DISPID shift = 1;
  LONG refs = 1;  // the test's own
  int lookups = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known =
        IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_);
    *out = known ? static_cast<IDispatch*>(this) : nullptr;
    if (known) AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* ids) override {
    ++lookups;
    if (!members_.count(names[0])) return DISP_E_UNKNOWNNAME;
    std::vector<std::wstring>& all = Names();
    auto at = std::find(all.begin(), all.end(), names[0]);
    if (at == all.end()) at = all.insert(all.end(), names[0]);
    ids[0] = shift + static_cast<DISPID>(at - all.begin());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) override {
    const size_t at = static_cast<size_t>(id - shift);
    const auto found = at < Names().size() ? members_.find(Names()[at]) : members_.end();
    if (found == members_.end()) return DISP_E_MEMBERNOTFOUND;
    const auto& [hr, value] = found->second;
    if (hr == DISP_E_EXCEPTION) {
      exception->bstrSource = SysAllocString(L"Outlook");
      exception->bstrDescription = SysAllocString(L"The operation failed.");
    }
    if (SUCCEEDED(hr) && result && value) value(result);
    return hr;
  }

 private:
  static std::vector<std::wstring>& Names() {
    static std::vector<std::wstring> names;
    return names;
  }
  const IID iid_;
  std::map<std::wstring, std::pair<HRESULT, Value>> members_;
};

// A COM object that lives as long as the test: its references are not counted.
template <class Interface>
struct Unowned : Interface {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface));
    *out = known ? static_cast<Interface*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

// Counts the task-memory blocks (BSTRs among them) allocated and not freed.
// Installed once for the whole run: a spy cannot be revoked while blocks it
// saw are live.
struct AllocationSpy : Unowned<IMallocSpy> {
  long outstanding = 0;
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    outstanding += block != nullptr;
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
    outstanding -= block && spied;
    return block;
  }
  void STDMETHODCALLTYPE PostFree(BOOL) override {}
  SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** out, BOOL) override {
    *out = block;
    return size;
  }
  void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
  void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
  SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
  void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
  int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
  void STDMETHODCALLTYPE PreHeapMinimize() override {}
  void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

// The spy, or null when it cannot be installed.
AllocationSpy* Spy() {
  static AllocationSpy* spy = [] {
    // A freed BSTR goes back to the task allocator only without the cache.
    if (auto no_cache = reinterpret_cast<void(WINAPI*)()>(
            GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache"))) {
      no_cache();
    }
    auto* made = new AllocationSpy();
    return SUCCEEDED(CoRegisterMallocSpy(made)) ? made : nullptr;
  }();
  return spy;
}

constexpr IID kIidMailItem = {0x63034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// An application, the inbox and one mail. At the end every stand-in holds
// only the test's reference and every block allocated meanwhile is freed.
class ComTest : public ::testing::Test {
 protected:
  ComTest() {
    app_.Set(L"CreateItem", Obj(&mail_));
    mail_.Set(L"Subject", Str(L"S", 1)).Set(L"Attachments", Obj(&attachments_));
  }
  ~ComTest() override {
    if (com_) CoUninitialize();
  }
  void SetUp() override { ASSERT_TRUE(inbox && mail); }
  void TearDown() override {
    app_model_.reset();
    inbox.reset();
    mail.reset();
    for (StandIn* o : {&app_, &inbox_, &mail_, &attachments_}) {
      EXPECT_EQ(1, o->refs) << "references left";
    }
    ASSERT_TRUE(Spy());
    EXPECT_EQ(blocks_, Spy()->outstanding) << "task-memory blocks (BSTRs) not freed";
  }
  // A getter of `T` over what the member gives {value, ok, got}: taken as
  // `got`, or refused (false) with the out-value left as it was.
  template <class T>
  void ExpectReads(const wchar_t* name, bool (outlook::MailItem::*get)(T*), T kept,
                   std::initializer_list<std::tuple<Value, bool, T>> cases) {
    for (const auto& [value, ok, taken] : cases) {
      mail_.Set(name, value);
      T got = kept;
      EXPECT_EQ(ok, (*mail.*get)(&got)) << name;
      EXPECT_EQ(ok ? taken : kept, got) << name;
    }
  }

  const bool com_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  StandIn app_{outlook::com::kIidApplication}, inbox_, mail_{kIidMailItem}, attachments_;
  const long blocks_ = Spy() ? Spy()->outstanding : 0;
  std::shared_ptr<outlook::Application> app_model_ = outlook::com::WrapApplication(&app_);
  std::shared_ptr<outlook::Folder> inbox =
      outlook::com::WrapFolder(outlook::com::Dispatch::Share(&inbox_));
  std::shared_ptr<outlook::MailItem> mail =
      outlook::com::WrapItem(outlook::com::Dispatch::Share(&mail_))->QueryMail();
};

TEST_F(ComTest, ResultsAreTakenAsTheirTypesOrRefusedAndFreed) {
  const OptString none;
  ExpectReads<OptString>(L"Subject", &outlook::MailItem::Subject, u"kept",
                         {{Str(L"Ann", 3), true, u"Ann"},
                          {Str(L"", 0), true, u""},
                          {Str(nullptr, 0), true, none},
                          {Value(), true, none},
                          {Str(L"a\0b", 3), true, std::u16string(u"a\0b", 3)},
                          {Num(VT_I4, 42), true, u"42"},
                          {Obj(&attachments_), false, none}});
  ExpectReads<int32_t>(
      L"Importance", &outlook::MailItem::Importance, -7,
      {{Num(VT_I2, 2), true, 2}, {Value(), false, 0}, {Str(L"high", 4), false, 0}});
  ExpectReads<double>(L"SentOn", &outlook::MailItem::SentOn, -7,
                      {{Num(VT_DATE, 45000.75), true, 45000.75}, {Str(L"x", 1), false, 0}});
  ExpectReads<bool>(L"UnRead", &outlook::MailItem::UnRead, true,
                    {{Num(VT_BOOL, false), true, false}, {Obj(&attachments_), false, false}});
}

TEST_F(ComTest, AFailedCallReportsFalseFreesItsArgumentsAndKeepsOutValues) {
  std::shared_ptr<outlook::MailItem> moved = mail;
  std::shared_ptr<outlook::Attachments> attachments;
  ASSERT_TRUE(mail->GetAttachments(&attachments) && attachments);
  for (HRESULT hr : {E_FAIL, DISP_E_EXCEPTION, RPC_E_DISCONNECTED}) {
    for (const wchar_t* name : {L"Subject", L"Attachments", L"Save", L"Move"}) {
      mail_.Set(name, Obj(&attachments_), hr);
    }
    attachments_.Set(L"Add", Value(), hr);
    app_.Set(L"CreateItem", Obj(&mail_), hr);
    OptString subject = u"kept";
    std::shared_ptr<outlook::Attachments> none;
    std::shared_ptr<outlook::Item> created;
    EXPECT_FALSE(mail->Subject(&subject) || mail->PutSubject(u"x") || mail->GetAttachments(&none) ||
                 mail->Save() || mail->Move(inbox, &moved) ||
                 attachments->Add(u"C:\\a.bin", outlook::kAttachByValue, 1, u"a.bin") ||
                 app_model_->CreateItem(outlook::kMailItem, &created));
    EXPECT_EQ(u"kept", subject);
    EXPECT_EQ(mail, moved);
    EXPECT_FALSE(none || created);
  }
  // No folder is handed to no one.
  EXPECT_FALSE(mail->Move(nullptr, &moved));
}

TEST_F(ComTest, AStaleDispidIsLookedUpOnceMoreAndKept) {
  OptString subject;
  ASSERT_TRUE(mail->Subject(&subject));
  const int before = mail_.lookups;
  StandIn::shift += 1000;
  for (int call = 0; call < 2; ++call) {
    subject.reset();
    ASSERT_TRUE(mail->Subject(&subject));
    EXPECT_EQ(u"S", subject);
  }
  EXPECT_EQ(before + 1, mail_.lookups);
}

// A class factory registered in this process for a made-up class: it
// creates no object.
struct Factory : Unowned<IClassFactory> {
  HRESULT result = S_OK;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
    *out = nullptr;
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// Creation failing, or succeeding without an object, are told apart (an
// instance created or found running is met in the whole sessions).
TEST_F(ComTest, CreatingTheApplicationTellsItsFailuresApart) {
  constexpr CLSID kMadeUpClass = {
      0x6f1c2b7e, 0x4d1a, 0x4c55, {0x9e, 0x21, 0x3a, 0x7b, 0x0c, 0x9d, 0x8e, 0x10}};
  Factory factory;
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, CoRegisterClassObject(kMadeUpClass, &factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie));
  for (const auto& [hr, expected] : {std::pair{E_OUTOFMEMORY, ConnectResult::kCreationFailed},
                                     std::pair{S_OK, ConnectResult::kNoObject}}) {
    factory.result = hr;
    std::shared_ptr<outlook::Application> application;
    EXPECT_EQ(expected, outlook::com::CreateApplication(kMadeUpClass, &application));
    EXPECT_FALSE(application);
  }
  CoRevokeClassObject(cookie);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
