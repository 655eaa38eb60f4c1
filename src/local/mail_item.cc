// Mail: RFC 5322 messages in the Inbox Maildir, read and built with GMime.
// New mail is kept in the drafts Maildir until Move files it into the
// Inbox. The Maildir flags are part of the file's name (":2,<flags>"): "S"
// (seen) is the opposite of UnRead, "D" marks a draft.
#include <gmime/gmime.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

#include "local/stored_item.h"
#include "local/versit.h"

namespace zelsync {
namespace local {
namespace {

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// A counted GObject reference.
template <typename T>
class GRef {
 public:
  GRef() = default;
  explicit GRef(T* object) : object_(object) {}  // adopts a reference
  GRef(const GRef& other) : object_(other.object_) {
    if (object_) g_object_ref(object_);
  }
  GRef& operator=(GRef other) {
    std::swap(object_, other.object_);
    return *this;
  }
  ~GRef() {
    if (object_) g_object_unref(object_);
  }
  static GRef Share(T* object) {
    if (object) g_object_ref(object);
    return GRef(object);
  }
  T* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

// "No date" of the object model: 4501-01-01.
constexpr double kNoDate = 949998.0;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string MaildirFlags(const std::string& path) {
  std::string name = BaseName(path);
  size_t info = name.find(":2,");
  return info == std::string::npos ? std::string() : name.substr(info + 3);
}

// Flags in the order the Maildir convention asks for (ASCII order).
std::string WithFlag(std::string flags, char flag, bool on) {
  flags.erase(std::remove(flags.begin(), flags.end(), flag), flags.end());
  if (on) flags += flag;
  std::sort(flags.begin(), flags.end());
  return flags;
}

bool IsAttachmentPart(GMimeObject* object) {
  if (!GMIME_IS_PART(object)) return false;
  if (g_mime_part_is_attachment(GMIME_PART(object))) return true;
  if (g_mime_part_get_filename(GMIME_PART(object))) return true;
  GMimeContentType* type = g_mime_object_get_content_type(object);
  return type && !g_mime_content_type_is_type(type, "text", "*") &&
         !g_mime_content_type_is_type(type, "multipart", "*");
}

// A scheduling message (a meeting request, its answer or its cancellation)
// carries a text/calendar part with a METHOD other than PUBLISH.
bool IsSchedulingPart(GMimeObject* object) {
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (!type || !g_mime_content_type_is_type(type, "text", "calendar")) return false;
  const char* method = g_mime_content_type_get_parameter(type, "method");
  std::string value = method ? method : "";
  if (value.empty() && GMIME_IS_TEXT_PART(object)) {
    char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(object));
    std::string content = text ? text : "";
    g_free(text);
    size_t at = content.find("METHOD:");
    if (at != std::string::npos) value = content.substr(at + 7, content.find_first_of("\r\n", at) - at - 7);
  }
  value = Lower(value);
  return !value.empty() && value != "publish";
}

// The first address of `list` as a mail reader shows it: "Name <address>",
// the address alone when there is no name, the name of a group that holds
// no address. The phone gets the sender with the address, so that a mail it
// sends back, or a reply, still reaches that person.
std::string FirstAddress(InternetAddressList* list, bool* found) {
  *found = false;
  if (!list || internet_address_list_length(list) < 1) return std::string();
  InternetAddress* address = internet_address_list_get_address(list, 0);
  *found = true;
  const char* name = internet_address_get_name(address);
  if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
    const char* addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
    if (addr && *addr) {
      if (!name || !*name) return addr;
      char* text = internet_address_to_string(address, nullptr, FALSE);
      std::string shown = text ? text : addr;
      g_free(text);
      return shown;
    }
  }
  return name ? name : "";
}

std::string EscapeHtml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

GRef<GMimeStream> MemoryStream(const std::string& bytes) {
  return GRef<GMimeStream>(
      g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
}

std::string DecodedContent(GMimePart* part) {
  GMimeDataWrapper* content = g_mime_part_get_content(part);
  if (!content) return std::string();
  GRef<GMimeStream> out(g_mime_stream_mem_new());
  g_mime_data_wrapper_write_to_stream(content, out.get());
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
  return bytes ? std::string(reinterpret_cast<const char*>(bytes->data), bytes->len) : std::string();
}

class LocalMail;

class LocalAttachment : public outlook::Attachment {
 public:
  explicit LocalAttachment(GRef<GMimePart> part) : part_(std::move(part)) {}
  bool FileName(outlook::OptString* name) override {
    const char* file_name = g_mime_part_get_filename(part_.get());
    *name = file_name ? outlook::OptString(Utf8ToUtf16(ToValidUtf8(file_name))) : std::nullopt;
    return true;
  }
  bool SaveAsFile(const WString& path) override {
    return WriteHandedFile(NativePath(path), DecodedContent(part_.get()));
  }

 private:
  GRef<GMimePart> part_;
};

class LocalAttachments : public outlook::Attachments {
 public:
  explicit LocalAttachments(std::shared_ptr<LocalMail> mail) : mail_(std::move(mail)) {}
  bool Count(int32_t* count) override;
  bool Item(int32_t index, std::shared_ptr<outlook::Attachment>* attachment) override;
  bool Add(const WString& source, int32_t type, int32_t position, const WString& display_name) override;

 private:
  std::shared_ptr<LocalMail> mail_;
};

class LocalMail : public outlook::Item, public outlook::MailItem, public std::enable_shared_from_this<LocalMail> {
 public:
  LocalMail(std::shared_ptr<Store> store, const ItemFile& file) : file_(std::move(store), file) {
    flags_ = MaildirFlags(file.path);
  }
  explicit LocalMail(std::shared_ptr<Store> store) : file_(std::move(store), FolderKind::kDrafts) {
    InitGMime();
    message_ = GRef<GMimeMessage>(g_mime_message_new(TRUE));
    loaded_ = true;
    content_dirty_ = true;
  }

  std::shared_ptr<outlook::MailItem> QueryMail() override {
    if (Load() && scheduling_) return nullptr;
    return shared_from_this();
  }
  std::shared_ptr<outlook::NoteItem> QueryNote() override { return nullptr; }
  std::shared_ptr<outlook::ContactItem> QueryContact() override { return nullptr; }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override { return nullptr; }

  bool EntryID(outlook::OptString* entry_id) override { return file_.EntryId(entry_id); }
  // The mail keeps the name, and so the entry ID, when it moves to the Inbox.
  bool ReserveEntryID(WString* entry_id) override {
    return file_.Reserve(NewMaildirStem(), entry_id);
  }

  bool Save() override {
    if (!Load() || file_.deleted()) return false;
    if (!file_.saved()) {
      std::string stem = file_.NewStem(NewMaildirStem());
      std::string folder = file_.store()->FolderPath(FolderKind::kDrafts);
      std::string flags = WithFlag(flags_, 'D', true);
      std::string path = folder + "/cur/" + stem + ":2," + flags;
      if (!WriteThenRename(folder + "/tmp/" + stem, path, Serialize())) return false;
      file_.Place(FolderKind::kDrafts, stem, path);
      flags_ = flags;
      content_dirty_ = false;
      return true;
    }
    ItemFile current;
    if (!file_.store()->Find(file_.folder(), file_.stem(), &current)) return false;  // gone meanwhile
    std::string path = current.path;
    if (content_dirty_) {
      std::string tmp = file_.store()->FolderPath(file_.folder()) + "/tmp/" + file_.stem();
      if (!WriteThenRename(tmp, path, Serialize())) return false;
      content_dirty_ = false;
    }
    // Flags set by other programs since the message was read are kept; only
    // "S" follows UnRead.
    std::string flags = WithFlag(MaildirFlags(path), 'S', !unread_);
    if (file_.folder() == FolderKind::kDrafts) flags = WithFlag(flags, 'D', true);
    std::string target = file_.store()->FolderPath(file_.folder()) + "/cur/" + file_.stem() + ":2," + flags;
    if (target != path && !RenameFile(path, target)) return false;
    file_.Place(file_.folder(), file_.stem(), target);
    flags_ = flags;
    file_.store()->ItemWritten(ItemFile{file_.folder(), file_.stem(), target});
    return true;
  }

  bool Delete() override {
    if (file_.deleted()) return false;
    if (file_.saved()) {
      ItemFile current;
      if (file_.store()->Find(file_.folder(), file_.stem(), &current) && !RemoveFile(current.path) &&
          FileExists(current.path)) {
        return false;
      }
      file_.store()->ItemRemoved(file_.folder(), file_.stem());
    }
    file_.MarkDeleted();
    return true;
  }

  bool Move(const std::shared_ptr<outlook::Folder>& folder, std::shared_ptr<outlook::MailItem>* moved) override {
    FolderKind target_kind;
    if (!folder || !FolderKindOf(folder, &target_kind) || target_kind != FolderKind::kInbox) return false;
    if (!Load() || file_.deleted()) return false;
    if ((!file_.saved() || content_dirty_) && !Save()) return false;
    if (file_.folder() != FolderKind::kInbox) {
      ItemFile current;
      if (!file_.store()->Find(file_.folder(), file_.stem(), &current)) return false;
      std::string flags = WithFlag(WithFlag(MaildirFlags(current.path), 'D', false), 'S', !unread_);
      std::string target =
          file_.store()->FolderPath(FolderKind::kInbox) + "/cur/" + file_.stem() + ":2," + flags;
      if (!RenameFile(current.path, target)) return false;
      file_.Place(FolderKind::kInbox, file_.stem(), target);
      flags_ = flags;
      file_.store()->ItemWritten(ItemFile{FolderKind::kInbox, file_.stem(), target});
    }
    *moved = shared_from_this();
    return true;
  }

  bool SenderName(outlook::OptString* value) override {
    if (!Load()) return false;
    bool found = false;
    std::string name = FirstAddress(g_mime_message_get_sender(message_.get()), &found);
    if (!found) name = FirstAddress(g_mime_message_get_from(message_.get()), &found);
    *value = found ? outlook::OptString(Text(name)) : std::nullopt;
    return true;
  }

  bool SentOnBehalfOfName(outlook::OptString* value) override {
    if (!Load()) return false;
    bool found = false;
    std::string name = FirstAddress(g_mime_message_get_from(message_.get()), &found);
    *value = found ? outlook::OptString(Text(name)) : std::nullopt;
    return true;
  }

  bool PutSentOnBehalfOfName(const WString& value) override {
    if (!Load()) return false;
    return PutAddresses(g_mime_message_get_from(message_.get()), "From", value, true);
  }

  bool To(outlook::OptString* value) override { return Addresses(GMIME_ADDRESS_TYPE_TO, "To", value); }
  bool PutTo(const WString& value) override {
    if (!Load()) return false;
    return PutAddresses(g_mime_message_get_addresses(message_.get(), GMIME_ADDRESS_TYPE_TO), "To", value, false);
  }
  bool CC(outlook::OptString* value) override { return Addresses(GMIME_ADDRESS_TYPE_CC, "Cc", value); }
  bool PutCC(const WString& value) override {
    if (!Load()) return false;
    return PutAddresses(g_mime_message_get_addresses(message_.get(), GMIME_ADDRESS_TYPE_CC), "Cc", value, false);
  }

  bool Subject(outlook::OptString* value) override {
    if (!Load()) return false;
    const char* subject = g_mime_message_get_subject(message_.get());
    *value = subject ? outlook::OptString(Text(subject)) : std::nullopt;
    return true;
  }

  bool PutSubject(const WString& value) override {
    if (!Load()) return false;
    g_mime_message_set_subject(message_.get(), Utf16ToUtf8(value).c_str(), "utf-8");
    content_dirty_ = true;
    return true;
  }

  // The Date header as local time, the way the object model gives dates.
  bool SentOn(double* date) override {
    if (!Load()) return false;
    GDateTime* sent = g_mime_message_get_date(message_.get());
    if (!sent) {
      *date = kNoDate;
      return true;
    }
    GDateTime* local = g_date_time_to_local(sent);
    if (!local) return false;
    double seconds = static_cast<double>(g_date_time_to_unix(local)) +
                     static_cast<double>(g_date_time_get_utc_offset(local)) / G_TIME_SPAN_SECOND;
    g_date_time_unref(local);
    *date = seconds / 86400.0 + 25569.0;
    return true;
  }

  bool Importance(int32_t* value) override {
    if (!Load()) return false;
    GMimeObject* object = GMIME_OBJECT(message_.get());
    const char* importance = g_mime_object_get_header(object, "Importance");
    const char* priority = g_mime_object_get_header(object, "X-Priority");
    *value = 1;
    if (importance) {
      std::string text = Lower(ToValidUtf8(importance));
      text.erase(0, text.find_first_not_of(" \t"));
      if (text.compare(0, 4, "high") == 0) *value = 2;
      else if (text.compare(0, 3, "low") == 0) *value = 0;
    } else if (priority) {
      std::string text = priority;
      size_t digit = text.find_first_of("0123456789");
      if (digit != std::string::npos) {
        char c = text[digit];
        *value = c == '1' || c == '2' ? 2 : c == '4' || c == '5' ? 0 : 1;
      }
    }
    return true;
  }

  bool PutImportance(int32_t value) override {
    if (!Load() || value < 0 || value > 2) return false;
    static const char* const kImportance[] = {"low", "normal", "high"};
    static const char* const kPriority[] = {"5", "3", "1"};
    GMimeObject* object = GMIME_OBJECT(message_.get());
    g_mime_object_set_header(object, "Importance", kImportance[value], nullptr);
    g_mime_object_set_header(object, "X-Priority", kPriority[value], nullptr);
    content_dirty_ = true;
    return true;
  }

  bool HTMLBody(outlook::OptString* value) override {
    if (!Load()) return false;
    GMimeObject* html = FindText(body_.get(), "html");
    if (html) {
      *value = Text(TextOf(html));
    } else if (GMimeObject* plain = FindText(body_.get(), "plain")) {
      *value = Text("<html><body><pre>" + EscapeHtml(TextOf(plain)) + "</pre></body></html>");
    } else {
      *value = std::nullopt;
    }
    return true;
  }

  bool PutHTMLBody(const WString& value) override {
    if (!Load()) return false;
    GMimeTextPart* part = g_mime_text_part_new_with_subtype("html");
    g_mime_text_part_set_text(part, Utf16ToUtf8(value).c_str());
    // Base64 keeps the text exactly, a missing final line break included.
    g_mime_part_set_content_encoding(GMIME_PART(part), GMIME_CONTENT_ENCODING_BASE64);
    body_ = GRef<GMimeObject>(GMIME_OBJECT(part));
    content_dirty_ = true;
    return true;
  }

  bool UnRead(bool* value) override {
    if (!Load()) return false;
    *value = unread_;
    return true;
  }

  bool PutUnRead(bool value) override {
    if (!Load()) return false;
    unread_ = value;
    return true;
  }

  // Messages are built as MIME; the HTML body is always HTML.
  bool PutBodyFormat(int32_t format) override { return Load() && format == outlook::kBodyFormatHtml; }

  bool GetAttachments(std::shared_ptr<outlook::Attachments>* attachments) override {
    if (!Load()) return false;
    *attachments = std::make_shared<LocalAttachments>(shared_from_this());
    return true;
  }

  std::vector<GRef<GMimePart>>& attachment_parts() { return attachments_; }
  void MarkContentChanged() { content_dirty_ = true; }

 private:
  outlook::OptString Text(const std::string& utf8) const { return Utf8ToUtf16(ToValidUtf8(utf8)); }

  bool Load() {
    if (loaded_) return message_ && !parse_failed_;
    loaded_ = true;
    InitGMime();
    std::string bytes;
    if (!ReadWholeFile(file_.path(), &bytes)) {
      parse_failed_ = true;
      return false;
    }
    GRef<GMimeStream> stream = MemoryStream(bytes);
    GRef<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    message_ = GRef<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
    if (!message_) {
      parse_failed_ = true;
      return false;
    }
    unread_ = flags_.find('S') == std::string::npos;
    Split(g_mime_message_get_mime_part(message_.get()));
    return true;
  }

  // Tells the body from the attachments: the body is the first part of a
  // multipart/mixed that is not an attachment (or the whole message), and
  // the attachments are the attachment parts at any depth (inside
  // multipart/related or multipart/alternative too), in their order.
  void Split(GMimeObject* top) {
    if (!top) return;
    if (IsSchedulingPart(top)) scheduling_ = true;
    if (GMIME_IS_MULTIPART(top)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(top);
      int count = g_mime_multipart_get_count(multipart);
      for (int i = 0; i < count; ++i) {
        if (IsSchedulingPart(g_mime_multipart_get_part(multipart, i))) scheduling_ = true;
      }
      GMimeContentType* type = g_mime_object_get_content_type(top);
      if (type && g_mime_content_type_is_type(type, "multipart", "mixed")) {
        for (int i = 0; i < count; ++i) {
          GMimeObject* child = g_mime_multipart_get_part(multipart, i);
          if (!body_ && !IsAttachmentPart(child)) {
            body_ = GRef<GMimeObject>::Share(child);
            CollectAttachments(child);
          } else if (GMIME_IS_PART(child)) {
            attachments_.push_back(GRef<GMimePart>::Share(GMIME_PART(child)));
          } else {
            extra_.push_back(GRef<GMimeObject>::Share(child));
            CollectAttachments(child);
          }
        }
        return;
      }
    }
    if (IsAttachmentPart(top)) {
      attachments_.push_back(GRef<GMimePart>::Share(GMIME_PART(top)));
    } else {
      body_ = GRef<GMimeObject>::Share(top);
      CollectAttachments(top);
    }
  }

  void CollectAttachments(GMimeObject* object) {
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
        CollectAttachments(g_mime_multipart_get_part(multipart, i));
      }
    } else if (IsAttachmentPart(object)) {
      attachments_.push_back(GRef<GMimePart>::Share(GMIME_PART(object)));
    }
  }

  static bool Contains(GMimeObject* tree, GMimeObject* part) {
    if (tree == part) return true;
    if (!tree || !GMIME_IS_MULTIPART(tree)) return false;
    GMimeMultipart* multipart = GMIME_MULTIPART(tree);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
      if (Contains(g_mime_multipart_get_part(multipart, i), part)) return true;
    }
    return false;
  }

  // An attachment that lies inside the body or another kept part travels
  // with it; the others are parts of the top multipart/mixed.
  bool InsideKeptPart(GMimeObject* part) const {
    if (Contains(body_.get(), part)) return true;
    for (const auto& kept : extra_) {
      if (Contains(kept.get(), part)) return true;
    }
    return false;
  }

  // The first text part of that subtype in the body, outside attachments.
  static GMimeObject* FindText(GMimeObject* object, const char* subtype) {
    if (!object) return nullptr;
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multipart = GMIME_MULTIPART(object);
      for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
        if (GMimeObject* found = FindText(g_mime_multipart_get_part(multipart, i), subtype)) return found;
      }
      return nullptr;
    }
    if (!GMIME_IS_TEXT_PART(object) || IsAttachmentPart(object)) return nullptr;
    GMimeContentType* type = g_mime_object_get_content_type(object);
    return type && g_mime_content_type_is_type(type, "text", subtype) ? object : nullptr;
  }

  static std::string TextOf(GMimeObject* part) {
    char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
    std::string out = text ? text : "";
    g_free(text);
    return out;
  }

  bool Addresses(GMimeAddressType type, const char* header, outlook::OptString* value) {
    if (!Load()) return false;
    if (!g_mime_object_get_header(GMIME_OBJECT(message_.get()), header)) {
      *value = std::nullopt;
      return true;
    }
    InternetAddressList* list = g_mime_message_get_addresses(message_.get(), type);
    char* text = list ? internet_address_list_to_string(list, nullptr, FALSE) : nullptr;
    *value = Text(text ? text : "");
    g_free(text);
    return true;
  }

  // Sets an address header from text: a list of addresses when it reads as
  // one, else a single name without address; empty text removes it.
  bool PutAddresses(InternetAddressList* list, const char* header, const WString& value, bool single) {
    if (!list) return false;
    std::string text = Utf16ToUtf8(value);
    internet_address_list_clear(list);
    if (!text.empty()) {
      GRef<InternetAddressList> parsed(internet_address_list_parse(nullptr, text.c_str()));
      bool usable = parsed && internet_address_list_length(parsed.get()) > 0;
      if (usable && single) usable = internet_address_list_length(parsed.get()) == 1;
      if (usable) {
        internet_address_list_append(list, parsed.get());
      } else {
        // A name without an address is kept as an empty group ("Name: ;"),
        // which reads back with that name; a mailbox with an empty address
        // ("Name <>") would read back as no address at all.
        GRef<InternetAddress> name(internet_address_group_new(text.c_str()));
        internet_address_list_add(list, name.get());
      }
    } else {
      // An empty header line is not written well; no header reads as null.
      g_mime_object_remove_header(GMIME_OBJECT(message_.get()), header);
    }
    content_dirty_ = true;
    return true;
  }

  // The message with its body and attachments put together again when they
  // changed.
  std::string Serialize() {
    if (content_dirty_) {
      GMimeObject* top = body_.get();
      GRef<GMimeMultipart> mixed;
      std::vector<GMimeObject*> loose;
      for (auto& part : attachments_) {
        if (!InsideKeptPart(GMIME_OBJECT(part.get()))) loose.push_back(GMIME_OBJECT(part.get()));
      }
      if (!loose.empty() || !extra_.empty()) {
        mixed = GRef<GMimeMultipart>(g_mime_multipart_new_with_subtype("mixed"));
        if (body_) g_mime_multipart_add(mixed.get(), body_.get());
        for (GMimeObject* part : loose) g_mime_multipart_add(mixed.get(), part);
        for (auto& part : extra_) g_mime_multipart_add(mixed.get(), part.get());
        top = GMIME_OBJECT(mixed.get());
      }
      if (!top) {
        GMimeTextPart* empty = g_mime_text_part_new_with_subtype("plain");
        g_mime_text_part_set_text(empty, "");
        body_ = GRef<GMimeObject>(GMIME_OBJECT(empty));
        top = body_.get();
      }
      g_mime_message_set_mime_part(message_.get(), top);
      if (!g_mime_message_get_message_id(message_.get())) {
        char* id = g_mime_utils_generate_message_id("zelsync.local");
        g_mime_message_set_message_id(message_.get(), id);
        g_free(id);
      }
    }
    char* text = g_mime_object_to_string(GMIME_OBJECT(message_.get()), nullptr);
    std::string out = text ? text : "";
    g_free(text);
    return out;
  }

  StoredFile file_;
  bool loaded_ = false;
  bool parse_failed_ = false;
  bool scheduling_ = false;
  bool content_dirty_ = false;
  bool unread_ = false;
  std::string flags_;
  GRef<GMimeMessage> message_;
  GRef<GMimeObject> body_;
  std::vector<GRef<GMimePart>> attachments_;
  std::vector<GRef<GMimeObject>> extra_;  // other parts of a multipart/mixed, kept as they are
};

bool LocalAttachments::Count(int32_t* count) {
  *count = static_cast<int32_t>(std::min<size_t>(mail_->attachment_parts().size(), INT32_MAX));
  return true;
}

bool LocalAttachments::Item(int32_t index, std::shared_ptr<outlook::Attachment>* attachment) {
  auto& parts = mail_->attachment_parts();
  if (index < 1 || static_cast<size_t>(index) > parts.size()) return false;
  *attachment = std::make_shared<LocalAttachment>(parts[static_cast<size_t>(index) - 1]);
  return true;
}

bool LocalAttachments::Add(const WString& source, int32_t type, int32_t position, const WString& display_name) {
  if (type != outlook::kAttachByValue) return false;
  std::string path = NativePath(source);
  std::string content;
  if (!ReadWholeFile(path, &content)) return false;
  // The shown name is a file name: a path given as the name keeps only its
  // last part.
  std::string name = BaseName(Utf16ToUtf8(display_name.empty() ? source : display_name));
  GRef<GMimePart> part(g_mime_part_new_with_type("application", "octet-stream"));
  g_mime_part_set_filename(part.get(), name.c_str());
  GRef<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(content.data(), content.size()));
  GRef<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part.get(), wrapper.get());
  g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
  auto& parts = mail_->attachment_parts();
  size_t at = position >= 1 && static_cast<size_t>(position) <= parts.size() ? static_cast<size_t>(position) - 1
                                                                              : parts.size();
  parts.insert(parts.begin() + static_cast<std::ptrdiff_t>(at), part);
  mail_->MarkContentChanged();
  return true;
}

}  // namespace

std::shared_ptr<outlook::Item> MakeMailItem(const std::shared_ptr<Store>& store, const ItemFile& file) {
  return std::make_shared<LocalMail>(store, file);
}

std::shared_ptr<outlook::Item> NewMailItem(const std::shared_ptr<Store>& store) {
  return std::make_shared<LocalMail>(store);
}

}  // namespace local
}  // namespace zelsync
