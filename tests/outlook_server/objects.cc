#include "objects.h"

#include <oleauto.h>

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

enum Kind { kGet = 1, kPut = 2, kGetPut = 3, kMethod = 4 };

struct Member {
  const char* name;
  int kind;
  std::vector<VARTYPE> types;  // a property's one type, or a method's arguments
};

struct ClassInfo {
  const char* name;
  const IID* iid;
  std::vector<Member> members;
};

const std::vector<Member> kItemMembers = {
    {"EntryID", kGet, {VT_BSTR}}, {"Save", kMethod, {}}, {"Delete", kMethod, {}}};

std::vector<Member> ItemMembers(std::vector<Member> more) {
  more.insert(more.begin(), kItemMembers.begin(), kItemMembers.end());
  return more;
}

const ClassInfo kApplication{"Application", &kInterfaces[0].iid,
                             {{"ActiveExplorer", kMethod, {}},
                              {"Session", kGet, {VT_DISPATCH}},
                              {"GetNamespace", kMethod, {VT_BSTR}},
                              {"CreateItem", kMethod, {VT_I4}},
                              {"Quit", kMethod, {}}}};
const ClassInfo kExplorer{"Explorer", nullptr, {{"Caption", kGet, {VT_BSTR}}}};
const ClassInfo kNamespace{"Namespace", nullptr,
                           {{"GetDefaultFolder", kMethod, {VT_I4}},
                            {"OpenSharedItem", kMethod, {VT_BSTR}},
                            {"Logoff", kMethod, {}}}};
const ClassInfo kFolder{"Folder", nullptr, {{"Items", kGet, {VT_DISPATCH}}}};
const ClassInfo kItems{"Items", nullptr, {{"Count", kGet, {VT_I4}}, {"Item", kMethod, {VT_I4}}}};
const ClassInfo kMail{"MailItem", &kInterfaces[1].iid,
                      ItemMembers({{"SenderName", kGet, {VT_BSTR}},
                                   {"SentOnBehalfOfName", kGetPut, {VT_BSTR}},
                                   {"To", kGetPut, {VT_BSTR}},
                                   {"CC", kGetPut, {VT_BSTR}},
                                   {"Subject", kGetPut, {VT_BSTR}},
                                   {"SentOn", kGet, {VT_DATE}},
                                   {"Importance", kGetPut, {VT_I4}},
                                   {"HTMLBody", kGetPut, {VT_BSTR}},
                                   {"UnRead", kGetPut, {VT_BOOL}},
                                   {"BodyFormat", kGetPut, {VT_I4}},
                                   {"Attachments", kGet, {VT_DISPATCH}},
                                   {"Move", kMethod, {VT_DISPATCH}}})};
const ClassInfo kNote{"NoteItem", &kInterfaces[2].iid, ItemMembers({{"Body", kGetPut, {VT_BSTR}}})};
const ClassInfo kContact{"ContactItem", &kInterfaces[3].iid,
                         ItemMembers({{"FullName", kGetPut, {VT_BSTR}},
                                      {"SaveAs", kMethod, {VT_BSTR, VT_I4}}})};
const ClassInfo kAppointment{"AppointmentItem", &kInterfaces[4].iid,
                             ItemMembers({{"Subject", kGetPut, {VT_BSTR}},
                                          {"AllDayEvent", kGetPut, {VT_BOOL}},
                                          {"SaveAs", kMethod, {VT_BSTR, VT_I4}}})};
// An item of none of the four classes, such as a meeting request in the Inbox.
const ClassInfo kOther{"OtherItem", nullptr, ItemMembers({{"Subject", kGetPut, {VT_BSTR}}})};
const ClassInfo kAttachments{"Attachments", nullptr,
                             {{"Count", kGet, {VT_I4}},
                              {"Item", kMethod, {VT_I4}},
                              {"Add", kMethod, {VT_BSTR, VT_I4, VT_I4, VT_BSTR}}}};
const ClassInfo kAttachment{"Attachment", nullptr,
                            {{"FileName", kGet, {VT_BSTR}}, {"SaveAsFile", kMethod, {VT_BSTR}}}};

const ClassInfo& ClassOf(const std::string& item_class) {
  if (item_class == "mail") return kMail;
  if (item_class == "note") return kNote;
  if (item_class == "contact") return kContact;
  if (item_class == "appointment") return kAppointment;
  return kOther;
}

std::string Describe(const VARIANT& v);

std::string FlagsName(WORD flags) {
  switch (flags) {
    case DISPATCH_METHOD:
      return "METHOD";
    case DISPATCH_PROPERTYGET:
      return "GET";
    case DISPATCH_PROPERTYPUT:
      return "PUT";
    default:
      return "FLAGS" + std::to_string(flags);
  }
}

std::string Quoted(const std::wstring& text) {
  std::string out = "\"";
  for (char c : Utf8(text.size() > 60 ? text.substr(0, 60) + L"..." : text)) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '"' || c == '\\') out += std::string("\\") + c;
    else out += c;
  }
  return out + "\"";
}

void PutString(VARIANT* result, const std::wstring& text) {
  result->vt = VT_BSTR;
  result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

class Object;
void PutObject(VARIANT* result, Object* object);

// Why a call failed, for the caller's exception record.
struct Failure {
  HRESULT hr;
  const wchar_t* description;
};

class Object : public IDispatch {
 public:
  Object(Server& server, const ClassInfo& info, bool counted = true)
      : server_(server), info_(info), counted_(counted) {
    if (counted_) ++server_.live;
  }
  virtual ~Object() {
    if (counted_ && --server_.live == 0) {
      server_.store.Log("live 0");
      // A quit instance goes once nobody holds any of its objects.
      if (server_.quit) PostQuitMessage(0);
    }
  }
  const ClassInfo& info() const { return info_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, kIidSelf)) {
      *out = this;  // no reference: only asked within this process
      return S_OK;
    }
    const bool known = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
                       (info_.iid && IsEqualIID(iid, *info_.iid));
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
    server_.store.Log(std::string(info_.name) + " ids " + name);
    for (size_t i = 0; i < info_.members.size(); ++i) {
      if (_stricmp(info_.members[i].name, name.c_str()) == 0) {
        ids[0] = static_cast<DISPID>(i + 1);
        return S_OK;
      }
    }
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT*) override {
    if (id < 1 || id > static_cast<DISPID>(info_.members.size()) || !params) {
      server_.store.Log(std::string(info_.name) + " ! unknown DISPID " + std::to_string(id));
      return DISP_E_MEMBERNOTFOUND;
    }
    const Member& member = info_.members[static_cast<size_t>(id - 1)];
    std::string line = std::string(info_.name) + "." + member.name + " " + FlagsName(flags) + " (";
    std::vector<VARIANT*> args;  // in the order of the signature
    for (UINT i = params->cArgs; i-- > 0;) {
      args.push_back(&params->rgvarg[i]);
      line += Describe(params->rgvarg[i]) + (i ? ", " : "");
    }
    line += ")";
    Failure failure = Check(member, flags, *params, args);
    if (SUCCEEDED(failure.hr)) {
      const HRESULT planned = server_.store.Failure(std::string(info_.name) + "." + member.name);
      if (FAILED(planned)) failure = {planned, L"The operation failed (scenario)."};
    }
    if (SUCCEEDED(failure.hr)) {
      // A caller may want no result; the members write one all the same.
      VARIANT scratch;
      VARIANT* out = result && flags != DISPATCH_PROPERTYPUT ? result : &scratch;
      VariantInit(out);
      failure = Handle(member.name, flags, args, out);
      if (out == &scratch || FAILED(failure.hr)) VariantClear(out);
    }
    char hr[16];
    std::snprintf(hr, sizeof hr, "0x%08lX", static_cast<unsigned long>(failure.hr));
    server_.store.Log(line + " -> " + hr);
    // A call that left nothing alive (a pinned application's) says so too.
    if (server_.live == 0) server_.store.Log("live 0");
    if (FAILED(failure.hr) && exception) {
      *exception = EXCEPINFO{};
      exception->bstrSource = SysAllocString(L"Stand-in Outlook");
      exception->bstrDescription = SysAllocString(failure.description);
      exception->scode = failure.hr;
      return DISP_E_EXCEPTION;
    }
    return failure.hr;
  }

 protected:
  virtual Failure Handle(const std::string& member, WORD flags, const std::vector<VARIANT*>& args,
                         VARIANT* result) = 0;

  Server& server_;

 private:
  // The dispatch flags and argument types the member's kind wants; a call
  // that does not match is refused and marked in the log.
  Failure Check(const Member& member, WORD flags, const DISPPARAMS& params,
                const std::vector<VARIANT*>& args) {
    const char* wrong = nullptr;
    if (flags == DISPATCH_PROPERTYGET) {
      if (!(member.kind & kGet)) wrong = "GET of no property";
      else if (!args.empty() || params.cNamedArgs) wrong = "GET with arguments";
    } else if (flags == DISPATCH_PROPERTYPUT) {
      if (!(member.kind & kPut)) wrong = "PUT of no settable property";
      else if (args.size() != 1 || params.cNamedArgs != 1 ||
               params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) {
        wrong = "PUT without its one named argument";
      } else if (args[0]->vt != member.types[0]) {
        wrong = "PUT of a value of the wrong type";
      }
    } else if (flags == DISPATCH_METHOD) {
      if (member.kind != kMethod) wrong = "METHOD call of a property";
      else if (args.size() != member.types.size() || params.cNamedArgs) wrong = "argument count";
      for (size_t i = 0; !wrong && i < args.size(); ++i) {
        if (args[i]->vt != member.types[i]) wrong = "argument of the wrong type";
      }
    } else {
      wrong = "dispatch flags";
    }
    if (!wrong) return {S_OK, L""};
    server_.store.Log(std::string("! ") + info_.name + "." + member.name + ": " + wrong);
    return {DISP_E_TYPEMISMATCH, L"Type mismatch."};
  }

  LONG refs_ = 1;
  const ClassInfo& info_;
  const bool counted_;
};

void PutObject(VARIANT* result, Object* object) {
  result->vt = VT_DISPATCH;
  result->pdispVal = object;  // the new object's reference goes to the caller
}

std::string Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_BSTR:
      return "VT_BSTR " + (v.bstrVal ? Quoted(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)))
                                     : std::string("null"));
    case VT_I4:
      return "VT_I4 " + std::to_string(v.lVal);
    case VT_BOOL:
      return "VT_BOOL " + std::to_string(v.boolVal);
    case VT_DISPATCH: {
      void* self = nullptr;
      if (v.pdispVal && SUCCEEDED(v.pdispVal->QueryInterface(kIidSelf, &self))) {
        return std::string("VT_DISPATCH ") + static_cast<Object*>(self)->info().name;
      }
      return v.pdispVal ? "VT_DISPATCH foreign" : "VT_DISPATCH null";
    }
    default:
      return "VT_" + std::to_string(v.vt);
  }
}

std::wstring ArgString(const VARIANT* v) {
  return v->bstrVal ? std::wstring(v->bstrVal, SysStringLen(v->bstrVal)) : std::wstring();
}

const Failure kOk{S_OK, L""};
const Failure kGone{E_FAIL, L"The item has been moved or deleted."};

bool ReadText(const std::wstring& path, std::string* text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char chunk[8192];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) text->append(chunk, got);
  CloseHandle(file);
  return true;
}

bool WriteText(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
                  put == text.size();
  CloseHandle(file);
  return ok;
}

// The value of "NAME:" (or "NAME;...:") on a line of a vObject text.
std::string Field(const std::string& text, const std::string& name) {
  size_t at = 0;
  while ((at = text.find(name, at)) != std::string::npos) {
    const bool line_start = at == 0 || text[at - 1] == '\n';
    const size_t after = at + name.size();
    if (line_start && after < text.size() && (text[after] == ':' || text[after] == ';')) {
      const size_t colon = text.find(':', after);
      const size_t end = text.find_first_of("\r\n", colon);
      return text.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
    }
    at = after;
  }
  return std::string();
}

class Attachment : public Object {
 public:
  Attachment(Server& server, RecordPtr record, size_t index)
      : Object(server, kAttachment), record_(std::move(record)), index_(index) {}

 protected:
  Failure Handle(const std::string& member, WORD, const std::vector<VARIANT*>& args,
                 VARIANT* result) override {
    const auto& list = record_->data["attachments"];
    if (record_->deleted || index_ >= list.size()) return kGone;
    if (member == "FileName") {
      PutString(result, Wide(list[index_].value("name", "")));
      return kOk;
    }
    const std::wstring from = Wide(list[index_].value("file", ""));
    if (!CopyFileW(from.c_str(), ArgString(args[0]).c_str(), FALSE)) {
      return {E_FAIL, L"Cannot save the attachment."};
    }
    return kOk;
  }

 private:
  RecordPtr record_;
  size_t index_;
};

class Attachments : public Object {
 public:
  Attachments(Server& server, RecordPtr record)
      : Object(server, kAttachments), record_(std::move(record)) {
    if (!record_->data.contains("attachments")) record_->data["attachments"] = nlohmann::json::array();
  }

 protected:
  Failure Handle(const std::string& member, WORD, const std::vector<VARIANT*>& args,
                 VARIANT* result) override {
    if (record_->deleted) return kGone;
    auto& list = record_->data["attachments"];
    if (member == "Count") {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(list.size());
      return kOk;
    }
    if (member == "Item") {
      const LONG index = args[0]->lVal;
      if (index < 1 || index > static_cast<LONG>(list.size())) {
        return {DISP_E_BADINDEX, L"Array index out of bounds."};
      }
      PutObject(result, new Attachment(server_, record_, static_cast<size_t>(index - 1)));
      return kOk;
    }
    // Add(source, type, position, display name)
    const std::wstring stored = server_.store.NewAttachmentPath();
    if (args[1]->lVal != 1 || !CopyFileW(ArgString(args[0]).c_str(), stored.c_str(), FALSE)) {
      return {E_FAIL, L"Cannot add the attachment."};
    }
    list.push_back({{"name", Utf8(ArgString(args[3]))}, {"file", Utf8(stored)}});
    PutObject(result, new Attachment(server_, record_, list.size() - 1));
    return kOk;
  }

 private:
  RecordPtr record_;
};

class Item : public Object {
 public:
  Item(Server& server, RecordPtr record)
      : Object(server, ClassOf(record->data.value("class", ""))), record_(std::move(record)) {}

 protected:
  Failure Handle(const std::string& member, WORD flags, const std::vector<VARIANT*>& args,
                 VARIANT* result) override {
    if (record_->deleted) return kGone;
    Store& store = server_.store;
    nlohmann::json& data = record_->data;
    if (member == "EntryID") {
      PutString(result, Wide(data.value("entry_id", "")));  // empty until saved
      return kOk;
    }
    if (member == "Save") {
      store.Commit(record_);
      return kOk;
    }
    if (member == "Delete") {
      store.Remove(record_);
      return kOk;
    }
    if (member == "Attachments") {
      PutObject(result, new Attachments(server_, record_));
      return kOk;
    }
    if (member == "Move") {
      void* self = nullptr;
      if (!args[0]->pdispVal || FAILED(args[0]->pdispVal->QueryInterface(kIidSelf, &self)) ||
          static_cast<Object*>(self)->info().name != std::string("Folder")) {
        return {E_INVALIDARG, L"Not a folder."};
      }
      // The moved item is a new item with an entry ID of its own.
      RecordPtr moved = store.Create(data.value("class", ""));
      moved->data = data;
      moved->data["entry_id"] = "";
      moved->data["folder"] = MoveTarget(self);
      record_->deleted = true;
      store.Commit(moved);
      PutObject(result, new Item(server_, moved));
      return kOk;
    }
    if (member == "SaveAs") {
      const LONG type = args[1]->lVal;
      const bool contact = info().name == std::string("ContactItem");
      if (contact ? type != 6 : (type != 7 && type != 8)) return {E_INVALIDARG, L"Bad format."};
      std::string text = data.value("card", "");
      if (text.empty()) {
        text = contact ? "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:" + Prop("FullName") + "\r\nEND:VCARD\r\n"
                       : "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:" +
                             Prop("Subject") + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
      }
      if (!WriteText(ArgString(args[0]), text)) return {E_FAIL, L"Cannot write the file."};
      return kOk;
    }
    // A property.
    const Member* info_member = nullptr;
    for (const Member& m : info().members) {
      if (member == m.name) info_member = &m;
    }
    nlohmann::json& props = data["props"];
    const VARTYPE type = info_member->types[0];
    if (flags == DISPATCH_PROPERTYPUT) {
      const VARIANT& v = *args[0];
      if (type == VT_BSTR) props[member] = Utf8(ArgString(&v));
      else if (type == VT_I4) props[member] = v.lVal;
      else if (type == VT_BOOL) props[member] = v.boolVal != VARIANT_FALSE;
      return kOk;
    }
    const auto found = props.find(member);
    if (type == VT_BSTR) {
      PutString(result, Wide(found != props.end() && found->is_string() ? found->get<std::string>()
                                                                       : std::string()));
    } else if (type == VT_I4) {
      result->vt = VT_I4;
      result->lVal = found != props.end() && found->is_number() ? found->get<LONG>() : 0;
    } else if (type == VT_BOOL) {
      result->vt = VT_BOOL;
      result->boolVal = found != props.end() && found->is_boolean() && found->get<bool>()
                            ? VARIANT_TRUE
                            : VARIANT_FALSE;
    } else if (type == VT_DATE) {
      result->vt = VT_DATE;
      // 4501-01-01, the store's "no date", for a mail never sent.
      result->date = found != props.end() && found->is_number() ? found->get<double>() : 949998.0;
    }
    return kOk;
  }

 private:
  std::string Prop(const char* name) {
    const auto& props = record_->data["props"];
    const auto found = props.find(name);
    return found != props.end() && found->is_string() ? found->get<std::string>() : std::string();
  }
  static int MoveTarget(void* folder);

  RecordPtr record_;
};

class Folder : public Object {
 public:
  Folder(Server& server, int number) : Object(server, kFolder), number_(number) {}
  int number() const { return number_; }

 protected:
  Failure Handle(const std::string&, WORD, const std::vector<VARIANT*>&, VARIANT* result) override;

 private:
  int number_;
};

int Item::MoveTarget(void* folder) { return static_cast<Folder*>(static_cast<Object*>(folder))->number(); }

class ItemsObject : public Object {
 public:
  ItemsObject(Server& server, int folder) : Object(server, kItems), folder_(folder) {}

 protected:
  Failure Handle(const std::string& member, WORD, const std::vector<VARIANT*>& args,
                 VARIANT* result) override {
    const std::vector<RecordPtr> items = server_.store.InFolder(folder_);
    if (member == "Count") {
      result->vt = VT_I4;
      result->lVal = static_cast<LONG>(items.size());
      return kOk;
    }
    const LONG index = args[0]->lVal;
    if (index < 1 || index > static_cast<LONG>(items.size())) {
      if (index == 0) server_.store.Log("! Items.Item: index 0 (indexes start at 1)");
      return {DISP_E_BADINDEX, L"Array index out of bounds."};
    }
    PutObject(result, new Item(server_, items[static_cast<size_t>(index - 1)]));
    return kOk;
  }

 private:
  int folder_;
};

Failure Folder::Handle(const std::string&, WORD, const std::vector<VARIANT*>&, VARIANT* result) {
  PutObject(result, new ItemsObject(server_, number_));
  return kOk;
}

class Namespace : public Object {
 public:
  explicit Namespace(Server& server) : Object(server, kNamespace) {}

 protected:
  Failure Handle(const std::string& member, WORD, const std::vector<VARIANT*>& args,
                 VARIANT* result) override {
    if (member == "GetDefaultFolder") {
      const LONG number = args[0]->lVal;
      if (number != 6 && number != 9 && number != 10 && number != 12 && number != 16) {
        return {E_INVALIDARG, L"No such default folder."};
      }
      PutObject(result, new Folder(server_, number));
      return kOk;
    }
    if (member == "Logoff") return kOk;
    // OpenSharedItem: a vCard or vCalendar file becomes a new, unsaved item.
    std::string text;
    if (!ReadText(ArgString(args[0]), &text)) return {E_FAIL, L"Cannot open the file."};
    RecordPtr record;
    if (text.find("BEGIN:VCARD") != std::string::npos) {
      record = server_.store.Create("contact");
      record->data["props"]["FullName"] = Field(text, "FN");
    } else if (text.find("BEGIN:VCALENDAR") != std::string::npos) {
      record = server_.store.Create("appointment");
      record->data["props"]["Subject"] = Field(text, "SUMMARY");
    } else {
      return {E_FAIL, L"Not a file the store can open."};
    }
    record->data["card"] = text;
    PutObject(result, new Item(server_, record));
    return kOk;
  }
};

class Explorer : public Object {
 public:
  explicit Explorer(Server& server) : Object(server, kExplorer) {}

 protected:
  Failure Handle(const std::string&, WORD, const std::vector<VARIANT*>&, VARIANT* result) override {
    PutString(result, L"Inbox - Stand-in Outlook");
    return kOk;
  }
};

class Application : public Object {
 public:
  Application(Server& server, bool pinned) : Object(server, kApplication, !pinned) {}

 protected:
  Failure Handle(const std::string& member, WORD, const std::vector<VARIANT*>& args,
                 VARIANT* result) override {
    Store& store = server_.store;
    // The test changes the store between sessions, while nothing is open.
    if (server_.live <= (server_.embedded ? 1 : 0)) store.ReloadIfChanged();
    if (member == "ActiveExplorer") {
      if (store.window()) {
        PutObject(result, new Explorer(server_));
      } else {
        result->vt = VT_DISPATCH;
        result->pdispVal = nullptr;
      }
      return kOk;
    }
    if (member == "Session") {
      PutObject(result, new Namespace(server_));
      return kOk;
    }
    if (member == "GetNamespace") {
      if (ArgString(args[0]) != L"MAPI") return {E_INVALIDARG, L"Unknown namespace."};
      PutObject(result, new Namespace(server_));
      return kOk;
    }
    if (member == "CreateItem") {
      const LONG type = args[0]->lVal;
      if (type != 0 && type != 5) return {E_INVALIDARG, L"Unsupported item type."};
      PutObject(result, new Item(server_, store.Create(type == 0 ? "mail" : "note")));
      return kOk;
    }
    server_.quit = true;  // Quit: gone once every object is released
    return kOk;
  }
};

}  // namespace

IDispatch* NewApplication(Server& server, bool pinned) { return new Application(server, pinned); }

}  // namespace standin
