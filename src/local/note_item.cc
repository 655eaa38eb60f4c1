// Notes: one UTF-8 text file per note; the body is the file's text.
#include "local/stored_item.h"

namespace zelsync {
namespace local {
namespace {

class LocalNote : public outlook::Item, public outlook::NoteItem, public std::enable_shared_from_this<LocalNote> {
 public:
  LocalNote(std::shared_ptr<Store> store, const ItemFile& file) : file_(std::move(store), file) {}
  explicit LocalNote(std::shared_ptr<Store> store) : file_(std::move(store), FolderKind::kNotes) {
    loaded_ = true;
  }

  std::shared_ptr<outlook::MailItem> QueryMail() override { return nullptr; }
  std::shared_ptr<outlook::NoteItem> QueryNote() override { return shared_from_this(); }
  std::shared_ptr<outlook::ContactItem> QueryContact() override { return nullptr; }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override { return nullptr; }

  bool EntryID(outlook::OptString* entry_id) override { return file_.EntryId(entry_id); }
  bool ReserveEntryID(WString* entry_id) override { return file_.Reserve(NewItemStem(), entry_id); }

  bool Save() override {
    if (!Load()) return false;
    return file_.Write(".txt", body_ ? Utf16ToUtf8(*body_) : std::string());
  }

  bool Delete() override { return file_.Remove(); }

  bool Body(outlook::OptString* value) override {
    if (!Load()) return false;
    *value = body_;
    return true;
  }

  bool PutBody(const WString& value) override {
    if (!Load()) return false;
    body_ = value;
    return true;
  }

 private:
  bool Load() {
    if (!loaded_) {
      std::string text;
      if (!ReadWholeFile(file_.path(), &text)) return false;
      if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // a byte-order mark
      body_ = Utf8ToUtf16(text);
      loaded_ = true;
    }
    return true;
  }

  StoredFile file_;
  bool loaded_ = false;
  outlook::OptString body_;  // null for a new note until PutBody
};

}  // namespace

std::shared_ptr<outlook::Item> MakeNoteItem(const std::shared_ptr<Store>& store, const ItemFile& file) {
  return std::make_shared<LocalNote>(store, file);
}

std::shared_ptr<outlook::Item> NewNoteItem(const std::shared_ptr<Store>& store) {
  return std::make_shared<LocalNote>(store);
}

}  // namespace local
}  // namespace zelsync
