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

#include <algorithm>
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
using Calls = std::vector<std::wstring>;

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
// A BSTR; nullopt is a null BSTR.
Value Str(std::optional<std::wstring> text) {
  return [text](VARIANT* out) {
    out->vt = VT_BSTR;
    out->bstrVal =
        text ? SysAllocStringLen(text->data(), static_cast<UINT>(text->size())) : nullptr;
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
    if (object) object->AddRef();
  };
}

// An automation object with a table of members, answering to `iid` besides
// IDispatch. Invoke records each call as "get Name", "call Name(args)" or
// "put Name=arg" (arguments in the order of the signature) and answers with
// the member's HRESULT and value. Its references are counted and it is never
// deleted by Release, so an extra Release shows as a count below 1. A name
// has the same DISPID on every stand-in, as a member has on every object of
// an interface, until Renumber gives it another.
class StandIn : public IDispatch {
 public:
  explicit StandIn(std::wstring name, IID iid = IID_NULL) : label(std::move(name)), iid_(iid) {}
  virtual ~StandIn() = default;

  // Set(name, value, name, value, ...)
  template <class... More>
  StandIn& Set(const std::wstring& name, Value value, More... more) {
    members_[name].value = std::move(value);
    if constexpr (sizeof...(more) > 0) Set(more...);
    return *this;
  }
  // Members that give no value.
  StandIn& Has(std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* name : names) members_[name];
    return *this;
  }
  void Fail(const std::wstring& name, HRESULT hr) { members_[name].hr = hr; }
  LONG refs() const { return refs_; }
  static void Renumber(const std::wstring& name) { Ids()[name] = ++LastId(); }
  const std::wstring label;
  std::vector<std::wstring> calls;
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
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    ++lookups;
    auto found = count == 1 ? members_.find(names[0]) : members_.end();
    if (found == members_.end()) return DISP_E_UNKNOWNNAME;
    if (!Ids().count(found->first)) Renumber(found->first);
    ids[0] = Ids()[found->first];
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    auto named = std::find_if(Ids().begin(), Ids().end(),
                              [id](const auto& entry) { return entry.second == id; });
    auto found = named == Ids().end() ? members_.end() : members_.find(named->first);
    if (found == members_.end()) return DISP_E_MEMBERNOTFOUND;
    auto& [name, member] = *found;
    std::wstring args;
    for (UINT i = params->cArgs; i-- > 0;) args += Describe(params->rgvarg[i]) + (i ? L", " : L"");
    if (flags == DISPATCH_PROPERTYPUT) {
      const bool named = params->cNamedArgs == 1 &&
                         params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT && params->cArgs == 1;
      calls.push_back(L"put " + name + L"=" + args + (named ? L"" : L" (unnamed)"));
      if (!named) return DISP_E_PARAMNOTFOUND;
    } else if (flags == DISPATCH_PROPERTYGET && params->cArgs == 0) {
      calls.push_back(L"get " + name);
    } else if (flags == DISPATCH_METHOD) {
      calls.push_back(L"call " + name + L"(" + args + L")");
    } else {
      calls.push_back(L"flags " + std::to_wstring(flags) + L" " + name);
      return DISP_E_MEMBERNOTFOUND;
    }
    if (member.hr == DISP_E_EXCEPTION && exception) {
      exception->bstrSource = SysAllocString(L"Outlook");
      exception->bstrDescription = SysAllocString(L"The operation failed.");
    }
    if (SUCCEEDED(member.hr) && result && member.value && flags != DISPATCH_PROPERTYPUT) {
      member.value(result);
    }
    return member.hr;
  }

 private:
  struct Member {
    HRESULT hr = S_OK;
    Value value;
  };
  static std::wstring Describe(const VARIANT& v) {
    if (v.vt == VT_I4) return L"i4:" + std::to_wstring(v.lVal);
    if (v.vt == VT_BOOL) return L"bool:" + std::to_wstring(v.boolVal);
    if (v.vt == VT_DISPATCH) {
      return L"obj:" + (v.pdispVal ? static_cast<StandIn*>(v.pdispVal)->label : L"null");
    }
    if (v.vt != VT_BSTR) return L"vt:" + std::to_wstring(v.vt);
    return v.bstrVal ? L"'" + std::wstring(v.bstrVal, SysStringLen(v.bstrVal)) + L"'" : L"null";
  }

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
  std::map<std::wstring, Member> members_;
};

// Counts the task-memory blocks (BSTRs among them) allocated and not freed
// while it is installed. The BSTR cache is switched off so that a freed BSTR
// really goes back to the task allocator. Installed once for the whole run
// (see Spy()): a spy cannot be revoked while blocks it saw are live.
struct AllocationSpy : Unowned<IMallocSpy> {
  AllocationSpy() {
    if (HMODULE oleaut = GetModuleHandleW(L"oleaut32.dll")) {
      using NoCache = void(WINAPI*)();
      if (auto no_cache = reinterpret_cast<NoCache>(GetProcAddress(oleaut, "SetOaNoCache"))) {
        no_cache();
      }
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

constexpr IID OutlookIid(unsigned long id) { return {id, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}; }

// An application with one of everything below it. At the end every stand-in
// holds only the test's reference and every BSTR is freed.
class ComTest : public ::testing::Test {
 protected:
  ComTest() {
    app_.Set(L"ActiveExplorer", Obj(&explorer_), L"Session", Obj(&mapi_), L"GetNamespace",
             Obj(&mapi_), L"CreateItem", Obj(&mail_))
        .Has({L"Quit"});
    mapi_.Set(L"GetDefaultFolder", Obj(&inbox_), L"OpenSharedItem", Obj(&contact_))
        .Has({L"Logoff"});
    inbox_.Set(L"Items", Obj(&items_));
    items_.Set(L"Count", Num(VT_I4, 3), L"Item", Obj(&mail_));
    for (StandIn* item : {&mail_, &moved_, &note_, &contact_, &appointment_}) {
      item->Set(L"EntryID", Str(L"00AB"), L"Subject", Str(L"S"))
          .Has({L"Save", L"Delete", L"SaveAs"});
    }
    mail_.Set(L"Attachments", Obj(&attachments_), L"Move", Obj(&moved_));
    moved_.Set(L"EntryID", Str(L"00CD"));
    attachments_.Set(L"Count", Num(VT_I4, 1), L"Item", Obj(&attachment_)).Has({L"Add"});
    attachment_.Set(L"FileName", Str(L"a.txt")).Has({L"SaveAsFile"});
  }

  void TearDown() override {
    for (StandIn* o : {&app_, &explorer_, &mapi_, &inbox_, &items_, &mail_, &moved_, &note_,
                       &contact_, &appointment_, &attachments_, &attachment_}) {
      EXPECT_EQ(1, o->refs()) << "references left on " << o->label;
    }
    ASSERT_TRUE(Spy().installed);
    EXPECT_EQ(blocks_, Spy().outstanding) << "task-memory blocks (BSTRs) not freed";
  }

  std::shared_ptr<outlook::Application> App() { return outlook::com::WrapApplication(&app_); }
  std::shared_ptr<outlook::Namespace> Mapi() {
    std::shared_ptr<outlook::Namespace> mapi;
    EXPECT_TRUE(App()->Session(&mapi) && mapi);
    return mapi;
  }
  // The item of `object`, as a collection would hand it out.
  std::shared_ptr<outlook::Item> ItemOf(StandIn* object) {
    items_.Set(L"Item", Obj(object));
    std::shared_ptr<outlook::Item> item;
    std::shared_ptr<outlook::Folder> folder;
    std::shared_ptr<outlook::Items> items;
    EXPECT_TRUE(Mapi()->GetDefaultFolder(6, &folder) && folder->GetItems(&items) &&
                items->Item(1, &item) && item);
    return item;
  }
  std::shared_ptr<outlook::MailItem> Mail() { return ItemOf(&mail_)->QueryMail(); }

  ComInit com_;
  StandIn app_{L"app", outlook::com::kIidApplication}, explorer_{L"explorer"}, mapi_{L"mapi"}, inbox_{L"inbox"}, items_{L"items"},
      mail_{L"mail", OutlookIid(0x63034)}, moved_{L"moved", OutlookIid(0x63034)},
      note_{L"note", OutlookIid(0x63025)}, contact_{L"contact", OutlookIid(0x63021)},
      appointment_{L"appointment", OutlookIid(0x63033)}, attachments_{L"attachments"},
      attachment_{L"attachment"};
  const long blocks_ = Spy().outstanding;
};

TEST_F(ComTest, WalksFromTheApplicationToAnItemWithTheRightCalls) {
  std::shared_ptr<outlook::Application> app = App();
  for (bool shown : {true, false}) {
    app_.Set(L"ActiveExplorer", Obj(shown ? &explorer_ : nullptr));
    bool present = !shown;
    ASSERT_TRUE(app->ActiveExplorer(&present));
    EXPECT_EQ(shown, present);
  }
  std::shared_ptr<outlook::Namespace> mapi;
  std::shared_ptr<outlook::Folder> folder;
  std::shared_ptr<outlook::Items> items;
  std::shared_ptr<outlook::Item> item, created, opened;
  int32_t count = 0;
  ASSERT_TRUE(app->GetNamespace(u"MAPI", &mapi) && mapi &&
              mapi->GetDefaultFolder(outlook::kFolderCalendar, &folder) && folder &&
              folder->GetItems(&items) && items && items->Count(&count) && items->Item(2, &item) &&
              item);
  EXPECT_EQ(3, count);
  // The class of an item is the interface it answers to.
  EXPECT_TRUE(item->QueryMail());
  EXPECT_FALSE(item->QueryNote() || item->QueryContact() || item->QueryAppointment());
  ASSERT_TRUE(app->CreateItem(outlook::kNoteItem, &created));
  ASSERT_TRUE(mapi->OpenSharedItem(u"C:\\t\\a.vcf", &opened) && opened);
  EXPECT_TRUE(opened->QueryContact());
  EXPECT_FALSE(opened->QueryMail());
  EXPECT_EQ(Calls({L"call ActiveExplorer()", L"call ActiveExplorer()", L"call GetNamespace('MAPI')",
                   L"call CreateItem(i4:5)"}),
            app_.calls);
  EXPECT_EQ(Calls({L"call GetDefaultFolder(i4:9)", L"call OpenSharedItem('C:\\t\\a.vcf')"}),
            mapi_.calls);
  EXPECT_EQ(Calls({L"get Items"}), inbox_.calls);
  EXPECT_EQ(Calls({L"get Count", L"call Item(i4:2)"}), items_.calls);

  // A call that gives no object succeeds with null.
  app_.Set(L"Session", {});
  ASSERT_TRUE(app->Session(&mapi));
  EXPECT_FALSE(mapi);
}

TEST_F(ComTest, StringsKeepNullApartFromEmpty) {
  const std::pair<Value, OptString> cases[] = {
      {Str(L"Ann Lee"), u"Ann Lee"},
      {Str(L""), u""},
      {Str(std::nullopt), std::nullopt},
      {Value(), std::nullopt},
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
  const std::tuple<StandIn*, const wchar_t*, std::function<bool(OptString*)>> getters[] = {
      {&mail_, L"SenderName", [&](OptString* v) { return mail->SenderName(v); }},
      {&mail_, L"SentOnBehalfOfName", [&](OptString* v) { return mail->SentOnBehalfOfName(v); }},
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

TEST_F(ComTest, NumbersDatesAndFlagsAreReadAsTheirTypes) {
  std::shared_ptr<outlook::MailItem> mail = Mail();
  mail_.Set(L"SentOn", Num(VT_DATE, 45000.75), L"Importance", Num(VT_I4, 2));
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
  mail_.Set(L"Importance", Value(), L"SentOn", Str(L"not a date"), L"UnRead", Obj(&explorer_));
  bool unread = true;
  EXPECT_FALSE(mail->Importance(&importance) || mail->SentOn(&date) || mail->UnRead(&unread));
  EXPECT_EQ(1, importance);
  EXPECT_EQ(45000.75, date);
  EXPECT_TRUE(unread);
}

TEST_F(ComTest, PutsAndMethodsPassTheirArgumentsInOrder) {
  std::shared_ptr<outlook::MailItem> mail = Mail();
  mail_.Has(
      {L"To", L"CC", L"SentOnBehalfOfName", L"HTMLBody", L"Importance", L"UnRead", L"BodyFormat"});
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
              attachments->Item(1, &attachment) && attachment &&
              attachments->Add(u"C:\\t\\a.bin", outlook::kAttachByValue, 3, u"a.bin") &&
              attachment->SaveAsFile(u"C:\\t\\out.bin"));
  EXPECT_EQ(
      Calls({L"get Count", L"call Item(i4:1)", L"call Add('C:\\t\\a.bin', i4:1, i4:3, 'a.bin')"}),
      attachments_.calls);
  EXPECT_EQ(Calls({L"call SaveAsFile('C:\\t\\out.bin')"}), attachment_.calls);

  note_.Has({L"Body"});
  appointment_.Has({L"AllDayEvent"});
  std::shared_ptr<outlook::AppointmentItem> appointment = ItemOf(&appointment_)->QueryAppointment();
  ASSERT_TRUE(ItemOf(&note_)->QueryNote()->PutBody(u"line\r\n") &&
              ItemOf(&contact_)->QueryContact()->SaveAs(u"c.vcf", outlook::kSaveAsVCard) &&
              appointment->PutAllDayEvent(true) &&
              appointment->SaveAs(u"e.ics", outlook::kSaveAsICalendar) && Mapi()->Logoff() &&
              App()->Quit());
  EXPECT_EQ(Calls({L"put Body='line\r\n'"}), note_.calls);
  EXPECT_EQ(Calls({L"call SaveAs('c.vcf', i4:6)"}), contact_.calls);
  EXPECT_EQ(Calls({L"put AllDayEvent=bool:-1", L"call SaveAs('e.ics', i4:8)"}), appointment_.calls);
  EXPECT_EQ(L"call Logoff()", mapi_.calls.back());
  EXPECT_EQ(L"call Quit()", app_.calls.back());
}

TEST_F(ComTest, LooksUpEachMemberOncePerInterface) {
  std::shared_ptr<outlook::MailItem> mail = Mail(), other = ItemOf(&moved_)->QueryMail();
  std::shared_ptr<outlook::AppointmentItem> appointment = ItemOf(&appointment_)->QueryAppointment();
  OptString subject;
  ASSERT_TRUE(mail->Subject(&subject) && appointment->Subject(&subject));
  const int before = mail_.lookups + moved_.lookups + appointment_.lookups;
  ASSERT_TRUE(mail->Subject(&subject) && other->Subject(&subject) && mail->PutSubject(u"x") &&
              appointment->Subject(&subject));
  EXPECT_EQ(before, mail_.lookups + moved_.lookups + appointment_.lookups);
  EXPECT_EQ(u"S", subject);

  // A remembered DISPID that the object no longer knows is asked for again
  // by name, and the call goes through.
  StandIn::Renumber(L"Subject");
  subject.reset();
  ASSERT_TRUE(other->Subject(&subject));
  EXPECT_EQ(u"S", subject);
  EXPECT_EQ(before + 1, mail_.lookups + moved_.lookups + appointment_.lookups);
  EXPECT_EQ(Calls({L"get Subject", L"get Subject"}), moved_.calls);
}

// A folder of some other backend.
class ForeignFolder : public outlook::Folder {
 public:
  bool GetItems(std::shared_ptr<outlook::Items>*) override { return false; }
};

TEST_F(ComTest, MoveHandsOverTheFolderAndGivesTheMovedMail) {
  std::shared_ptr<outlook::MailItem> mail = Mail(), moved;
  std::shared_ptr<outlook::Folder> inbox;
  OptString entry_id;
  ASSERT_TRUE(Mapi()->GetDefaultFolder(outlook::kFolderInbox, &inbox) &&
              mail->Move(inbox, &moved) && moved && moved->EntryID(&entry_id));
  EXPECT_EQ(L"call Move(obj:inbox)", mail_.calls.back());
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

TEST_F(ComTest, AFailedCallReportsFalseAndLeavesOutValuesAlone) {
  std::shared_ptr<outlook::Application> app = App();
  std::shared_ptr<outlook::MailItem> mail = Mail();
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::Items> items;
  ASSERT_TRUE(Mapi()->GetDefaultFolder(6, &inbox) && inbox->GetItems(&items));
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
struct Factory : Unowned<IClassFactory> {
  HRESULT result = S_OK;
  IDispatch* object = nullptr;
  IID asked = IID_NULL;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override {
    asked = iid;
    *out = object;
    if (object) object->AddRef();
    return result;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST_F(ComTest, CreatingTheApplicationTellsItsOutcomesApart) {
  ASSERT_TRUE(com_.ok);
  // {6F1C2B7E-4D1A-4C55-9E21-3A7B0C9D8E10}
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
    EXPECT_EQ(expected == ConnectResult::kOk, application != nullptr);
    EXPECT_TRUE(IsEqualIID(outlook::com::kIidApplication, factory.asked));
    EXPECT_TRUE(!application || (application->StartedByConnect() && application->Quit()));
  }
  EXPECT_EQ(Calls({L"call Quit()"}), app_.calls);

  // An instance in the running object table is the user's: it is used, not
  // created, and not counted as started here.
  DWORD running = 0;
  ASSERT_EQ(S_OK, RegisterActiveObject(&app_, kMadeUpClass, ACTIVEOBJECT_STRONG, &running));
  factory.asked = IID_NULL;
  std::shared_ptr<outlook::Application> application;
  EXPECT_EQ(ConnectResult::kOk, outlook::com::CreateApplication(kMadeUpClass, &application));
  EXPECT_TRUE(application && !application->StartedByConnect());
  EXPECT_TRUE(IsEqualIID(IID_NULL, factory.asked));
  application.reset();
  RevokeActiveObject(running, nullptr);
  CoRevokeClassObject(cookie);
}

// The platform's own backend where Outlook is not registered: connecting
// tells so, and the record exports deliver nothing and keep what the
// service handed over for a retry.
class ComExportsTest : public LibraryTest {
 protected:
  ComInit com_;
};

TEST_F(ComExportsTest, WithoutOutlookTheRecordExportsFailAndKeepTheirInput) {
  CLSID clsid;
  if (CLSIDFromProgID(L"Outlook.Application", &clsid) == S_OK) GTEST_SKIP() << "Outlook present";
  std::shared_ptr<outlook::Application> application;
  EXPECT_EQ(ConnectResult::kNotRegistered, outlook::ObjectModel::Default().Connect(&application));
  EXPECT_FALSE(application);

  ASSERT_EQ(1, ::SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
  _SYNCML_SYNCANCHOR_RECORD anchor{};
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(0xA1B2C3D4E5F6ull, anchor));
  const Bytes record = Concat({Bytes{0, 0, 0, 0}, DeviceRecordBytes(2, u"E1", u"L1")});
  WriteBytes(InSync("dev_db.DAT"), record);
  WriteBytes(InSync("SyncModificationLog.DAT"), LogRecordBytes(2, 0, u"E1"));
  const std::filesystem::path received = scratch_.path() / "temp" / "a.vcf";
  std::ofstream(received, std::ios::binary) << "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n";
  const WString file = ToWide(received);

  ZS_WCHAR entry[260] = {0}, luid[260] = {0}, path[260] = {0};
  EXPECT_EQ(0, ::GetNewRecord(SYNC_OBJECT_CONTACT, entry, path));
  EXPECT_EQ(0, ::SyncMLGetNewRecord(SYNC_OBJECT_NOTE, entry, path));
  EXPECT_EQ(0, ::GetModifiedRecord(SYNC_OBJECT_CONTACT, entry, luid, path));
  EXPECT_EQ(0, ::CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L2"), W(file)));
  EXPECT_EQ(0, ::SyncMLCreateNewRecord(SYNC_OBJECT_CONTACT, W(file), W(u"L3")));
  EXPECT_EQ(0, ::UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(file)));
  EXPECT_EQ(0, ::DeleteRecord(SYNC_OBJECT_CONTACT, W(u"L1")));
  EXPECT_TRUE(Exists(received));
  EXPECT_EQ(record, ReadBytes(InSync("dev_db.DAT")));
  EXPECT_EQ(LogRecordBytes(2, 0, u"E1"), ReadBytes(InSync("SyncModificationLog.DAT")));
  EXPECT_EQ(0, entry[0] | luid[0] | path[0]);
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
