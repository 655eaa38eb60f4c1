// The COM backend: connecting where Outlook is not registered (the record
// exports then fail and keep what they were given), and the late-bound calls
// over stand-in automation objects that record every call, count their
// references and serve a table of members. The BSTRs the calls allocate are
// counted through a malloc spy with the BSTR cache off, so every one must be
// freed again.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "outlook/com/com_model.h"
#include "support/scratch.h"

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;
using outlook::OptString;

// --- Stand-in automation objects --------------------------------------------

// What a member gives: a value of type `vt` (VT_BSTR with `text` nullopt is
// a null BSTR).
struct Value {
  VARTYPE vt = VT_EMPTY;
  std::optional<std::wstring> text;
  double number = 0;
  IDispatch* object = nullptr;
};
Value Str(std::wstring text) { return {VT_BSTR, std::move(text)}; }
Value NullStr() { return {VT_BSTR, std::nullopt}; }
Value Num(VARTYPE vt, double number) { return {vt, std::nullopt, number}; }
Value Obj(IDispatch* object) { return {VT_DISPATCH, std::nullopt, 0, object}; }

std::wstring Describe(const VARIANT& v);

// An automation object with a table of members. Invoke records each call as
// "get Name", "call Name(args)" or "put Name=arg" (arguments in the order of
// the signature), answers with the member's HRESULT and value, and keeps a
// put value as the member's value. Its references are counted and it is
// never deleted by Release, so an extra Release shows as a count below 1.
class StandIn : public IDispatch {
 public:
  explicit StandIn(std::wstring label) : label_(std::move(label)) {}
  virtual ~StandIn() = default;

  StandIn& Set(const std::wstring& name, Value value) {
    members_[name].value = std::move(value);
    return *this;
  }
  StandIn& Fail(const std::wstring& name, HRESULT hr) {
    members_[name].hr = hr;
    return *this;
  }
  StandIn& Accept(const IID& iid) {
    interfaces_.push_back(iid);
    return *this;
  }
  const std::wstring& label() const { return label_; }
  LONG refs() const { return refs_; }
  std::vector<std::wstring> calls;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch);
    for (const IID& accepted : interfaces_) known = known || IsEqualIID(iid, accepted);
    *out = known ? static_cast<IDispatch*>(this) : nullptr;
    if (!known) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs_); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    auto found = count == 1 ? members_.find(names[0]) : members_.end();
    if (found == members_.end()) return DISP_E_UNKNOWNNAME;
    ids[0] = static_cast<DISPID>(std::distance(members_.begin(), found)) + 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    if (id < 1 || id > static_cast<DISPID>(members_.size())) return DISP_E_MEMBERNOTFOUND;
    auto member = std::next(members_.begin(), id - 1);
    std::wstring args;
    for (UINT i = params->cArgs; i-- > 0;) {
      args += Describe(params->rgvarg[i]) + (i ? L", " : L"");
    }
    if (flags == DISPATCH_PROPERTYPUT) {
      const bool named = params->cNamedArgs == 1 &&
                         params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT && params->cArgs == 1;
      calls.push_back(L"put " + member->first + L"=" + args + (named ? L"" : L" (unnamed)"));
      if (!named) return DISP_E_PARAMNOTFOUND;
    } else if (flags == DISPATCH_PROPERTYGET && params->cArgs == 0) {
      calls.push_back(L"get " + member->first);
    } else if (flags == DISPATCH_METHOD) {
      calls.push_back(L"call " + member->first + L"(" + args + L")");
    } else {
      calls.push_back(L"flags " + std::to_wstring(flags) + L" " + member->first);
      return DISP_E_MEMBERNOTFOUND;
    }
    Member& m = member->second;
    if (m.hr == DISP_E_EXCEPTION && exception) {
      exception->bstrSource = SysAllocString(L"Outlook");
      exception->bstrDescription = SysAllocString(L"The operation failed.");
    }
    if (FAILED(m.hr)) return m.hr;
    if (flags == DISPATCH_PROPERTYPUT) {
      m.value = Read(params->rgvarg[0]);
    } else if (result) {
      Write(m.value, result);
    }
    return m.hr;
  }

 private:
  struct Member {
    HRESULT hr = S_OK;
    Value value;
  };
  static Value Read(const VARIANT& v) {
    if (v.vt == VT_BSTR) {
      return v.bstrVal ? Value{VT_BSTR, std::wstring(v.bstrVal, SysStringLen(v.bstrVal))}
                       : NullStr();
    }
    return Num(v.vt, v.vt == VT_I4 ? v.lVal : v.vt == VT_BOOL ? v.boolVal : 0);
  }
  static void Write(const Value& value, VARIANT* out) {
    out->vt = value.vt;
    switch (value.vt) {
      case VT_BSTR:
        out->bstrVal = value.text ? SysAllocStringLen(value.text->data(),
                                                      static_cast<UINT>(value.text->size()))
                                  : nullptr;
        break;
      case VT_DISPATCH:
        out->pdispVal = value.object;
        if (value.object) value.object->AddRef();
        break;
      case VT_I4:
        out->lVal = static_cast<LONG>(value.number);
        break;
      case VT_I2:
        out->iVal = static_cast<SHORT>(value.number);
        break;
      case VT_DATE:
        out->date = value.number;
        break;
      case VT_BOOL:
        out->boolVal = value.number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
      default:
        out->vt = VT_EMPTY;
    }
  }

  std::wstring label_;
  LONG refs_ = 1;  // the test's own reference
  std::map<std::wstring, Member> members_;
  std::vector<IID> interfaces_;
};

std::wstring Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_BSTR:
      return v.bstrVal ? L"'" + std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) + L"'" : L"null";
    case VT_I4:
      return L"i4:" + std::to_wstring(v.lVal);
    case VT_BOOL:
      return L"bool:" + std::to_wstring(v.boolVal);
    case VT_DISPATCH:
      return v.pdispVal ? L"obj:" + static_cast<StandIn*>(v.pdispVal)->label() : L"obj:null";
    default:
      return L"vt:" + std::to_wstring(v.vt);
  }
}

// Counts the task-memory blocks (BSTRs among them) allocated and not freed
// while it is installed. The BSTR cache is switched off so that a freed
// BSTR really goes back to the task allocator. Installed once for the whole
// run (see Spy()): a spy cannot be revoked while blocks it saw are live.
class AllocationSpy : public IMallocSpy {
 public:
  AllocationSpy() {
    using NoCache = void(WINAPI*)(void);
    if (HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll")) {
      if (auto no_cache = reinterpret_cast<NoCache>(GetProcAddress(oleaut, "SetOaNoCache"))) {
        no_cache();
      }
    }
    installed_ = SUCCEEDED(CoRegisterMallocSpy(this));
  }
  bool installed() const { return installed_; }
  long outstanding() const { return outstanding_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
      *out = static_cast<IMallocSpy*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
  void* STDMETHODCALLTYPE PostAlloc(void* block) override {
    if (block) ++outstanding_;
    return block;
  }
  void* STDMETHODCALLTYPE PreFree(void* block, BOOL spied) override {
    if (block && spied) --outstanding_;
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

 private:
  bool installed_ = false;
  long outstanding_ = 0;
};

AllocationSpy& Spy() {
  static AllocationSpy* spy = new AllocationSpy();
  return *spy;
}

constexpr IID kMail = {0x00063034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kNote = {0x00063025, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kContact = {0x00063021, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr IID kAppointment = {0x00063033, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The caller of the library initialises COM on its thread.
class ComTest : public ::testing::Test {
 protected:
  ComTest() { initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  ~ComTest() override {
    if (initialised_) CoUninitialize();
  }
  bool initialised_ = false;
};

// --- Calls over stand-ins ---------------------------------------------------

// An application with one of everything below it.
class ComDispatchTest : public ComTest {
 protected:
  ComDispatchTest() {
    app_.Set(L"ActiveExplorer", Obj(&explorer_))
        .Set(L"Session", Obj(&mapi_))
        .Set(L"GetNamespace", Obj(&mapi_))
        .Set(L"CreateItem", Obj(&mail_))
        .Set(L"Quit", {});
    mapi_.Set(L"GetDefaultFolder", Obj(&inbox_))
        .Set(L"OpenSharedItem", Obj(&contact_))
        .Set(L"Logoff", {});
    inbox_.Set(L"Items", Obj(&items_));
    items_.Set(L"Count", Num(VT_I4, 3)).Set(L"Item", Obj(&mail_));
    mail_.Accept(kMail).Set(L"Attachments", Obj(&attachments_)).Set(L"Move", Obj(&moved_));
    for (StandIn* item : {&mail_, &moved_, &note_, &contact_, &appointment_}) {
      item->Set(L"EntryID", Str(L"00AB")).Set(L"Save", {}).Set(L"Delete", {});
      item->Set(L"SaveAs", {}).Set(L"Subject", Str(L"S"));
    }
    moved_.Accept(kMail).Set(L"EntryID", Str(L"00CD"));
    note_.Accept(kNote);
    contact_.Accept(kContact);
    appointment_.Accept(kAppointment);
    attachments_.Set(L"Count", Num(VT_I4, 1)).Set(L"Item", Obj(&attachment_)).Set(L"Add", {});
    attachment_.Set(L"FileName", Str(L"a.txt")).Set(L"SaveAsFile", {});
  }

  void TearDown() override {
    for (StandIn* o : {&app_, &explorer_, &mapi_, &inbox_, &items_, &mail_, &moved_, &note_,
                       &contact_, &appointment_, &attachments_, &attachment_}) {
      EXPECT_EQ(1, o->refs()) << "references left on " << o->label();
    }
    ASSERT_TRUE(Spy().installed());
    EXPECT_EQ(blocks_, Spy().outstanding()) << "task-memory blocks (BSTRs) not freed";
  }

  std::shared_ptr<outlook::Application> App() { return outlook::com::WrapApplication(&app_); }
  // The item of `object`, as a collection would hand it out.
  std::shared_ptr<outlook::Item> ItemOf(StandIn* object) {
    items_.Set(L"Item", Obj(object));
    std::shared_ptr<outlook::Item> item;
    std::shared_ptr<outlook::Namespace> mapi;
    std::shared_ptr<outlook::Folder> folder;
    std::shared_ptr<outlook::Items> items;
    EXPECT_TRUE(App()->Session(&mapi) && mapi->GetDefaultFolder(6, &folder) &&
                folder->GetItems(&items) && items->Item(1, &item) && item);
    return item;
  }
  std::shared_ptr<outlook::MailItem> Mail() { return ItemOf(&mail_)->QueryMail(); }

  StandIn app_{L"app"}, explorer_{L"explorer"}, mapi_{L"mapi"}, inbox_{L"inbox"}, items_{L"items"},
      mail_{L"mail"}, moved_{L"moved"}, note_{L"note"}, contact_{L"contact"},
      appointment_{L"appointment"}, attachments_{L"attachments"}, attachment_{L"attachment"};
  const long blocks_ = Spy().outstanding();
};

using Calls = std::vector<std::wstring>;

TEST_F(ComDispatchTest, WalksFromTheApplicationToAnItemWithTheRightCalls) {
  std::shared_ptr<outlook::Application> app = App();
  bool present = false;
  ASSERT_TRUE(app->ActiveExplorer(&present));
  EXPECT_TRUE(present);
  app_.Set(L"ActiveExplorer", Obj(nullptr));
  ASSERT_TRUE(app->ActiveExplorer(&present));
  EXPECT_FALSE(present);

  std::shared_ptr<outlook::Namespace> mapi;
  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> items;
  std::shared_ptr<outlook::Item> item;
  int32_t count = 0;
  ASSERT_TRUE(app->GetNamespace(u"MAPI", &mapi) && mapi);
  ASSERT_TRUE(mapi->GetDefaultFolder(outlook::kFolderCalendar, &folder) && folder);
  ASSERT_TRUE(folder->GetItems(&items) && items);
  ASSERT_TRUE(items->Count(&count));
  EXPECT_EQ(3, count);
  ASSERT_TRUE(items->Item(2, &item) && item);
  EXPECT_EQ(
      Calls({L"call ActiveExplorer()", L"call ActiveExplorer()", L"call GetNamespace('MAPI')"}),
      app_.calls);
  EXPECT_EQ(Calls({L"call GetDefaultFolder(i4:9)"}), mapi_.calls);
  EXPECT_EQ(Calls({L"get Items"}), inbox_.calls);
  EXPECT_EQ(Calls({L"get Count", L"call Item(i4:2)"}), items_.calls);

  // The class of an item is the interface it answers to.
  EXPECT_TRUE(item->QueryMail());
  EXPECT_FALSE(item->QueryNote() || item->QueryContact() || item->QueryAppointment());
  std::shared_ptr<outlook::Item> created, opened;
  ASSERT_TRUE(app->CreateItem(outlook::kNoteItem, &created));
  EXPECT_EQ(L"call CreateItem(i4:5)", app_.calls.back());
  ASSERT_TRUE(mapi->OpenSharedItem(u"C:\\t\\a.vcf", &opened) && opened);
  EXPECT_EQ(L"call OpenSharedItem('C:\\t\\a.vcf')", mapi_.calls.back());
  EXPECT_TRUE(opened->QueryContact());
  EXPECT_FALSE(opened->QueryMail());

  // A call that gives no object succeeds with null.
  app_.Set(L"Session", {});
  mapi.reset();
  ASSERT_TRUE(app->Session(&mapi));
  EXPECT_FALSE(mapi);
}

TEST_F(ComDispatchTest, StringsKeepNullApartFromEmpty) {
  const std::pair<Value, OptString> cases[] = {
      {Str(L"Ann Lee"), u"Ann Lee"},
      {Str(L""), u""},
      {NullStr(), std::nullopt},
      {Value{}, std::nullopt},
      {Str(std::wstring(L"a\0b", 3)), std::u16string(u"a\0b", 3)},
      {Num(VT_I4, 42), u"42"},
  };
  std::shared_ptr<outlook::MailItem> mail = Mail();
  std::shared_ptr<outlook::NoteItem> note = ItemOf(&note_)->QueryNote();
  std::shared_ptr<outlook::ContactItem> contact = ItemOf(&contact_)->QueryContact();
  std::shared_ptr<outlook::AppointmentItem> appointment = ItemOf(&appointment_)->QueryAppointment();
  std::shared_ptr<outlook::Attachments> attachments;
  std::shared_ptr<outlook::Attachment> attachment;
  ASSERT_TRUE(mail->GetAttachments(&attachments) && attachments->Item(1, &attachment));
  const std::vector<std::tuple<StandIn*, const wchar_t*, std::function<bool(OptString*)>>> getters =
      {
          {&mail_, L"SenderName", [&](OptString* v) { return mail->SenderName(v); }},
          {&mail_, L"SentOnBehalfOfName",
           [&](OptString* v) { return mail->SentOnBehalfOfName(v); }},
          {&mail_, L"To", [&](OptString* v) { return mail->To(v); }},
          {&mail_, L"CC", [&](OptString* v) { return mail->CC(v); }},
          {&mail_, L"Subject", [&](OptString* v) { return mail->Subject(v); }},
          {&mail_, L"HTMLBody", [&](OptString* v) { return mail->HTMLBody(v); }},
          {&mail_, L"EntryID", [&](OptString* v) { return mail->EntryID(v); }},
          {&note_, L"Body", [&](OptString* v) { return note->Body(v); }},
          {&contact_, L"FullName", [&](OptString* v) { return contact->FullName(v); }},
          {&appointment_, L"Subject", [&](OptString* v) { return appointment->Subject(v); }},
          {&attachment_, L"FileName", [&](OptString* v) { return attachment->FileName(v); }},
      };
  for (const auto& [object, name, get] : getters) {
    for (const auto& [value, expected] : cases) {
      object->Set(name, value);
      OptString got = u"unset";
      EXPECT_TRUE(get(&got)) << name;
      EXPECT_EQ(expected, got) << name;
      EXPECT_EQ(L"get " + std::wstring(name), object->calls.back());
    }
    // A value that is no string is refused and the out-value kept.
    object->Set(name, Obj(&explorer_));
    OptString kept = u"kept";
    EXPECT_FALSE(get(&kept)) << name;
    EXPECT_EQ(u"kept", kept);
  }
}

TEST_F(ComDispatchTest, NumbersDatesAndFlagsAreReadAsTheirTypes) {
  std::shared_ptr<outlook::MailItem> mail = Mail();
  mail_.Set(L"SentOn", Num(VT_DATE, 45000.75)).Set(L"Importance", Num(VT_I4, 2));
  double date = 0;
  int32_t importance = 0;
  ASSERT_TRUE(mail->SentOn(&date) && mail->Importance(&importance));
  EXPECT_EQ(45000.75, date);
  EXPECT_EQ(2, importance);
  mail_.Set(L"Importance", Num(VT_I2, 1));
  ASSERT_TRUE(mail->Importance(&importance));
  EXPECT_EQ(1, importance);
  for (bool flag : {true, false}) {
    mail_.Set(L"UnRead", Num(VT_BOOL, flag));
    bool unread = !flag;
    ASSERT_TRUE(mail->UnRead(&unread));
    EXPECT_EQ(flag, unread);
  }
  // No value, or one of no such type: refused, out-values kept.
  mail_.Set(L"Importance", {}).Set(L"SentOn", Str(L"not a date")).Set(L"UnRead", Obj(&explorer_));
  bool unread = true;
  EXPECT_FALSE(mail->Importance(&importance) || mail->SentOn(&date) || mail->UnRead(&unread));
  EXPECT_EQ(1, importance);
  EXPECT_EQ(45000.75, date);
  EXPECT_TRUE(unread);
}

TEST_F(ComDispatchTest, PutsAndMethodsPassTheirArgumentsInOrder) {
  std::shared_ptr<outlook::MailItem> mail = Mail();
  for (const wchar_t* name : {L"To", L"CC", L"SentOnBehalfOfName", L"HTMLBody", L"Importance",
                              L"UnRead", L"BodyFormat"}) {
    mail_.Set(name, {});
  }
  ASSERT_TRUE(mail->PutSubject(u"Re: x") && mail->PutTo(u"") && mail->PutCC(u"c@x") &&
              mail->PutSentOnBehalfOfName(u"B") && mail->PutHTMLBody(u"<p/>") &&
              mail->PutImportance(2) && mail->PutUnRead(true) && mail->PutUnRead(false) &&
              mail->PutBodyFormat(outlook::kBodyFormatHtml) && mail->Save() && mail->Delete());
  EXPECT_EQ(
      Calls({L"put Subject='Re: x'", L"put To=''", L"put CC='c@x'", L"put SentOnBehalfOfName='B'",
             L"put HTMLBody='<p/>'", L"put Importance=i4:2", L"put UnRead=bool:-1",
             L"put UnRead=bool:0", L"put BodyFormat=i4:2", L"call Save()", L"call Delete()"}),
      mail_.calls);

  std::shared_ptr<outlook::Attachments> attachments;
  std::shared_ptr<outlook::Attachment> attachment;
  int32_t count = 0;
  ASSERT_TRUE(mail->GetAttachments(&attachments) && attachments->Count(&count) &&
              attachments->Item(1, &attachment) && attachment);
  ASSERT_TRUE(attachments->Add(u"C:\\t\\a.bin", outlook::kAttachByValue, 3, u"a.bin"));
  ASSERT_TRUE(attachment->SaveAsFile(u"C:\\t\\out.bin"));
  EXPECT_EQ(
      Calls({L"get Count", L"call Item(i4:1)", L"call Add('C:\\t\\a.bin', i4:1, i4:3, 'a.bin')"}),
      attachments_.calls);
  EXPECT_EQ(Calls({L"call SaveAsFile('C:\\t\\out.bin')"}), attachment_.calls);

  note_.Set(L"Body", {});
  appointment_.Set(L"AllDayEvent", {});
  ASSERT_TRUE(ItemOf(&note_)->QueryNote()->PutBody(u"line\r\n"));
  ASSERT_TRUE(ItemOf(&contact_)->QueryContact()->SaveAs(u"c.vcf", outlook::kSaveAsVCard));
  std::shared_ptr<outlook::AppointmentItem> appointment = ItemOf(&appointment_)->QueryAppointment();
  ASSERT_TRUE(appointment->PutAllDayEvent(true) &&
              appointment->SaveAs(u"e.ics", outlook::kSaveAsICalendar));
  EXPECT_EQ(Calls({L"put Body='line\r\n'"}), note_.calls);
  EXPECT_EQ(Calls({L"call SaveAs('c.vcf', i4:6)"}), contact_.calls);
  EXPECT_EQ(Calls({L"put AllDayEvent=bool:-1", L"call SaveAs('e.ics', i4:8)"}), appointment_.calls);

  std::shared_ptr<outlook::Namespace> mapi;
  ASSERT_TRUE(App()->Session(&mapi) && mapi->Logoff() && App()->Quit());
  EXPECT_EQ(L"call Logoff()", mapi_.calls.back());
  EXPECT_EQ(L"call Quit()", app_.calls.back());
}

// A folder of some other backend.
class ForeignFolder : public outlook::Folder {
 public:
  bool GetItems(std::shared_ptr<outlook::Items>*) override { return false; }
};

TEST_F(ComDispatchTest, MoveHandsOverTheFolderAndGivesTheMovedMail) {
  std::shared_ptr<outlook::MailItem> mail = Mail();
  std::shared_ptr<outlook::Namespace> mapi;
  std::shared_ptr<outlook::Folder> inbox;
  ASSERT_TRUE(App()->Session(&mapi) && mapi->GetDefaultFolder(outlook::kFolderInbox, &inbox));
  std::shared_ptr<outlook::MailItem> moved;
  ASSERT_TRUE(mail->Move(inbox, &moved) && moved);
  EXPECT_EQ(L"call Move(obj:inbox)", mail_.calls.back());
  OptString entry_id;
  ASSERT_TRUE(moved->EntryID(&entry_id));
  EXPECT_EQ(u"00CD", entry_id);

  // A result that is no mail is no moved mail.
  mail_.Set(L"Move", Obj(&note_));
  ASSERT_TRUE(mail->Move(inbox, &moved));
  EXPECT_FALSE(moved);
  // A folder the store does not know, or none, is not handed to it.
  const size_t calls = mail_.calls.size();
  EXPECT_FALSE(mail->Move(std::make_shared<ForeignFolder>(), &moved));
  EXPECT_FALSE(mail->Move(nullptr, &moved));
  EXPECT_EQ(calls, mail_.calls.size());
}

TEST_F(ComDispatchTest, AFailedCallReportsFalseAndLeavesOutValuesAlone) {
  std::shared_ptr<outlook::Application> app = App();
  std::shared_ptr<outlook::MailItem> mail = Mail();
  std::shared_ptr<outlook::Namespace> mapi;
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::Items> items;
  ASSERT_TRUE(app->Session(&mapi) && mapi->GetDefaultFolder(6, &inbox) && inbox->GetItems(&items));
  for (HRESULT hr : {E_FAIL, DISP_E_EXCEPTION, HRESULT(0x80040108)}) {
    for (const wchar_t* name : {L"Subject", L"Importance", L"Attachments", L"Save", L"Move"}) {
      mail_.Fail(name, hr);
    }
    for (const wchar_t* name : {L"Session", L"CreateItem", L"ActiveExplorer"}) app_.Fail(name, hr);
    items_.Fail(L"Count", hr);
    OptString subject = u"kept";
    int32_t importance = 7, count = 5;
    std::shared_ptr<outlook::Attachments> attachments;
    std::shared_ptr<outlook::MailItem> moved = mail;
    std::shared_ptr<outlook::Namespace> session;
    std::shared_ptr<outlook::Item> created;
    bool present = true;
    EXPECT_FALSE(mail->Subject(&subject) || mail->PutSubject(u"x") ||
                 mail->Importance(&importance) || mail->GetAttachments(&attachments) ||
                 mail->Save() || mail->Move(inbox, &moved));
    EXPECT_FALSE(app->Session(&session) || app->CreateItem(0, &created) ||
                 app->ActiveExplorer(&present) || items->Count(&count));
    EXPECT_EQ(u"kept", subject);
    EXPECT_EQ(7, importance);
    EXPECT_EQ(5, count);
    EXPECT_TRUE(present);
    EXPECT_EQ(mail, moved);
    EXPECT_EQ(L"call Move(obj:inbox)", mail_.calls.back());
  }
  // A member the object does not have.
  app_.Fail(L"Session", S_OK);
  EXPECT_FALSE(ItemOf(&note_)->QueryNote()->PutBody(u"x"));
}

// --- Connecting -------------------------------------------------------------

// A class factory registered in this process for a made-up class.
class Factory : public IClassFactory {
 public:
  HRESULT result = S_OK;
  IDispatch* object = nullptr;
  IID asked = IID_NULL;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
    asked = iid;
    *out = object;
    if (object) object->AddRef();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// {6F1C2B7E-4D1A-4C55-9E21-3A7B0C9D8E10}
constexpr CLSID kMadeUpClass = {
    0x6f1c2b7e, 0x4d1a, 0x4c55, {0x9e, 0x21, 0x3a, 0x7b, 0x0c, 0x9d, 0x8e, 0x10}};

TEST_F(ComTest, ConnectReportsNotRegisteredWhereOutlookIsMissing) {
  CLSID clsid;
  if (CLSIDFromProgID(L"Outlook.Application", &clsid) == S_OK) GTEST_SKIP() << "Outlook present";
  std::shared_ptr<outlook::Application> application;
  EXPECT_EQ(ConnectResult::kNotRegistered, outlook::ObjectModel::Default().Connect(&application));
  EXPECT_FALSE(application);
}

TEST_F(ComTest, CreatingTheApplicationTellsItsOutcomesApart) {
  ASSERT_TRUE(initialised_);
  Factory factory;
  StandIn app(L"app");
  DWORD cookie = 0;
  ASSERT_EQ(S_OK, CoRegisterClassObject(kMadeUpClass, &factory, CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie));
  const struct {
    HRESULT hr;
    IDispatch* object;
    ConnectResult expected;
  } cases[] = {
      {E_OUTOFMEMORY, nullptr, ConnectResult::kCreationFailed},
      {S_OK, nullptr, ConnectResult::kNoObject},
      {S_OK, &app, ConnectResult::kOk},
  };
  for (const auto& c : cases) {
    factory.result = c.hr;
    factory.object = c.object;
    std::shared_ptr<outlook::Application> application;
    EXPECT_EQ(c.expected, outlook::com::CreateApplication(kMadeUpClass, &application));
    EXPECT_EQ(c.expected == ConnectResult::kOk, application != nullptr);
    EXPECT_TRUE(IsEqualIID(outlook::com::kIidApplication, factory.asked));
    if (application) {
      app.Set(L"Quit", {});
      EXPECT_TRUE(application->Quit());
      EXPECT_EQ(Calls({L"call Quit()"}), app.calls);
    }
  }
  CoRevokeClassObject(cookie);
  EXPECT_EQ(1, app.refs());
}

// The record exports with the platform's own backend, where Outlook is not
// registered: nothing is delivered, and what the service handed over stays
// for a retry.
class ComExportsTest : public LibraryTest {
 protected:
  ComExportsTest() { initialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  ~ComExportsTest() override {
    if (initialised_) CoUninitialize();
  }
  std::filesystem::path Temp(const std::string& name) const {
    return scratch_.path() / "temp" / name;
  }
  WString Received(const std::string& name) {
    std::ofstream(Temp(name), std::ios::binary) << "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n";
    return ToWide(Temp(name));
  }
  bool initialised_ = false;
};

TEST_F(ComExportsTest, WithoutOutlookTheRecordExportsFailAndKeepTheirInput) {
  CLSID clsid;
  if (CLSIDFromProgID(L"Outlook.Application", &clsid) == S_OK) GTEST_SKIP() << "Outlook present";
  ASSERT_EQ(1, ::SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
  _SYNCML_SYNCANCHOR_RECORD anchor{};
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(0xA1B2C3D4E5F6ull, anchor));
  const Bytes record = Concat({Bytes{0, 0, 0, 0}, DeviceRecordBytes(2, u"E1", u"L1")});
  WriteBytes(InSync("dev_db.DAT"), record);
  WriteBytes(InSync("SyncModificationLog.DAT"), LogRecordBytes(2, 0, u"E1"));

  ZS_WCHAR entry[260] = {0}, luid[260] = {0}, path[260] = {0};
  EXPECT_EQ(0, ::GetNewRecord(SYNC_OBJECT_CONTACT, entry, path));
  EXPECT_EQ(0, ::SyncMLGetNewRecord(SYNC_OBJECT_NOTE, entry, path));
  EXPECT_EQ(0, ::GetModifiedRecord(SYNC_OBJECT_CONTACT, entry, luid, path));
  EXPECT_EQ(0, ::CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L2"), W(Received("a.vcf"))));
  EXPECT_EQ(0, ::SyncMLCreateNewRecord(SYNC_OBJECT_CONTACT, W(Received("b.vcf")), W(u"L3")));
  EXPECT_EQ(0, ::UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("c.vcf"))));
  EXPECT_EQ(0, ::DeleteRecord(SYNC_OBJECT_CONTACT, W(u"L1")));
  for (const char* name : {"a.vcf", "b.vcf", "c.vcf"}) EXPECT_TRUE(Exists(Temp(name))) << name;
  EXPECT_EQ(record, ReadBytes(InSync("dev_db.DAT")));
  EXPECT_EQ(LogRecordBytes(2, 0, u"E1"), ReadBytes(InSync("SyncModificationLog.DAT")));
  EXPECT_EQ(0, entry[0] | luid[0] | path[0]);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
