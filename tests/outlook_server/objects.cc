#include "objects.h"

#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace standin {

const Interface kInterfaces[5] = {
    {L"_Application", {0x00063001, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
    {L"_MailItem", {0x00063034, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
    {L"_NoteItem", {0x00063025, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
    {L"_ContactItem", {0x00063021, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
    {L"_AppointmentItem", {0x00063033, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}},
};

namespace {

// Asked of an object handed back to the server (the folder of Move): the
// object itself, as it lives in this process.
// {3D0C7A55-91E2-4B8A-A7C4-5B1E0F2D6A93}
const IID kIidSelf = {0x3d0c7a55, 0x91e2, 0x4b8a, {0xa7, 0xc4, 0x5b, 0x1e, 0x0f, 0x2d, 0x6a, 0x93}};

// Why a call failed, for the caller's exception record.
struct Failure {
  HRESULT hr;
  const wchar_t* description;
};
const Failure kOk{S_OK, L""};
const Failure kGone{E_FAIL, L"The item has been moved or deleted."};
const Failure kBadArgument{E_INVALIDARG, L"Invalid argument."};

// What a member is; a stored property is kept in the props of the item's
// record.
enum Kind { kGet = 1, kPut = 2, kMethod = 4, kStored = 8, kProp = kGet | kPut | kStored };
enum ClassId {
  kApp,
  kExplorer,
  kNamespace,
  kFolder,
  kItems,
  kMail,
  kNote,
  kContact,
  kAppointment,
  kOther,
  kAttachments,
  kAttachment
};

class Object;
using Args = std::vector<VARIANT*>;  // in the order of the signature
// The work of a class's members but its stored properties: reads `args`,
// writes `out`.
using Handler = Failure (*)(Object& self, const std::string& member, const Args& args,
                            VARIANT* out);

struct Member {
  const char* name;
  int kind;
  std::vector<VARTYPE> types;  // a property's one type, or a method's arguments
};

struct ClassInfo {
  const char* name;
  const IID* iid;
  std::vector<Member> members;
  Handler handle;
};

const ClassInfo& Class(ClassId id);

// An automation object of one of the classes: `record` is the item it
// shows (of an item, its attachments or one attachment), `number` the
// folder of a folder or item list, or the index of an attachment.
class Object : public IDispatch {
 public:
  Object(Server& server, ClassId id, RecordPtr record = nullptr, long number = 0,
         bool counted = true)
      : server(server), id(id), record(std::move(record)), number(number), counted_(counted) {
    if (counted_) ++server.live;
  }
  virtual ~Object() {
    if (counted_ && --server.live == 0) {
      server.store.Log("live 0");
      // A quit instance goes once nobody holds any of its objects.
      if (server.quit) PostQuitMessage(0);
    }
  }
  Server& server;
  const ClassId id;
  const RecordPtr record;
  const long number;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, kIidSelf)) {
      *out = this;  // no reference: only asked within this process
      return S_OK;
    }
    const IID* own = Class(id).iid;
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                       (own && IsEqualIID(iid, *own));
    *out = known ? static_cast<IDispatch*>(this) : nullptr;
    if (!known) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (!names || !ids || count != 1) return E_INVALIDARG;
    const std::string name = Utf8(names[0]);
    const std::vector<Member>& members = Class(id).members;
    server.store.Log(std::string(Class(id).name) + " ids " + name);
    for (size_t i = 0; i < members.size(); ++i) {
      if (_stricmp(members[i].name, name.c_str()) == 0) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }

  // Logs each call as "Class.Member FLAGS (arguments) -> HRESULT".
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    const ClassInfo& info = Class(id);
    if (dispid < 1 || dispid > static_cast<DISPID>(info.members.size()) || !params) {
      server.store.Log(std::string("! ") + info.name + ": unknown DISPID " +
                       std::to_string(dispid));
      return DISP_E_MEMBERNOTFOUND;
    }
    const Member& member = info.members[static_cast<size_t>(dispid - 1)];
    const char* flag_names[] = {"FLAGS", "METHOD", "GET", "FLAGS", "PUT"};
    std::string line = std::string(info.name) + "." + member.name + " " +
                       flag_names[flags <= DISPATCH_PROPERTYPUT ? flags : 0] + " (";
    Args args;
    for (UINT i = params->cArgs; i-- > 0;) {
      args.push_back(&params->rgvarg[i]);
      line += Describe(params->rgvarg[i]) + (i ? ", " : "");
    }
    Failure failure = Check(member, flags, *params, args);
    if (SUCCEEDED(failure.hr)) {
      const HRESULT planned = server.store.Failure(std::string(info.name) + "." + member.name);
      if (FAILED(planned)) failure = {planned, L"The operation failed (scenario)."};
    }
    if (SUCCEEDED(failure.hr) && record && record->deleted) failure = kGone;
    if (SUCCEEDED(failure.hr)) {
      // The test changes the store between sessions, while nothing is open.
      if (id == kApp && server.live <= (server.embedded ? 1 : 0)) server.store.ReloadIfChanged();
      // A caller may want no result; the members write one all the same.
      VARIANT scratch;
      VARIANT* out = result && flags != DISPATCH_PROPERTYPUT ? result : &scratch;
      VariantInit(out);
      failure = member.kind & kStored ? Property(member, flags, args, out)
                                      : info.handle(*this, member.name, args, out);
      if (out == &scratch || FAILED(failure.hr)) VariantClear(out);
    }
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08lX", static_cast<unsigned long>(failure.hr));
    server.store.Log(line + ") -> " + hr);
    // A call that left nothing alive (a pinned application's) says so too.
    if (server.live == 0) server.store.Log("live 0");
    if (FAILED(failure.hr) && exception) {
      *exception = EXCEPINFO{};
      exception->bstrSource = SysAllocString(L"Stand-in Outlook");
      exception->bstrDescription = SysAllocString(failure.description);
      exception->scode = failure.hr;
      return DISP_E_EXCEPTION;
    }
    return failure.hr;
  }

 private:
  static std::string Describe(const VARIANT& v) {
    if (v.vt == VT_I4) return "VT_I4 " + std::to_string(v.lVal);
    if (v.vt == VT_BOOL) return "VT_BOOL " + std::to_string(v.boolVal);
    if (v.vt != VT_BSTR) return "VT_" + std::to_string(v.vt);
    if (!v.bstrVal) return "VT_BSTR null";
    std::string text = Utf8(std::wstring(v.bstrVal, std::min(SysStringLen(v.bstrVal), 40u)));
    for (char& c : text) c = c == '\r' || c == '\n' ? ' ' : c;  // one line per call
    return "VT_BSTR \"" + text + "\"";
  }

  // The call the member's kind wants: its flags, no named argument but a
  // put's DISPID_PROPERTYPUT, and the types of its arguments (a put's one
  // value being of the property's type). Any other is refused and marked.
  Failure Check(const Member& member, WORD flags, const DISPPARAMS& params, const Args& args) {
    const bool put = flags == DISPATCH_PROPERTYPUT;
    const bool allowed = flags == DISPATCH_METHOD        ? member.kind == kMethod
                         : flags == DISPATCH_PROPERTYGET ? (member.kind & kGet) != 0
                                                         : put && (member.kind & kPut) != 0;
    const bool named = params.cNamedArgs == (put ? 1u : 0u) &&
                       (!put || params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT);
    std::vector<VARTYPE> types;
    for (const VARIANT* arg : args) types.push_back(arg->vt);
    if (allowed && named &&
        types == (flags == DISPATCH_PROPERTYGET ? std::vector<VARTYPE>() : member.types))
      return kOk;
    server.store.Log(std::string("! ") + Class(id).name + "." + member.name + ": " +
                     (allowed ? "named arguments or argument types" : "dispatch flags"));
    return {DISP_E_TYPEMISMATCH, L"Type mismatch."};
  }

  Failure Property(const Member& member, WORD flags, const Args& args, VARIANT* out);

  LONG refs_ = 1;
  const bool counted_;
};

// --- What the members do ------------------------------------------------------

std::wstring Text(const VARIANT* v) {
  return v->bstrVal ? std::wstring(v->bstrVal, SysStringLen(v->bstrVal)) : std::wstring();
}

Failure PutString(VARIANT* out, const std::string& text) {
  const std::wstring wide = Wide(text);
  out->vt = VT_BSTR;
  out->bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  return kOk;
}

Failure PutLong(VARIANT* out, size_t number) {
  out->vt = VT_I4;
  out->lVal = static_cast<LONG>(number);
  return kOk;
}

// An object, whose reference goes to the caller.
Failure PutObject(VARIANT* out, IDispatch* object) {
  out->vt = VT_DISPATCH;
  out->pdispVal = object;
  return kOk;
}

Object* New(Object& self, ClassId id, RecordPtr record = nullptr, long number = 0) {
  return new Object(self.server, id, std::move(record), number);
}

// The value of the first "NAME:" line of a vCard or vCalendar text.
std::string Field(const std::string& text, const std::string& name) {
  const size_t at = text.find("\n" + name + ":");
  if (at == std::string::npos) return std::string();
  const size_t from = at + name.size() + 2;
  return text.substr(from, text.find_first_of("\r\n", from) - from);
}

// An item's property, kept in its record's "props" as its member's type.
Failure Object::Property(const Member& member, WORD flags, const Args& args, VARIANT* out) {
  nlohmann::json& props = record->data["props"];
  const VARTYPE type = member.types[0];
  if (flags == DISPATCH_PROPERTYPUT) {
    if (type == VT_BSTR) props[member.name] = Utf8(Text(args[0]));
    if (type == VT_I4) props[member.name] = args[0]->lVal;
    if (type == VT_BOOL) props[member.name] = args[0]->boolVal != VARIANT_FALSE;
    return kOk;
  }
  const nlohmann::json value = props.value(member.name, nlohmann::json());
  if (type == VT_BSTR) return PutString(out, value.is_string() ? value.get<std::string>() : "");
  out->vt = type;
  if (type == VT_I4) out->lVal = value.is_number() ? value.get<LONG>() : 0;
  if (type == VT_BOOL) out->boolVal = value == true ? VARIANT_TRUE : VARIANT_FALSE;
  // 4501-01-01, the store's "no date", for a mail never sent.
  if (type == VT_DATE) out->date = value.is_number() ? value.get<double>() : 949998.0;
  return kOk;
}

// The index (from 1) of a collection of `size` items, as a position from 0.
bool At(Object& self, const VARIANT* index, size_t size, size_t* at) {
  if (index->lVal < 1) self.server.store.Log("! Item: index below 1 (indexes start at 1)");
  if (index->lVal < 1 || index->lVal > static_cast<LONG>(size)) return false;
  *at = static_cast<size_t>(index->lVal - 1);
  return true;
}
const Failure kBadIndex{DISP_E_BADINDEX, L"Array index out of bounds."};

Failure ApplicationCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  Store& store = self.server.store;
  if (member == "ActiveExplorer")
    return PutObject(out, store.window() ? New(self, kExplorer) : nullptr);
  if (member == "Session") return PutObject(out, New(self, kNamespace));
  if (member == "GetNamespace") {
    return Text(args[0]) == L"MAPI" ? PutObject(out, New(self, kNamespace)) : kBadArgument;
  }
  if (member == "CreateItem") {
    const LONG type = args[0]->lVal;  // 0 a mail, 5 a note
    if (type != 0 && type != 5) return kBadArgument;
    return PutObject(out, New(self, type ? kNote : kMail, store.Create(type ? "note" : "mail")));
  }
  self.server.quit = true;  // Quit: gone once every object is released
  return kOk;
}

Failure NamespaceCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  if (member == "Logoff") return kOk;
  if (member == "GetDefaultFolder") {
    const LONG number = args[0]->lVal;
    if (number != 6 && number != 9 && number != 10 && number != 12 && number != 16) {
      return kBadArgument;
    }
    return PutObject(out, New(self, kFolder, nullptr, number));
  }
  // OpenSharedItem: a vCard or vCalendar file becomes a new, unsaved item.
  std::string text;
  if (!ReadWhole(Text(args[0]), &text)) return {E_FAIL, L"Cannot open the file."};
  const bool card = text.find("BEGIN:VCARD") != std::string::npos;
  if (!card && text.find("BEGIN:VCALENDAR") == std::string::npos) return kBadArgument;
  RecordPtr record = self.server.store.Create(card ? "contact" : "appointment");
  record->data["card"] = text;
  record->data["props"][card ? "FullName" : "Subject"] = Field(text, card ? "FN" : "SUMMARY");
  return PutObject(out, New(self, card ? kContact : kAppointment, record));
}

Failure FolderCall(Object& self, const std::string&, const Args&, VARIANT* out) {
  return PutObject(out, New(self, kItems, nullptr, self.number));  // Items
}

Failure ItemsCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  const std::vector<RecordPtr> items = self.server.store.InFolder(self.number);
  if (member == "Count") return PutLong(out, items.size());
  size_t at = 0;
  if (!At(self, args[0], items.size(), &at)) return kBadIndex;
  const std::string name = items[at]->data.value("class", "");
  const ClassId id = name == "mail"          ? kMail
                     : name == "note"        ? kNote
                     : name == "contact"     ? kContact
                     : name == "appointment" ? kAppointment
                                             : kOther;
  return PutObject(out, New(self, id, items[at]));
}

// The members of every item class but its stored properties.
Failure ItemCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  Store& store = self.server.store;
  nlohmann::json& data = self.record->data;
  if (member == "EntryID") return PutString(out, data.value("entry_id", ""));  // empty until saved
  if (member == "Save") store.Commit(self.record);
  if (member == "Delete") store.Remove(self.record);
  if (member == "Attachments") return PutObject(out, New(self, kAttachments, self.record));
  if (member == "SaveAs") {
    // The vCard or vCalendar text of the item, in the format its class has.
    const LONG type = args[1]->lVal;
    if (self.id == kContact ? type != 6 : (type != 7 && type != 8)) return kBadArgument;
    if (!WriteWhole(Text(args[0]), data.value("card", ""))) return {E_FAIL, L"Cannot write."};
  }
  if (member != "Move") return kOk;
  // The moved mail is a new item with an entry ID of its own.
  void* folder = nullptr;
  if (!args[0]->pdispVal || FAILED(args[0]->pdispVal->QueryInterface(kIidSelf, &folder)) ||
      static_cast<Object*>(folder)->id != kFolder) {
    return {E_INVALIDARG, L"Not a folder."};
  }
  RecordPtr moved = store.Create("mail");
  moved->data = data;
  moved->data["entry_id"] = "";
  moved->data["folder"] = static_cast<Object*>(folder)->number;
  self.record->deleted = true;
  store.Commit(moved);
  return PutObject(out, New(self, kMail, moved));
}

Failure AttachmentsCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  nlohmann::json& list = self.record->data["attachments"];
  if (member == "Count") return PutLong(out, list.size());
  size_t at = list.size();
  if (member == "Item" && !At(self, args[0], list.size(), &at)) return kBadIndex;
  if (member == "Add") {
    // Add(source, type, position, display name): a copy, by value only.
    const std::wstring stored = self.server.store.NewAttachmentPath();
    if (args[1]->lVal != 1 || !CopyFileW(Text(args[0]).c_str(), stored.c_str(), FALSE)) {
      return {E_FAIL, L"Cannot add the attachment."};
    }
    list.push_back({{"name", Utf8(Text(args[3]))}, {"file", Utf8(stored)}});
  }
  return PutObject(out, New(self, kAttachment, self.record, static_cast<long>(at)));
}

Failure AttachmentCall(Object& self, const std::string& member, const Args& args, VARIANT* out) {
  const nlohmann::json& attachment = self.record->data["attachments"][self.number];
  if (member == "FileName") return PutString(out, attachment.value("name", ""));
  const std::wstring from = Wide(attachment.value("file", ""));  // SaveAsFile
  if (!CopyFileW(from.c_str(), Text(args[0]).c_str(), FALSE)) return {E_FAIL, L"Cannot save."};
  return kOk;
}

const std::vector<Member> kItem = {
    {"EntryID", kGet, {VT_BSTR}}, {"Save", kMethod, {}}, {"Delete", kMethod, {}}};

// The members every item has, and `more`.
std::vector<Member> ItemMembers(std::vector<Member> more) {
  more.insert(more.begin(), kItem.begin(), kItem.end());
  return more;
}

const ClassInfo& Class(ClassId id) {
  const auto* iids = kInterfaces;
  static const std::vector<ClassInfo> classes = {
      {"Application",
       &iids[0].iid,
       {{"ActiveExplorer", kMethod, {}},
        {"Session", kGet, {VT_DISPATCH}},
        {"GetNamespace", kMethod, {VT_BSTR}},
        {"CreateItem", kMethod, {VT_I4}},
        {"Quit", kMethod, {}}},
       ApplicationCall},
      {"Explorer", nullptr, {}, nullptr},
      {"Namespace",
       nullptr,
       {{"GetDefaultFolder", kMethod, {VT_I4}},
        {"OpenSharedItem", kMethod, {VT_BSTR}},
        {"Logoff", kMethod, {}}},
       NamespaceCall},
      {"Folder", nullptr, {{"Items", kGet, {VT_DISPATCH}}}, FolderCall},
      {"Items", nullptr, {{"Count", kGet, {VT_I4}}, {"Item", kMethod, {VT_I4}}}, ItemsCall},
      {"MailItem", &iids[1].iid,
       ItemMembers({{"SenderName", kGet | kStored, {VT_BSTR}},
                    {"SentOnBehalfOfName", kProp, {VT_BSTR}},
                    {"To", kProp, {VT_BSTR}},
                    {"CC", kProp, {VT_BSTR}},
                    {"Subject", kProp, {VT_BSTR}},
                    {"SentOn", kGet | kStored, {VT_DATE}},
                    {"Importance", kProp, {VT_I4}},
                    {"HTMLBody", kProp, {VT_BSTR}},
                    {"UnRead", kProp, {VT_BOOL}},
                    {"BodyFormat", kProp, {VT_I4}},
                    {"Attachments", kGet, {VT_DISPATCH}},
                    {"Move", kMethod, {VT_DISPATCH}}}),
       ItemCall},
      {"NoteItem", &iids[2].iid, ItemMembers({{"Body", kProp, {VT_BSTR}}}), ItemCall},
      {"ContactItem", &iids[3].iid,
       ItemMembers({{"FullName", kProp, {VT_BSTR}}, {"SaveAs", kMethod, {VT_BSTR, VT_I4}}}),
       ItemCall},
      {"AppointmentItem", &iids[4].iid,
       ItemMembers({{"Subject", kProp, {VT_BSTR}},
                    {"AllDayEvent", kProp, {VT_BOOL}},
                    {"SaveAs", kMethod, {VT_BSTR, VT_I4}}}),
       ItemCall},
      // An item of none of the four classes, such as a meeting request.
      {"OtherItem", nullptr, ItemMembers({{"Subject", kProp, {VT_BSTR}}}), ItemCall},
      {"Attachments",
       nullptr,
       {{"Count", kGet, {VT_I4}},
        {"Item", kMethod, {VT_I4}},
        {"Add", kMethod, {VT_BSTR, VT_I4, VT_I4, VT_BSTR}}},
       AttachmentsCall},
      {"Attachment",
       nullptr,
       {{"FileName", kGet, {VT_BSTR}}, {"SaveAsFile", kMethod, {VT_BSTR}}},
       AttachmentCall},
  };
  return classes[id];
}

}  // namespace

IDispatch* NewApplication(Server& server, bool pinned) {
  return new Object(server, kApp, nullptr, 0, !pinned);
}

}  // namespace standin
