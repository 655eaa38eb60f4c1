// What the item classes of the local store share: where the item's file
// is, and how it is written and removed.
#ifndef ZELSYNC_LOCAL_STORED_ITEM_H
#define ZELSYNC_LOCAL_STORED_ITEM_H

#include <memory>
#include <string>

#include "local/entry_ids.h"
#include "local/files.h"
#include "local/store.h"

namespace zelsync {
namespace local {

class StoredFile {
 public:
  // A new item, not yet saved.
  StoredFile(std::shared_ptr<Store> store, FolderKind folder) : store_(std::move(store)), folder_(folder) {}
  // An item of a folder.
  StoredFile(std::shared_ptr<Store> store, const ItemFile& file)
      : store_(std::move(store)), folder_(file.folder), stem_(file.stem), path_(file.path) {}

  bool saved() const { return !stem_.empty(); }
  bool deleted() const { return deleted_; }
  const std::string& stem() const { return stem_; }
  const std::string& path() const { return path_; }
  FolderKind folder() const { return folder_; }
  const std::shared_ptr<Store>& store() const { return store_; }

  // The entry ID: empty for an item that was never saved, as for a new
  // item of the object model.
  bool EntryId(outlook::OptString* entry_id) const {
    *entry_id = stem_.empty() ? WString() : EntryIdOf(folder_, stem_);
    return true;
  }

  // The name the first write of a new item uses: the one reserved, else
  // `fresh` (a new name).
  std::string NewStem(std::string fresh) const { return reserved_.empty() ? fresh : reserved_; }

  // Fixes the name (and so the entry ID) of a new item before its first
  // write; `fresh` is a new name for it. False for a saved or deleted item.
  bool Reserve(std::string fresh, WString* entry_id) {
    if (saved() || deleted_) return false;
    if (reserved_.empty()) reserved_ = std::move(fresh);
    *entry_id = EntryIdOf(folder_, reserved_);
    return true;
  }

  // Writes the content to the item's file atomically; a new item is named
  // `new_stem` (the reserved or a fresh name when empty) + `extension`. The
  // change scanner is told, so the library's own write is not reported as a
  // change.
  bool Write(const std::string& extension, const std::string& content, std::string new_stem = std::string()) {
    if (deleted_) return false;
    std::string stem = stem_;
    if (stem.empty()) stem = new_stem.empty() ? NewStem(NewItemStem()) : new_stem;
    std::string path = path_.empty() ? store_->FolderPath(folder_) + "/" + stem + extension : path_;
    if (!WriteFileAtomically(path, content)) return false;
    stem_ = stem;
    path_ = path;
    store_->ItemWritten(ItemFile{folder_, stem_, path_});
    return true;
  }

  // Removes the item's file; an item that was never saved, or whose file is
  // already gone, counts as removed.
  bool Remove() {
    if (deleted_) return false;
    if (!path_.empty() && !RemoveFile(path_) && FileExists(path_)) return false;
    deleted_ = true;
    if (!stem_.empty()) store_->ItemRemoved(folder_, stem_);
    return true;
  }

  // For items that manage their own files (Maildir messages).
  void Place(FolderKind folder, const std::string& stem, const std::string& path) {
    folder_ = folder;
    stem_ = stem;
    path_ = path;
  }
  void MarkDeleted() { deleted_ = true; }

 private:
  std::shared_ptr<Store> store_;
  FolderKind folder_;
  std::string stem_;
  std::string path_;
  std::string reserved_;  // the name a new item's first write takes
  bool deleted_ = false;
};

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_STORED_ITEM_H
