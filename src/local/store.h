// The local item store: one root folder holding
//   contacts/       a vdir of vCards (<name>.vcf)
//   calendar/       a vdir of iCalendar files (<name>.ics)
//   mail/inbox/     a Maildir (cur/, new/, tmp/): the Inbox
//   mail/drafts/    a Maildir of new mail not yet filed into the Inbox
//   notes/          UTF-8 text files (<name>.txt)
// The root is $ZELSYNC_STORE when set, else $XDG_DATA_HOME/zelsync when
// XDG_DATA_HOME is an absolute path, else $HOME/.local/share/zelsync.
#ifndef ZELSYNC_LOCAL_STORE_H
#define ZELSYNC_LOCAL_STORE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "object_model/object_model.h"

namespace zelsync {
namespace local {

enum class FolderKind { kInbox, kNotes, kContacts, kCalendar, kDrafts };

// The object type of the sync service for the folders it synchronises;
// -1 for the drafts.
int ObjectTypeOf(FolderKind folder);

// Finds the store's root from the environment; false when no root can be
// named (no ZELSYNC_STORE, XDG_DATA_HOME or HOME).
bool StoreRoot(std::string* root);

// One item file of a folder. For a Maildir `path` is the message's current
// file in cur/ or new/, whose name carries the flags after ":2,".
struct ItemFile {
  FolderKind folder = FolderKind::kNotes;
  std::string stem;  // the name without extension or Maildir flags
  std::string path;
};

class Store : public std::enable_shared_from_this<Store> {
 public:
  explicit Store(std::string root) : root_(std::move(root)) {}
  const std::string& root() const { return root_; }

  // The folder's path; for a Maildir its root (holding cur/, new/, tmp/).
  std::string FolderPath(FolderKind folder) const;
  // Creates every folder that is missing.
  bool Prepare() const;

  // The folder's items, sorted by stem (bytewise): the same order for as
  // long as the folder does not change. Files whose names start with "."
  // are scratch files and are left out; of two files with the same stem
  // only the first is listed, so entry IDs stay unique.
  //
  // A folder is read once and its listing kept, for every Store of the
  // process, for as long as the folder's stamp (identity, modification and
  // change times) stays as it was; the library's own writes drop it. A
  // listing taken within moments of a change to the folder is read again
  // at the next use, since a further change in the same clock tick would
  // leave the stamp as it is. The listing handed out never changes.
  std::shared_ptr<const std::vector<ItemFile>> Listing(FolderKind folder) const;
  std::vector<ItemFile> List(FolderKind folder) const { return *Listing(folder); }
  // The item file with this stem, if the folder holds it now.
  bool Find(FolderKind folder, const std::string& stem, ItemFile* file) const;
  // The same by the file's name alone, without the listing, for a folder
  // whose file names are their stems and extension (not a Maildir, whose
  // names carry flags): kFound with *file, kAbsent, or kUnsupported when the
  // name cannot tell (a Maildir, or an entry that cannot be judged now).
  outlook::DirectLookup FindByName(FolderKind folder, const std::string& stem,
                                   ItemFile* file) const;

  // An item was written or removed through the store: the folder's listing
  // is dropped, and the installed StoreObserver, if any, is told.
  void ItemWritten(const ItemFile& file) const;
  void ItemRemoved(FolderKind folder, const std::string& stem) const;

 private:
  std::string root_;
};

// Told of every item of a synchronised folder (not the drafts) that is
// written or removed through a Store, after the change. The library
// installs the change tracker's observer, so that its own work is not
// reported back to the device as a change; a program that edits the store
// for the user installs none, and its edits are found as changes.
class StoreObserver {
 public:
  virtual ~StoreObserver() = default;
  // `file` is the item's file as written.
  virtual void ItemWritten(const Store& store, const ItemFile& file) = 0;
  virtual void ItemRemoved(const Store& store, FolderKind folder, const std::string& stem) = 0;
  // The store is being connected to; false refuses the connection (the
  // observer could not bring its bookkeeping up to date).
  virtual bool StoreConnecting(const Store& store) {
    (void)store;
    return true;
  }
};

// Installs `observer` for every store (nullptr: none) and returns the one
// installed before.
StoreObserver* SetStoreObserver(StoreObserver* observer);

// The item at `file`, typed by its folder (and for calendar files and mail
// by its content, since some of them are items of another class).
std::shared_ptr<outlook::Item> MakeItem(const std::shared_ptr<Store>& store, const ItemFile& file);

// The item classes' own makers, used by MakeItem.
std::shared_ptr<outlook::Item> MakeContactItem(const std::shared_ptr<Store>& store, const ItemFile& file);
std::shared_ptr<outlook::Item> MakeNoteItem(const std::shared_ptr<Store>& store, const ItemFile& file);
std::shared_ptr<outlook::Item> MakeAppointmentItem(const std::shared_ptr<Store>& store, const ItemFile& file);
std::shared_ptr<outlook::Item> MakeMailItem(const std::shared_ptr<Store>& store, const ItemFile& file);

// New, unsaved items.
std::shared_ptr<outlook::Item> NewMailItem(const std::shared_ptr<Store>& store);
std::shared_ptr<outlook::Item> NewNoteItem(const std::shared_ptr<Store>& store);
// Unsaved items made from a received file's text; nullptr when the text is
// not a vCard, vCalendar or iCalendar object. A calendar without an event
// gives an item of another class.
std::shared_ptr<outlook::Item> ContactFromText(const std::shared_ptr<Store>& store, const std::string& text);
std::shared_ptr<outlook::Item> CalendarFromText(const std::shared_ptr<Store>& store, const std::string& text);

// The kind of a folder that this store handed out; false for any other.
bool FolderKindOf(const std::shared_ptr<outlook::Folder>& folder, FolderKind* kind);

// An item of another class: it refuses all four queries.
std::shared_ptr<outlook::Item> OtherClassItem();

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_STORE_H
