// The COM backend where only an in-process object can reach it: what the
// calls free and release on paths the stand-in Outlook of the end-to-end
// sessions never takes (failed calls, results of the wrong type), a DISPID
// gone stale, the outcomes of creating the application, and the record
// exports where Outlook is not registered. BSTRs are counted through a
// malloc spy with the BSTR cache off, so every one must be freed again.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "outlook/com/com_model.h"
#include "support/scratch.h"

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;
using outlook::OptString;

// A COM object that lives as long as the test: its references are not counted.
template <class Interface>
class Unowned : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface));
    *out = known ? static_cast<Interface*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

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
// of members, each giving its HRESULT and value. Its references are counted
// and Release never deletes it, so a missing or extra Release shows in
// refs(). A name has the same DISPID on every stand-in until Renumber gives
// it another.
class StandIn : public IDispatch {
 public:
  explicit StandIn(IID iid = IID_NULL) : iid_(iid) {}
  virtual ~StandIn() = default;
  StandIn& Set(const std::wstring& name, Value value, HRESULT hr = S_OK) {
    members_[name] = {hr, std::move(value)};
    return *this;
  }
  LONG refs() const { return refs_; }
  static void Renumber(const std::wstring& name) { Ids()[name] = ++LastId(); }
  int lookups = 0;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    const bool known =
        IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_);
    *out = known ? static_cast<IDispatch*>(this) : nullptr;
    if (known) AddRef();
    return known ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID,
                                          DISPID* ids) override {
    ++lookups;
    if (!members_.count(names[0])) return DISP_E_UNKNOWNNAME;
    if (!Ids().count(names[0])) Renumber(names[0]);
    ids[0] = Ids()[names[0]];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO* exception, UINT*) override {
    auto found = members_.end();
    for (const auto& [name, known] : Ids()) {
      if (known == id) found = members_.find(name);
    }
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
  static std::map<std::wstring, DISPID>& Ids() {
    static std::map<std::wstring, DISPID> ids;
    return ids;
  }
  static DISPID& LastId() {
    static DISPID last = 0;
    return last;
  }

  const IID iid_;
  LONG refs_ = 1;  // the test's own reference
  std::map<std::wstring, std::pair<HRESULT, Value>> members_;
};

// Counts the task-memory blocks (BSTRs among them) allocated and not freed
// while it is installed, with the BSTR cache off so that a freed BSTR goes
// back to the task allocator. Installed once for the whole run: a spy
// cannot be revoked while blocks it saw are live.
struct AllocationSpy : Unowned<IMallocSpy> {
  AllocationSpy() {
    using NoCache = void(WINAPI*)();
    if (auto no_cache = reinterpret_cast<NoCache>(
            GetProcAddress(GetModuleHandleW(L"oleaut32.dll"), "SetOaNoCache"))) {
      no_cache();
    }
    installed = SUCCEEDED(CoRegisterMallocSpy(this));
  }
  bool installed = false;
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

AllocationSpy& Spy() {
  static AllocationSpy* spy = new AllocationSpy();
  return *spy;
}

// The caller of the library initialises COM on its thread.
struct ComInit {
  const bool ok = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  ~ComInit() {
    if (ok) CoUninitialize();
  }
};

constexpr IID kIidMailItem = {0x63034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// An application, its namespace, the inbox and one mail with an attachment
// list. At the end every stand-in holds only the test's reference and every
// task-memory block allocated meanwhile is freed.
class ComTest : public ::testing::Test {
 protected:
  ComTest() {
    app_.Set(L"Session", Obj(&mapi_));
    mapi_.Set(L"GetDefaultFolder", Obj(&inbox_));
    inbox_.Set(L"Items", Obj(&items_));
    items_.Set(L"Item", Obj(&mail_));
    mail_.Set(L"Subject", Str(L"S", 1));
  }
  void TearDown() override {
    for (StandIn* o : {&app_, &mapi_, &inbox_, &items_, &mail_, &attachments_}) {
      EXPECT_EQ(1, o->refs()) << "references left";
    }
    ASSERT_TRUE(Spy().installed);
    EXPECT_EQ(blocks_, Spy().outstanding) << "task-memory blocks (BSTRs) not freed";
  }
  std::shared_ptr<outlook::Folder> Inbox() {
    std::shared_ptr<outlook::Namespace> mapi;
    std::shared_ptr<outlook::Folder> inbox;
    EXPECT_TRUE(outlook::com::WrapApplication(&app_)->Session(&mapi) &&
                mapi->GetDefaultFolder(outlook::kFolderInbox, &inbox) && inbox);
    return inbox;
  }
  std::shared_ptr<outlook::MailItem> Mail() {
    std::shared_ptr<outlook::Items> items;
    std::shared_ptr<outlook::Item> item;
    EXPECT_TRUE(Inbox()->GetItems(&items) && items->Item(1, &item) && item);
    return item->QueryMail();
  }

  ComInit com_;
  StandIn app_{outlook::com::kIidApplication}, mapi_, inbox_, items_, mail_{kIidMailItem},
      attachments_;
  const long blocks_ = Spy().outstanding;
};

// A getter of `T` over `cases` of what the member gives: taken as `got`,
// or refused (ok false) with the out-value left as it was.
template <class T>
struct Read {
  Value value;
  bool ok;
  T got;
};
template <class T>
void ExpectReads(StandIn& object, outlook::MailItem& mail, const wchar_t* name,
                 bool (outlook::MailItem::*get)(T*), T kept, std::initializer_list<Read<T>> cases) {
  for (const Read<T>& read : cases) {
    object.Set(name, read.value);
    T got = kept;
    EXPECT_EQ(read.ok, (mail.*get)(&got)) << name;
    EXPECT_EQ(read.ok ? read.got : kept, got) << name;
  }
}

TEST_F(ComTest, ResultsAreTakenAsTheirTypesOrRefusedAndFreed) {
  std::shared_ptr<outlook::MailItem> mail = Mail();
  const OptString none;
  ExpectReads<OptString>(mail_, *mail, L"Subject", &outlook::MailItem::Subject, u"kept",
                         {{Str(L"Ann", 3), true, u"Ann"},
                          {Str(L"", 0), true, u""},
                          {Str(nullptr, 0), true, none},
                          {Value(), true, none},
                          {Str(L"a\0b", 3), true, std::u16string(u"a\0b", 3)},
                          {Num(VT_I4, 42), true, u"42"},
                          {Obj(&attachments_), false, none}});
  ExpectReads<int32_t>(
      mail_, *mail, L"Importance", &outlook::MailItem::Importance, -7,
      {{Num(VT_I2, 2), true, 2}, {Value(), false, 0}, {Str(L"high", 4), false, 0}});
  ExpectReads<double>(mail_, *mail, L"SentOn", &outlook::MailItem::SentOn, -7,
                      {{Num(VT_DATE, 45000.75), true, 45000.75}, {Str(L"x", 1), false, 0}});
  for (bool kept : {true, false}) {
    ExpectReads<bool>(mail_, *mail, L"UnRead", &outlook::MailItem::UnRead, kept,
                      {{Num(VT_BOOL, !kept), true, !kept}, {Obj(&attachments_), false, false}});
  }
}

TEST_F(ComTest, AFailedCallReportsFalseFreesItsArgumentsAndKeepsOutValues) {
  std::shared_ptr<outlook::Application> app = outlook::com::WrapApplication(&app_);
  std::shared_ptr<outlook::Folder> inbox = Inbox();
  std::shared_ptr<outlook::MailItem> mail = Mail(), moved = mail;
  std::shared_ptr<outlook::Attachments> attachments;
  mail_.Set(L"Attachments", Obj(&attachments_));
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
                 app->CreateItem(outlook::kMailItem, &created));
    EXPECT_EQ(u"kept", subject);
    EXPECT_EQ(mail, moved);
    EXPECT_FALSE(none || created);
  }
  // No folder is handed to no one.
  EXPECT_FALSE(mail->Move(nullptr, &moved));
}

TEST_F(ComTest, AStaleDispidIsLookedUpAgainAndTheCallGoesThrough) {
  std::shared_ptr<outlook::MailItem> mail = Mail();
  OptString subject;
  ASSERT_TRUE(mail->Subject(&subject));
  const int before = mail_.lookups;
  StandIn::Renumber(L"Subject");
  subject.reset();
  ASSERT_TRUE(mail->Subject(&subject));
  EXPECT_EQ(u"S", subject);
  EXPECT_EQ(before + 1, mail_.lookups);
}

// A class factory registered in this process for a made-up class.
struct Factory : Unowned<IClassFactory> {
  HRESULT result = S_OK;
  IDispatch* object = nullptr;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
    *out = object;
    if (object) object->AddRef();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST_F(ComTest, CreatingTheApplicationTellsItsOutcomesApart) {
  ASSERT_TRUE(com_.ok);
  constexpr CLSID kMadeUpClass = {
      0x6f1c2b7e, 0x4d1a, 0x4c55, {0x9e, 0x21, 0x3a, 0x7b, 0x0c, 0x9d, 0x8e, 0x10}};
  Factory factory;
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, CoRegisterClassObject(kMadeUpClass, &factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie));
  const std::tuple<HRESULT, IDispatch*, ConnectResult> cases[] = {
      {E_OUTOFMEMORY, nullptr, ConnectResult::kCreationFailed},
      {S_OK, nullptr, ConnectResult::kNoObject},
      {S_OK, &app_, ConnectResult::kOk},
  };
  for (const auto& [hr, object, expected] : cases) {
    factory.result = hr;
    factory.object = object;
    std::shared_ptr<outlook::Application> application;
    EXPECT_EQ(expected, outlook::com::CreateApplication(kMadeUpClass, &application));
    EXPECT_EQ(expected == ConnectResult::kOk, application && application->StartedByConnect());
  }
  CoRevokeClassObject(cookie);
}

// Where Outlook is not registered, connecting says so (what the record
// exports then do is the fake object model's to show).
TEST(ComConnectTest, WithoutOutlookConnectingSaysItIsNotRegistered) {
  ComInit com;
  CLSID clsid;
  if (CLSIDFromProgID(L"Outlook.Application", &clsid) == S_OK) GTEST_SKIP() << "Outlook present";
  std::shared_ptr<outlook::Application> application;
  EXPECT_EQ(ConnectResult::kNotRegistered, outlook::ObjectModel::Default().Connect(&application));
  EXPECT_FALSE(application);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
