// Contacts: one vCard per .vcf file of the contacts vdir.
#include <optional>

#include "local/stored_item.h"
#include "local/vcard.h"

namespace zelsync {
namespace local {
namespace {

class LocalContact : public outlook::Item,
                     public outlook::ContactItem,
                     public std::enable_shared_from_this<LocalContact> {
 public:
  // A contact of the folder, read when a property is first asked for.
  LocalContact(std::shared_ptr<Store> store, const ItemFile& file) : file_(std::move(store), file) {}
  // A new contact made from a received card.
  LocalContact(std::shared_ptr<Store> store, VCard card) : file_(std::move(store), FolderKind::kContacts) {
    card_ = std::move(card);
    loaded_ = parsed_ = true;
  }

  std::shared_ptr<outlook::MailItem> QueryMail() override { return nullptr; }
  std::shared_ptr<outlook::NoteItem> QueryNote() override { return nullptr; }
  std::shared_ptr<outlook::ContactItem> QueryContact() override { return shared_from_this(); }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override { return nullptr; }

  bool EntryID(outlook::OptString* entry_id) override { return file_.EntryId(entry_id); }
  bool ReserveEntryID(WString* entry_id) override { return file_.Reserve(NewItemStem(), entry_id); }

  // A card read from the folder is written back as it was; a new card is
  // written in the store's form, its UID the same as its file's name.
  bool Save() override {
    if (!Load()) return false;
    if (!file_.saved()) {
      std::string stem = file_.NewStem(NewItemStem());
      std::string content = VCardForStore(card_, stem);
      if (!file_.Write(".vcf", content, stem)) return false;
      text_ = std::move(content);
      return true;
    }
    return file_.Write(".vcf", text_);
  }

  bool Delete() override { return file_.Remove(); }

  bool FullName(outlook::OptString* value) override {
    if (!Load()) return false;
    std::optional<std::string> name = VCardFullName(card_);
    *value = name ? outlook::OptString(Utf8ToUtf16(*name)) : std::nullopt;
    return true;
  }

  bool SaveAs(const WString& path, int32_t type) override {
    if (type != outlook::kSaveAsVCard || !Load()) return false;
    return WriteHandedFile(NativePath(path), VCardAs21(card_));
  }

 private:
  bool Load() {
    if (!loaded_) {
      loaded_ = true;
      parsed_ = ReadWholeFile(file_.path(), &text_) && ParseVCard(text_, &card_);
    }
    return parsed_;
  }

  StoredFile file_;
  bool loaded_ = false;
  bool parsed_ = false;  // false: the file cannot be read or holds no vCard
  std::string text_;
  VCard card_;
};

}  // namespace

std::shared_ptr<outlook::Item> MakeContactItem(const std::shared_ptr<Store>& store, const ItemFile& file) {
  return std::make_shared<LocalContact>(store, file);
}

std::shared_ptr<outlook::Item> ContactFromText(const std::shared_ptr<Store>& store, const std::string& text) {
  VCard card;
  if (!ParseVCard(text, &card)) return nullptr;
  return std::make_shared<LocalContact>(store, std::move(card));
}

}  // namespace local
}  // namespace zelsync
