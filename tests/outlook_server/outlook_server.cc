// A stand-in for Outlook as a COM local server, for whole sessions of the
// library under Wine.
//
//   outlook_server STORE /regserver  registers the type library that lets
//                                    its interfaces be marshalled (the test
//                                    registers the class, kClsid, as the
//                                    local server of "Outlook.Application")
//   outlook_server STORE /run        plays an Outlook the user started: it
//                                    is in the running object table
//   outlook_server STORE -Embedding  started by COM for a client; goes once
//                                    Quit was called and every object is
//                                    released
//
// Either serves until the file "stop" appears next to STORE, a JSON file:
// {"window": bool, "next_id": n, "items": [...], "fail": [...]}. An item:
// {"entry_id", "folder" (6, 9, 10, 12, 16 Drafts), "class" (mail, note,
// contact, appointment, other), "props" {name: string | number | bool},
// "card" (the vCard or vCalendar text SaveAs writes), "attachments"
// [{"name", "file"}]}. A failure {"call": "Class.Member", "times": n,
// "after": n, "hr": n} makes the call fail `times` times once `after` more
// calls succeeded. Every call is logged to "calls.log" next to STORE, and
// so is every refusal (a line starting with "!": wrong dispatch flags or
// argument types, an unknown DISPID, index 0).
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

// {8E4F1B2A-6C3D-4E5F-9A0B-1C2D3E4F5A6B}: the stand-in's own class.
const CLSID kClsid = {0x8e4f1b2a, 0x6c3d, 0x4e5f, {0x9a, 0x0b, 0x1c, 0x2d, 0x3e, 0x4f, 0x5a, 0x6b}};
// {8E4F1B2B-6C3D-4E5F-9A0B-1C2D3E4F5A6B}: its type library.
const GUID kLibId = {0x8e4f1b2b, 0x6c3d, 0x4e5f, {0x9a, 0x0b, 0x1c, 0x2d, 0x3e, 0x4f, 0x5a, 0x6b}};
// Asked of an object handed back to the server (the folder of Move): the
// object itself, as it lives in this process.
const IID kIidSelf = {0x3d0c7a55, 0x91e2, 0x4b8a, {0xa7, 0xc4, 0x5b, 0x1e, 0x0f, 0x2d, 0x6a, 0x93}};
// The interfaces the library asks for by IID, Outlook's: _Application and
// the four item classes'.
const IID kIids[] = {{0x63001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}},
                     {0x63034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}},
                     {0x63025, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}},
                     {0x63021, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}},
                     {0x63033, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}};

std::string Utf8(const std::wstring& text) { return std::filesystem::path(text).u8string(); }
std::wstring Wide(const std::string& text) { return std::filesystem::u8path(text).wstring(); }

bool ReadWhole(const std::wstring& path, std::string* bytes) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  bytes->assign(std::istreambuf_iterator<char>(file), {});
  return file.is_open();
}
// Through a scratch file, so that a reader never sees half of it.
bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  std::ofstream(std::filesystem::path(path + L".new"), std::ios::binary) << bytes;
  return MoveFileExW((path + L".new").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// An item: as in the file, "entry_id" empty until saved.
struct Record {
  json data;
  bool deleted = false;
  bool saved() const { return !deleted && !data.value("entry_id", "").empty(); }
};
using RecordPtr = std::shared_ptr<Record>;

// The store file, the call log and the server's state.
struct Store {
  explicit Store(const std::wstring& path)
      : path(path), folder(path.substr(0, path.find_last_of(L"\\/"))) {}
  const std::wstring path, folder;
  json meta;  // everything but the items
  std::vector<RecordPtr> records;
  std::string text;      // the file as last read or written
  long live = 0;         // objects alive, a running instance's application not counted
  bool quit = false;     // Quit was called
  bool embedded = true;  // started by COM rather than by the user

  bool Load() {
    json doc = ReadWhole(path, &text) ? json::parse(text, nullptr, false) : json();
    if (!doc.is_object()) return false;
    records.clear();
    for (json& item : doc["items"]) records.push_back(std::make_shared<Record>(Record{item}));
    doc.erase("items");
    meta = doc;
    return true;
  }
  void Save() {
    json doc = meta;
    doc["items"] = json::array();
    for (const RecordPtr& record : records) {
      if (record->saved()) doc["items"].push_back(record->data);
    }
    if (!WriteWhole(path, text = doc.dump(1))) Log("! the store file could not be written");
  }
  // The test changes the file between sessions; it is read again then.
  void ReloadIfChanged() {
    std::string now;
    if (ReadWhole(path, &now) && now != text && !Load()) Log("! the store file is unreadable");
  }
  std::vector<RecordPtr> InFolder(int number) const {
    std::vector<RecordPtr> found;
    std::copy_if(records.begin(), records.end(), std::back_inserter(found),
                 [&](const RecordPtr& r) { return r->saved() && r->data["folder"] == number; });
    return found;
  }
  RecordPtr Create(const std::string& item_class) {
    records.push_back(std::make_shared<Record>(Record{
        {{"class", item_class}, {"entry_id", ""}, {"folder", 0}, {"props", json::object()}}}));
    return records.back();
  }
  // Gives an unsaved item an entry ID, as long and as opaque as a real one,
  // and its class's default folder.
  void Commit(const RecordPtr& record) {
    json& data = record->data;
    if (data.value("entry_id", "").empty()) {
      const unsigned id = meta.value("next_id", 1u);
      meta["next_id"] = id + 1;
      char text[80];
      std::snprintf(text, sizeof text, "00000000A1B2C3D4E5F60718293A4B5C6D7E8F900700%08X", id);
      data["entry_id"] = text;
    }
    if (data["folder"] == 0) {
      const json folders = {{"note", 12}, {"contact", 10}, {"appointment", 9}};
      data["folder"] = folders.value(data.value("class", ""), 16);  // Drafts for mail
    }
    Save();
  }
  // The HRESULT a call of "Class.Member" must fail with, or S_OK.
  HRESULT Planned(const std::string& call) {
    for (json& rule : meta["fail"]) {
      if (rule["call"] == call && rule["times"] > 0) {
        if (rule.value("after", 0) > 0) {
          rule["after"] = rule["after"].get<int>() - 1;
          continue;
        }
        rule["times"] = rule["times"].get<int>() - 1;
        return static_cast<HRESULT>(rule.value("hr", static_cast<long>(E_FAIL)));
      }
    }
    return S_OK;
  }
  void Log(const std::string& line) {
    std::ofstream(std::filesystem::path(folder + L"\\calls.log"), std::ios::app | std::ios::binary)
        << line << "\n";
  }
};

// clang-format off
enum ClassId { kApp, kPlain, kNamespace, kFolder, kItems, kMail, kNote, kContact, kAppointment,
               kAttachments, kAttachment };
// clang-format on

class Object;
using Args = std::vector<VARIANT*>;  // in the order of the signature
// What a class's members but its stored properties do: reads `args`,
// writes `out`.
using Handler = HRESULT (*)(Object& self, const std::string& member, const Args& args,
                            VARIANT* out);
// A member: "Name:kind:types". Kinds: g a property to get, s one kept in
// the item's props to get, p one kept to get and put, m a method. Types, of
// a property's value or a method's arguments: b BSTR, i I4, o BOOL, d DATE,
// x an object.
struct Member {
  std::string name;
  char kind;
  std::vector<VARTYPE> types;
};
struct ClassInfo {
  const char* name;
  const IID* iid;
  const char* member_list;  // its members separated by spaces
  Handler handle;
  std::vector<Member> members = {};  // made from `member_list`; DISPID n is members[n - 1]
};
const ClassInfo& Class(ClassId id);

// An automation object of one of the classes: `record` is the item it
// shows (of an item, its attachments or one attachment), `number` the
// folder of a folder or item list, or the index of an attachment.
class Object : public IDispatch, public IClassFactory {
 public:
  Object(Store& store, ClassId id, RecordPtr record = nullptr, long number = 0, bool counted = true)
      : store(store), id(id), record(std::move(record)), number(number), counted_(counted) {
    store.live += counted_;
  }
  virtual ~Object() {
    if (counted_ && --store.live == 0) {
      store.Log("live 0");
      if (store.quit) PostQuitMessage(0);  // a quit instance goes once nothing is held
    }
  }
  Store& store;
  const ClassId id;
  const RecordPtr record;
  const long number;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    // kIidSelf gives no reference: it is only asked within this process.
    if (IsEqualIID(iid, kIidSelf)) return *out = this, S_OK;
    const IID* own = Class(id).iid;
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                       (own && IsEqualIID(iid, *own));
    const bool factory = id == kApp && IsEqualIID(iid, IID_IClassFactory);
    *out = known     ? static_cast<IDispatch*>(this)
           : factory ? static_cast<void*>(static_cast<IClassFactory*>(this))
                     : nullptr;
    if (*out) AddRef();
    return *out ? S_OK : E_NOINTERFACE;
  }
  // The class object's: each client of a running instance gets its
  // application, each of an instance COM started a new one.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    store.Log("create");
    if (outer || !store.embedded) return outer ? CLASS_E_NOAGGREGATION : QueryInterface(iid, out);
    Object* application = new Object(store, kApp);
    const HRESULT hr = application->QueryInterface(iid, out);
    application->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  // Logged as "Class ids Name": the test sees each looked up once.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    const std::vector<Member>& members = Class(id).members;
    const std::string name = Utf8(names[0]);
    store.Log(std::string(Class(id).name) + " ids " + name);
    ids[0] = DISPID_UNKNOWN;
    for (size_t i = 0; i < members.size(); ++i) {
      if (_stricmp(members[i].name.c_str(), name.c_str()) == 0) ids[0] = static_cast<DISPID>(i + 1);
    }
    return count == 1 && ids[0] != DISPID_UNKNOWN ? S_OK : DISP_E_UNKNOWNNAME;
  }
  // Logged as "Class.Member FLAGS -> HRESULT".
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    const ClassInfo& info = Class(id);
    if (dispid < 1 || dispid > static_cast<DISPID>(info.members.size())) {
      store.Log(std::string("! ") + info.name + ": unknown DISPID " + std::to_string(dispid));
      return DISP_E_MEMBERNOTFOUND;
    }
    const Member& member = info.members[static_cast<size_t>(dispid - 1)];
    const std::string call = std::string(info.name) + "." + member.name;
    Args args;
    for (UINT i = params->cArgs; i-- > 0;) args.push_back(&params->rgvarg[i]);
    HRESULT hr = Check(call, member, flags, *params, args);
    if (SUCCEEDED(hr)) hr = store.Planned(call);
    if (SUCCEEDED(hr) && record && record->deleted) hr = E_FAIL;  // moved or deleted
    if (SUCCEEDED(hr)) {
      // Between sessions, while nothing is open, the test may change the file.
      if (id == kApp && store.live <= (store.embedded ? 1 : 0)) store.ReloadIfChanged();
      // A caller may want no result; the members write one all the same.
      VARIANT scratch;
      VARIANT* out = result && flags != DISPATCH_PROPERTYPUT ? result : &scratch;
      VariantInit(out);
      hr = member.kind == 's' || member.kind == 'p' ? Property(member, flags, args, out)
                                                    : info.handle(*this, member.name, args, out);
      if (out == &scratch || FAILED(hr)) VariantClear(out);
    }
    const char* flag_names[] = {"FLAGS", "METHOD", "GET", "FLAGS", "PUT"};
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    store.Log(call + " " + flag_names[flags <= DISPATCH_PROPERTYPUT ? flags : 0] + " -> " + code);
    if (store.live == 0) store.Log("live 0");  // a running instance's application called alone
    return hr;
  }

 private:
  // The call the member's kind wants: its flags, no named argument but a
  // put's DISPID_PROPERTYPUT, and the types of its arguments (a put's one
  // value being of the property's type). Any other is refused and marked.
  HRESULT Check(const std::string& call, const Member& member, WORD flags, const DISPPARAMS& params,
                const Args& args) {
    const bool put = flags == DISPATCH_PROPERTYPUT;
    const bool allowed = flags == DISPATCH_METHOD        ? member.kind == 'm'
                         : flags == DISPATCH_PROPERTYGET ? member.kind != 'm'
                                                         : put && member.kind == 'p';
    const bool named = params.cNamedArgs == (put ? 1u : 0u) &&
                       (!put || params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT);
    std::vector<VARTYPE> types;
    for (const VARIANT* arg : args) types.push_back(arg->vt);
    if (allowed && named &&
        types == (flags == DISPATCH_PROPERTYGET ? std::vector<VARTYPE>() : member.types)) {
      return S_OK;
    }
    store.Log("! " + call + ": " +
              (allowed ? "named arguments or argument types" : "dispatch flags"));
    return DISP_E_TYPEMISMATCH;
  }

  HRESULT Property(const Member& member, WORD flags, const Args& args, VARIANT* out);

  LONG refs_ = 1;
  const bool counted_;
};

// --- What the members do ------------------------------------------------------

std::wstring Text(const VARIANT* v) {
  return v->bstrVal ? std::wstring(v->bstrVal, SysStringLen(v->bstrVal)) : std::wstring();
}

HRESULT PutString(VARIANT* out, const std::string& text) {
  const std::wstring wide = Wide(text);
  out->vt = VT_BSTR;
  out->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return S_OK;
}

HRESULT PutLong(VARIANT* out, size_t number) {
  return out->vt = VT_I4, out->lVal = static_cast<LONG>(number), S_OK;
}

// A new object, whose reference goes to the caller.
HRESULT PutObject(VARIANT* out, IDispatch* object) {
  return out->vt = VT_DISPATCH, out->pdispVal = object, S_OK;
}
Object* New(Object& self, ClassId id, RecordPtr record = nullptr, long number = 0) {
  return new Object(self.store, id, std::move(record), number);
}

// An item's property, kept in its record's "props" as its member's type.
HRESULT Object::Property(const Member& member, WORD flags, const Args& args, VARIANT* out) {
  json& props = record->data["props"];
  const VARTYPE type = member.types[0];
  if (flags == DISPATCH_PROPERTYPUT) {
    if (type == VT_BSTR) props[member.name] = Utf8(Text(args[0]));
    if (type == VT_I4) props[member.name] = args[0]->lVal;
    if (type == VT_BOOL) props[member.name] = args[0]->boolVal != VARIANT_FALSE;
    return S_OK;
  }
  const json value = props.value(member.name, json());
  if (type == VT_BSTR) return PutString(out, value.is_string() ? value.get<std::string>() : "");
  out->vt = type;
  if (type == VT_I4) out->lVal = value.is_number() ? value.get<LONG>() : 0;
  if (type == VT_BOOL) out->boolVal = value == true ? VARIANT_TRUE : VARIANT_FALSE;
  // 4501-01-01, the store's "no date", for a mail never sent.
  if (type == VT_DATE) out->date = value.is_number() ? value.get<double>() : 949998.0;
  return S_OK;
}

// The index (from 1) of a collection of `size`, as a position from 0.
bool At(Object& self, const VARIANT* index, size_t size, size_t* at) {
  if (index->lVal < 1) self.store.Log("! Item: index below 1 (indexes start at 1)");
  *at = static_cast<size_t>(index->lVal - 1);
  return index->lVal >= 1 && index->lVal <= static_cast<LONG>(size);
}

HRESULT ApplicationCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  Store& store = self.store;
  if (member == "ActiveExplorer") {
    return PutObject(out, store.meta.value("window", false) ? New(self, kPlain) : nullptr);
  }
  if (member == "Session") return PutObject(out, New(self, kNamespace));
  if (member == "GetNamespace") {
    return Text(args[0]) == L"MAPI" ? PutObject(out, New(self, kNamespace)) : E_INVALIDARG;
  }
  if (member == "CreateItem") {
    const LONG type = args[0]->lVal;  // 0 a mail, 5 a note
    if (type != 0 && type != 5) return E_INVALIDARG;
    return PutObject(out, New(self, type ? kNote : kMail, store.Create(type ? "note" : "mail")));
  }
  store.quit = true;  // Quit: gone once every object is released
  return S_OK;
}

// The value of the first "NAME:" line of a vCard or vCalendar text.
std::string Field(const std::string& text, const std::string& name) {
  const size_t at = text.find("\n" + name + ":");
  if (at == std::string::npos) return std::string();
  const size_t from = at + name.size() + 2;
  return text.substr(from, text.find_first_of("\r\n", from) - from);
}

HRESULT NamespaceCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  if (member == "Logoff") return S_OK;
  if (member == "GetDefaultFolder") {
    const LONG number = args[0]->lVal;
    if (!std::set<LONG>{6, 9, 10, 12, 16}.count(number)) return E_INVALIDARG;
    return PutObject(out, New(self, kFolder, nullptr, number));
  }
  // OpenSharedItem: a vCard or vCalendar file becomes a new, unsaved item.
  std::string text;
  if (!ReadWhole(Text(args[0]), &text)) return E_FAIL;
  const bool card = text.find("BEGIN:VCARD") != std::string::npos;
  if (!card && text.find("BEGIN:VCALENDAR") == std::string::npos) return E_INVALIDARG;
  RecordPtr record = self.store.Create(card ? "contact" : "appointment");
  record->data["card"] = text;
  record->data["props"][card ? "FullName" : "Subject"] = Field(text, card ? "FN" : "SUMMARY");
  return PutObject(out, New(self, card ? kContact : kAppointment, record));
}

HRESULT FolderCall(Object& self, const std::string&, const Args&, VARIANT* out) {
  return PutObject(out, New(self, kItems, nullptr, self.number));  // Items
}

HRESULT ItemsCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  const std::vector<RecordPtr> items = self.store.InFolder(self.number);
  size_t at = 0;
  if (member == "Count") return PutLong(out, items.size());
  if (!At(self, args[0], items.size(), &at)) return DISP_E_BADINDEX;
  const json classes = {
      {"mail", kMail}, {"note", kNote}, {"contact", kContact}, {"appointment", kAppointment}};
  const ClassId id = classes.value(items[at]->data.value("class", ""), kPlain);
  return PutObject(out, New(self, id, items[at]));
}

// The members of every item class but its stored properties.
HRESULT ItemCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  Store& store = self.store;
  json& data = self.record->data;
  if (member == "EntryID") return PutString(out, data.value("entry_id", ""));  // empty until saved
  if (member == "Save") store.Commit(self.record);
  if (member == "Delete") {
    self.record->deleted = true;
    store.Save();
  }
  if (member == "Attachments") return PutObject(out, New(self, kAttachments, self.record));
  if (member == "SaveAs") {
    // The vCard or vCalendar text of the item, in the format its class has.
    const LONG type = args[1]->lVal;
    if (self.id == kContact ? type != 6 : (type != 7 && type != 8)) return E_INVALIDARG;
    if (!WriteWhole(Text(args[0]), data.value("card", ""))) return E_FAIL;
  }
  if (member != "Move") return S_OK;
  // The moved mail is a new item with an entry ID of its own.
  void* folder = nullptr;
  if (!args[0]->pdispVal || FAILED(args[0]->pdispVal->QueryInterface(kIidSelf, &folder)) ||
      static_cast<Object*>(folder)->id != kFolder) {
    return E_INVALIDARG;
  }
  RecordPtr moved = store.Create("mail");
  moved->data = data;
  moved->data.update({{"entry_id", ""}, {"folder", static_cast<Object*>(folder)->number}});
  self.record->deleted = true;
  store.Commit(moved);
  return PutObject(out, New(self, kMail, moved));
}

HRESULT AttachmentsCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  json& list = self.record->data["attachments"];
  if (member == "Count") return PutLong(out, list.size());
  size_t at = list.size();
  if (member == "Item" && !At(self, args[0], list.size(), &at)) return DISP_E_BADINDEX;
  if (member == "Add") {
    // Add(source, type, position, display name): a copy, by value only.
    const unsigned id = self.store.meta.value("next_attachment", 1u);
    self.store.meta["next_attachment"] = id + 1;
    const std::wstring stored = self.store.folder + L"\\attachment-" + std::to_wstring(id);
    if (args[1]->lVal != 1 || !CopyFileW(Text(args[0]).c_str(), stored.c_str(), FALSE)) return E_FAIL;
    list.push_back({{"name", Utf8(Text(args[3]))}, {"file", Utf8(stored)}});
  }
  return PutObject(out, New(self, kAttachment, self.record, static_cast<long>(at)));
}

HRESULT AttachmentCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  const json& attachment = self.record->data["attachments"][self.number];
  if (member == "FileName") return PutString(out, attachment.value("name", ""));
  const std::wstring from = Wide(attachment.value("file", ""));  // SaveAsFile
  return CopyFileW(from.c_str(), Text(args[0]).c_str(), FALSE) ? S_OK : E_FAIL;
}

// Every item class has "EntryID:g:b Save:m: Delete:m:" first.
const ClassInfo& Class(ClassId id) {
  static std::vector<ClassInfo> classes = {
      {"Application", &kIids[0],
       "ActiveExplorer:m: Session:g:x GetNamespace:m:b CreateItem:m:i Quit:m:", ApplicationCall},
      // An explorer window, or an item of none of the four classes (such as
      // a meeting request): nothing of it may be called.
      {"Plain", nullptr, "", nullptr},
      {"Namespace", nullptr, "GetDefaultFolder:m:i OpenSharedItem:m:b Logoff:m:", NamespaceCall},
      {"Folder", nullptr, "Items:g:x", FolderCall},
      {"Items", nullptr, "Count:g:i Item:m:i", ItemsCall},
      {"MailItem", &kIids[1],
       "SenderName:s:b SentOnBehalfOfName:p:b To:p:b CC:p:b Subject:p:b SentOn:s:d "
       "Importance:p:i HTMLBody:p:b UnRead:p:o BodyFormat:p:i Attachments:g:x Move:m:x",
       ItemCall},
      {"NoteItem", &kIids[2], "Body:p:b", ItemCall},
      {"ContactItem", &kIids[3], "FullName:p:b SaveAs:m:bi", ItemCall},
      {"AppointmentItem", &kIids[4], "Subject:p:b SaveAs:m:bi", ItemCall},
      {"Attachments", nullptr, "Count:g:i Item:m:i Add:m:biib", AttachmentsCall},
      {"Attachment", nullptr, "FileName:g:b SaveAsFile:m:b", AttachmentCall},
  };
  ClassInfo& info = classes[id];
  if (info.members.empty()) {
    std::istringstream words(
        std::string(info.handle == ItemCall ? "EntryID:g:b Save:m: Delete:m: " : "") + info.member_list);
    const std::string codes = "biodx";
    const VARTYPE types[] = {VT_BSTR, VT_I4, VT_BOOL, VT_DATE, VT_DISPATCH};
    for (std::string word; words >> word;) {
      const size_t colon = word.find(':');
      Member member{word.substr(0, colon), word[colon + 1], {}};
      for (char code : word.substr(colon + 3)) member.types.push_back(types[codes.find(code)]);
      info.members.push_back(member);
    }
  }
  return info;
}

// --- The server ---------------------------------------------------------------

// Each interface of kIids becomes a dispinterface of a type library made
// here and registered, so that COM can marshal it.
bool Register(const std::wstring& store) {
  const wchar_t* names[] = {L"_Application", L"_MailItem", L"_NoteItem", L"_ContactItem",
                            L"_AppointmentItem"};
  const std::wstring path = store.substr(0, store.find_last_of(L"\\/") + 1) + L"standin.tlb";
  const IID kIidStdOle = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  ITypeLib* stdole = nullptr;
  ITypeInfo* dispatch = nullptr;
  ICreateTypeLib2* library = nullptr;
  bool ok = SUCCEEDED(LoadRegTypeLib(kIidStdOle, 2, 0, 0, &stdole)) &&
            SUCCEEDED(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch)) &&
            SUCCEEDED(CreateTypeLib2(SYS_WIN64, path.c_str(), &library)) &&
            SUCCEEDED(library->SetGuid(kLibId)) &&
            SUCCEEDED(library->SetName(const_cast<LPOLESTR>(L"StandInOutlook"))) &&
            SUCCEEDED(library->SetVersion(1, 0)) && SUCCEEDED(library->SetLcid(0));
  for (size_t i = 0; ok && i < std::size(kIids); ++i) {
    ICreateTypeInfo* info = nullptr;
    HREFTYPE base = 0;
    ok =
        SUCCEEDED(library->CreateTypeInfo(const_cast<LPOLESTR>(names[i]), TKIND_DISPATCH, &info)) &&
        SUCCEEDED(info->SetGuid(kIids[i])) && SUCCEEDED(info->AddRefTypeInfo(dispatch, &base)) &&
        SUCCEEDED(info->AddImplType(0, base)) && SUCCEEDED(info->LayOut());
    if (info) info->Release();
  }
  ok = ok && SUCCEEDED(library->SaveAllChanges());
  for (IUnknown* made : std::initializer_list<IUnknown*>{library, dispatch, stdole}) {
    if (made) made->Release();
  }
  ITypeLib* loaded = nullptr;
  ok = ok && SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &loaded));
  if (loaded) loaded->Release();
  return ok;
}

int Serve(const std::wstring& path, bool embedded) {
  Store store(path);
  store.embedded = embedded;
  if (!store.Load()) return 1;
  // The class object, which is a running instance's application too.
  Object* own = new Object(store, kApp, nullptr, 0, false);
  DWORD class_cookie = 0, active_cookie = 0;
  bool ok =
      SUCCEEDED(CoRegisterClassObject(kClsid, static_cast<IClassFactory*>(own), CLSCTX_LOCAL_SERVER,
                                      REGCLS_MULTIPLEUSE, &class_cookie)) &&
      (embedded || SUCCEEDED(RegisterActiveObject(static_cast<IDispatch*>(own), kClsid,
                                                  ACTIVEOBJECT_STRONG, &active_cookie)));
  store.Log(std::string(ok ? "ready " : "! cannot register ") +
            (embedded ? "embedded" : "running"));
  const std::wstring stop = store.folder + L"\\stop";
  SetTimer(nullptr, 0, 200, nullptr);
  MSG message;
  while (ok && GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES)
      break;
    DispatchMessageW(&message);
  }
  if (active_cookie) RevokeActiveObject(active_cookie, nullptr);
  if (class_cookie) CoRevokeClassObject(class_cookie);
  CoDisconnectObject(static_cast<IDispatch*>(own), 0);
  own->Release();
  store.Log("exit live " + std::to_string(store.live) + (store.quit ? " quit" : ""));
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  const std::wstring mode = argc > 2 ? argv[2] : L"";
  const int result = mode == L"/regserver" ? !Register(argv[1]) : Serve(argv[1], mode != L"/run");
  CoUninitialize();
  return result;
}
