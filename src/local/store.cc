// The application, namespace, folders and item collections of the local
// item store. The store is always open: there is no window to wait for, so
// ActiveExplorer always answers, and Quit and Logoff have nothing to do.
#include "local/store.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>

#include "local/entry_ids.h"
#include "local/files.h"
#include "local/local_store.h"
#include "platform/file_stamp.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace local {

int ObjectTypeOf(FolderKind folder) {
  switch (folder) {
    case FolderKind::kInbox: return SYNC_OBJECT_MESSAGE;
    case FolderKind::kNotes: return SYNC_OBJECT_NOTE;
    case FolderKind::kContacts: return SYNC_OBJECT_CONTACT;
    case FolderKind::kCalendar: return SYNC_OBJECT_CALENDAR;
    case FolderKind::kDrafts: return -1;
  }
  return -1;
}

bool StoreRoot(std::string* root) {
  const char* store = getenv("ZELSYNC_STORE");
  WString data;
  if (store && store[0]) {
    *root = store;
  } else if (Env::Current().LocalAppDataFolder(&data)) {
    // Beside the sync folder, in the same application-data folder.
    *root = Utf16ToUtf8(data) + "/zelsync";
  } else {
    return false;
  }
  while (root->size() > 1 && root->back() == '/') root->pop_back();
  return true;
}

namespace {

const char* Extension(FolderKind folder) {
  switch (folder) {
    case FolderKind::kContacts: return ".vcf";
    case FolderKind::kCalendar: return ".ics";
    case FolderKind::kNotes: return ".txt";
    default: return "";
  }
}

bool IsMaildir(FolderKind folder) { return folder == FolderKind::kInbox || folder == FolderKind::kDrafts; }

}  // namespace

std::string Store::FolderPath(FolderKind folder) const {
  switch (folder) {
    case FolderKind::kInbox: return root_ + "/mail/inbox";
    case FolderKind::kDrafts: return root_ + "/mail/drafts";
    case FolderKind::kContacts: return root_ + "/contacts";
    case FolderKind::kCalendar: return root_ + "/calendar";
    case FolderKind::kNotes: return root_ + "/notes";
  }
  return root_;
}

// A write takes milliseconds; a scratch file this old has no writer left.
constexpr int64_t kScratchLifetimeSeconds = 600;

namespace {

// The stamp of each folder after a sweep that left no scratch file behind.
std::mutex& SweptMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, FileStamp>& CleanFolders() {
  static std::map<std::string, FileStamp> clean;
  return clean;
}

// Clears `folder` of stale scratch files, unless it is unchanged since a
// sweep that left none behind: every export connects, and listing every
// folder at every connection made a session's cost grow with the square
// of the store's size. A killed writer's scratch file changes the folder.
void SweepScratchFiles(const std::string& folder, bool all) {
  Env& env = Env::Current();
  FileStamp before;
  const bool stamped = env.StampFile(PathFromNative(folder), &before) == FsStatus::kOk;
  {
    std::lock_guard<std::mutex> lock(SweptMutex());
    auto known = CleanFolders().find(folder);
    if (stamped && known != CleanFolders().end() && known->second == before) return;
  }
  bool none_left = false;
  RemoveStaleScratchFiles(folder, all, kScratchLifetimeSeconds, &none_left);
  // A scratch file a killed writer left at the very moment of the sweep may
  // share the stamp taken here and wait for the folder's next change (or the
  // next process); listings pass over it meanwhile, so nothing is lost.
  FileStamp after;
  const bool clean = none_left && env.StampFile(PathFromNative(folder), &after) == FsStatus::kOk;
  std::lock_guard<std::mutex> lock(SweptMutex());
  if (clean) {
    CleanFolders()[folder] = after;
  } else {
    CleanFolders().erase(folder);
  }
}

// The store's own write or removal changed `folder`, leaving no scratch file
// of its own: a folder clean before stays clean under its new stamp, so that
// the next connection does not list it again (a session writes at every
// call, and listing the folder each time made its cost grow with the square
// of the store's size). A killed writer's scratch file that appeared at the
// same moment waits for the next sweep; listings pass over it meanwhile.
void NoteOwnChange(const std::string& folder) {
  std::lock_guard<std::mutex> lock(SweptMutex());
  auto known = CleanFolders().find(folder);
  if (known == CleanFolders().end()) return;
  if (Env::Current().StampFile(PathFromNative(folder), &known->second) != FsStatus::kOk) {
    CleanFolders().erase(known);
  }
}

// The folder a store folder's scratch files are written in.
std::string ScratchFolderOf(FolderKind folder, const std::string& base) {
  return IsMaildir(folder) ? base + "/tmp" : base;
}

}  // namespace

bool Store::Prepare() const {
  bool ok = true;
  for (FolderKind folder : {FolderKind::kContacts, FolderKind::kCalendar, FolderKind::kNotes}) {
    ok = MakeFolders(FolderPath(folder)) && ok;
  }
  for (FolderKind folder : {FolderKind::kInbox, FolderKind::kDrafts}) {
    for (const char* sub : {"/cur", "/new", "/tmp"}) ok = MakeFolders(FolderPath(folder) + sub) && ok;
  }
  // Scratch files of writers that were killed are never reused (their
  // names are random): the store clears them once no writer can still own
  // them. Listings pass over them meanwhile.
  for (FolderKind folder : {FolderKind::kContacts, FolderKind::kCalendar, FolderKind::kNotes}) {
    SweepScratchFiles(FolderPath(folder), false);
  }
  for (FolderKind folder : {FolderKind::kInbox, FolderKind::kDrafts}) {
    SweepScratchFiles(FolderPath(folder) + "/tmp", true);
  }
  return ok;
}

namespace {

std::vector<ItemFile> ReadListing(FolderKind folder, const std::string& base) {
  std::map<std::string, ItemFile> by_stem;
  std::vector<std::string> names;
  if (IsMaildir(folder)) {
    for (const char* sub : {"/cur", "/new"}) {
      if (!ListFiles(base + sub, &names)) continue;
      for (const std::string& name : names) {
        if (name.empty() || name[0] == '.') continue;
        std::string stem = name.substr(0, name.find(':'));
        if (stem.empty()) continue;
        by_stem.emplace(stem, ItemFile{folder, stem, base + sub + "/" + name});
      }
    }
  } else if (ListFiles(base, &names)) {
    const std::string extension = Extension(folder);
    for (const std::string& name : names) {
      if (name.empty() || name[0] == '.' || name.size() <= extension.size()) continue;
      if (name.compare(name.size() - extension.size(), extension.size(), extension) != 0) continue;
      std::string stem = name.substr(0, name.size() - extension.size());
      by_stem.emplace(stem, ItemFile{folder, stem, base + "/" + name});
    }
  }
  std::vector<ItemFile> files;
  files.reserve(by_stem.size());
  for (auto& entry : by_stem) files.push_back(std::move(entry.second));
  return files;
}

// The folders whose entries make up a store folder's listing.
std::vector<std::string> ListedFolders(FolderKind folder, const std::string& base) {
  if (IsMaildir(folder)) return {base + "/cur", base + "/new"};
  return {base};
}

struct KeptListing {
  std::vector<FileStamp> stamps;  // of ListedFolders, before they were read
  std::shared_ptr<const std::vector<ItemFile>> files;
};

std::mutex& ListingsMutex() {
  static std::mutex mutex;
  return mutex;
}

// Keyed by the store folder's path.
std::map<std::string, KeptListing>& KeptListings() {
  static std::map<std::string, KeptListing> listings;
  return listings;
}

void DropListing(const std::string& base) {
  std::lock_guard<std::mutex> lock(ListingsMutex());
  KeptListings().erase(base);
}

}  // namespace

std::shared_ptr<const std::vector<ItemFile>> Store::Listing(FolderKind folder) const {
  const std::string base = FolderPath(folder);
  const std::vector<std::string> folders = ListedFolders(folder, base);
  std::vector<FileStamp> stamps(folders.size());
  bool stamped = true;
  for (size_t i = 0; i < folders.size(); ++i) {
    stamped = Env::Current().StampFile(PathFromNative(folders[i]), &stamps[i]) == FsStatus::kOk &&
              stamped;
  }

  std::lock_guard<std::mutex> lock(ListingsMutex());
  auto kept = KeptListings().find(base);
  if (stamped && kept != KeptListings().end() && kept->second.stamps == stamps) return kept->second.files;

  // Every change of the folder's entries sets its modification time to the
  // present, so that time alone tells how recent the last one was. Judged
  // before the folder is read: a change after the stamps were taken must
  // not pass unseen.
  bool settled = stamped;
  for (const FileStamp& stamp : stamps) settled = settled && StampSettled(stamp);
  auto files = std::make_shared<const std::vector<ItemFile>>(ReadListing(folder, base));
  if (settled) {
    KeptListings()[base] = KeptListing{std::move(stamps), files};
  } else {
    KeptListings().erase(base);
  }
  return files;
}

bool Store::Find(FolderKind folder, const std::string& stem, ItemFile* file) const {
  const std::shared_ptr<const std::vector<ItemFile>> files = Listing(folder);
  auto found = std::lower_bound(files->begin(), files->end(), stem,
                                [](const ItemFile& item, const std::string& key) { return item.stem < key; });
  if (found == files->end() || found->stem != stem) return false;
  *file = *found;
  return true;
}

outlook::DirectLookup Store::FindByName(FolderKind folder, const std::string& stem,
                                        ItemFile* file) const {
  if (IsMaildir(folder)) return outlook::DirectLookup::kUnsupported;
  const std::string path = FolderPath(folder) + "/" + stem + Extension(folder);
  // As a listing does, a symbolic link counts as what it points to.
  switch (Env::Current().StatRegularFile(PathFromNative(path))) {
    case FsStatus::kOk:
      *file = ItemFile{folder, stem, path};
      return outlook::DirectLookup::kFound;
    case FsStatus::kExists:  // something other than a regular file
    case FsStatus::kNotFound:
    case FsStatus::kPathNotFound:
      return outlook::DirectLookup::kAbsent;
    case FsStatus::kOther:
      break;
  }
  return outlook::DirectLookup::kUnsupported;
}

namespace {
StoreObserver* g_observer = nullptr;
}  // namespace

StoreObserver* SetStoreObserver(StoreObserver* observer) {
  StoreObserver* previous = g_observer;
  g_observer = observer;
  return previous;
}

void Store::ItemWritten(const ItemFile& file) const {
  DropListing(FolderPath(file.folder));
  NoteOwnChange(ScratchFolderOf(file.folder, FolderPath(file.folder)));
  if (g_observer && ObjectTypeOf(file.folder) >= 0) g_observer->ItemWritten(*this, file);
}

void Store::ItemRemoved(FolderKind folder, const std::string& stem) const {
  DropListing(FolderPath(folder));
  NoteOwnChange(ScratchFolderOf(folder, FolderPath(folder)));
  if (g_observer && ObjectTypeOf(folder) >= 0) g_observer->ItemRemoved(*this, folder, stem);
}

namespace {

class OtherItem : public outlook::Item {
 public:
  std::shared_ptr<outlook::MailItem> QueryMail() override { return nullptr; }
  std::shared_ptr<outlook::NoteItem> QueryNote() override { return nullptr; }
  std::shared_ptr<outlook::ContactItem> QueryContact() override { return nullptr; }
  std::shared_ptr<outlook::AppointmentItem> QueryAppointment() override { return nullptr; }
};

class LocalItems : public outlook::Items {
 public:
  LocalItems(std::shared_ptr<Store> store, FolderKind folder)
      : store_(std::move(store)), folder_(folder) {}

  bool Count(int32_t* count) override {
    *count = static_cast<int32_t>(std::min<size_t>(Files().size(), INT32_MAX));
    return true;
  }

  bool Item(int32_t index, std::shared_ptr<outlook::Item>* item) override {
    if (index < 1 || static_cast<size_t>(index) > Files().size()) return false;
    *item = MakeItem(store_, Files()[static_cast<size_t>(index) - 1]);
    return *item != nullptr;
  }

  // An item's entry ID names its file: the lookup needs neither the
  // listing nor a walk over it.
  outlook::DirectLookup FindByEntryID(const WString& entry_id,
                                      std::shared_ptr<outlook::Item>* item) override {
    std::string stem;
    switch (StemOfEntryId(folder_, entry_id, &stem)) {
      case StemOfId::kNone:
        return outlook::DirectLookup::kAbsent;
      case StemOfId::kUnknown:
        return outlook::DirectLookup::kUnsupported;
      case StemOfId::kStem:
        break;
    }
    ItemFile file;
    const outlook::DirectLookup found = store_->FindByName(folder_, stem, &file);
    if (found != outlook::DirectLookup::kFound) return found;
    *item = MakeItem(store_, file);
    return *item ? outlook::DirectLookup::kFound : outlook::DirectLookup::kAbsent;
  }

 private:
  // The listing taken at the collection's first use: positions stay put
  // while the collection is walked.
  const std::vector<ItemFile>& Files() {
    if (!files_) files_ = store_->Listing(folder_);
    return *files_;
  }

  std::shared_ptr<Store> store_;
  FolderKind folder_;
  std::shared_ptr<const std::vector<ItemFile>> files_;
};

}  // namespace

// A default folder; Move into the Inbox needs to know it is one.
class LocalFolder : public outlook::Folder {
 public:
  LocalFolder(std::shared_ptr<Store> store, FolderKind folder) : store_(std::move(store)), folder_(folder) {}
  bool GetItems(std::shared_ptr<outlook::Items>* items) override {
    *items = std::make_shared<LocalItems>(store_, folder_);
    return true;
  }
  FolderKind kind() const { return folder_; }
  const std::shared_ptr<Store>& store() const { return store_; }

 private:
  std::shared_ptr<Store> store_;
  FolderKind folder_;
};

bool FolderKindOf(const std::shared_ptr<outlook::Folder>& folder, FolderKind* kind) {
  auto* local = dynamic_cast<LocalFolder*>(folder.get());
  if (!local) return false;
  *kind = local->kind();
  return true;
}

std::shared_ptr<outlook::Item> OtherClassItem() { return std::make_shared<OtherItem>(); }

std::shared_ptr<outlook::Item> MakeItem(const std::shared_ptr<Store>& store, const ItemFile& file) {
  switch (file.folder) {
    case FolderKind::kContacts: return MakeContactItem(store, file);
    case FolderKind::kNotes: return MakeNoteItem(store, file);
    case FolderKind::kCalendar: return MakeAppointmentItem(store, file);
    case FolderKind::kInbox:
    case FolderKind::kDrafts: return MakeMailItem(store, file);
  }
  return nullptr;
}

namespace {

class LocalNamespace : public outlook::Namespace {
 public:
  explicit LocalNamespace(std::shared_ptr<Store> store) : store_(std::move(store)) {}

  bool GetDefaultFolder(int32_t folder, std::shared_ptr<outlook::Folder>* result) override {
    FolderKind kind;
    switch (folder) {
      case outlook::kFolderInbox: kind = FolderKind::kInbox; break;
      case outlook::kFolderNotes: kind = FolderKind::kNotes; break;
      case outlook::kFolderContacts: kind = FolderKind::kContacts; break;
      case outlook::kFolderCalendar: kind = FolderKind::kCalendar; break;
      default: return false;
    }
    *result = std::make_shared<LocalFolder>(store_, kind);
    return true;
  }

  bool OpenSharedItem(const WString& path, std::shared_ptr<outlook::Item>* item) override {
    std::string text;
    if (!ReadWholeFile(NativePath(path), &text)) return false;
    std::shared_ptr<outlook::Item> opened = ContactFromText(store_, text);
    if (!opened) opened = CalendarFromText(store_, text);
    if (!opened) return false;
    *item = std::move(opened);
    return true;
  }

  bool Logoff() override { return true; }

 private:
  std::shared_ptr<Store> store_;
};

class LocalApplication : public outlook::Application {
 public:
  explicit LocalApplication(std::shared_ptr<Store> store) : store_(std::move(store)) {}

  bool ActiveExplorer(bool* present) override {
    *present = true;
    return true;
  }
  bool Session(std::shared_ptr<outlook::Namespace>* result) override {
    *result = std::make_shared<LocalNamespace>(store_);
    return true;
  }
  bool GetNamespace(const WString& type, std::shared_ptr<outlook::Namespace>* result) override {
    if (type != u"MAPI") return false;
    return Session(result);
  }
  bool CreateItem(int32_t type, std::shared_ptr<outlook::Item>* item) override {
    if (type == outlook::kMailItem) *item = NewMailItem(store_);
    else if (type == outlook::kNoteItem) *item = NewNoteItem(store_);
    else return false;
    return *item != nullptr;
  }
  bool Quit() override { return true; }

 private:
  std::shared_ptr<Store> store_;
};

}  // namespace

outlook::ConnectResult LocalObjectModel::Connect(std::shared_ptr<outlook::Application>* application) {
  std::string root;
  if (!StoreRoot(&root)) return outlook::ConnectResult::kNotRegistered;
  auto store = std::make_shared<Store>(root);
  if (!store->Prepare()) return outlook::ConnectResult::kCreationFailed;
  if (g_observer && !g_observer->StoreConnecting(*store)) return outlook::ConnectResult::kCreationFailed;
  *application = std::make_shared<LocalApplication>(std::move(store));
  return outlook::ConnectResult::kOk;
}

}  // namespace local
}  // namespace zelsync
