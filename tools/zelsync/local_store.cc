#include "local_store.h"

#include "object_types.h"
#include "text.h"

#ifndef _WIN32
#include "local/entry_ids.h"
#include "local/files.h"
#include "local/item_texts.h"
#include "local/store.h"
#endif

namespace zelsync_tool {
namespace fs = std::filesystem;

#ifdef _WIN32

bool LocalStore::Find(LocalStore*, std::string* why) {
  *why = "the local item store belongs to the Linux build; on Windows the items live in Outlook";
  return false;
}
bool LocalStore::IsItemTime(const ItemFields&, bool, std::ostream&) { return true; }
std::vector<StoreItem> LocalStore::List(uint32_t) const { return {}; }
std::optional<StoreItem> LocalStore::Get(uint32_t, const std::string&) const { return std::nullopt; }
bool LocalStore::Add(uint32_t, const ItemFields&, const std::optional<fs::path>&, std::string*,
                     std::string* error) const {
  *error = "no local item store on Windows";
  return false;
}
bool LocalStore::Edit(uint32_t, const std::string&, const ItemFields&, const std::optional<fs::path>&,
                      std::string* error) const {
  *error = "no local item store on Windows";
  return false;
}
bool LocalStore::Delete(uint32_t, const std::string&, std::string* error) const {
  *error = "no local item store on Windows";
  return false;
}

#else

namespace local = zelsync::local;

namespace {

local::FolderKind KindOf(uint32_t type) {
  switch (type) {
    case 1: return local::FolderKind::kNotes;
    case 2: return local::FolderKind::kContacts;
    case 3: return local::FolderKind::kCalendar;
    default: return local::FolderKind::kInbox;
  }
}

const char* Extension(uint32_t type) {
  switch (type) {
    case 1: return ".txt";
    case 2: return ".vcf";
    case 3: return ".ics";
    default: return "";
  }
}

std::string OneLine(std::string text, size_t limit = 60) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (text.size() > limit) {
    size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text = text.substr(0, cut) + "...";
  }
  return text;
}

local::ItemFields StoreFields(const ItemFields& fields) {
  local::ItemFields out;
  out.name = fields.name, out.phone = fields.phone, out.email = fields.email;
  out.summary = fields.summary, out.start = fields.start, out.end = fields.end, out.location = fields.location;
  out.text = fields.text, out.from = fields.from, out.to = fields.to, out.subject = fields.subject;
  for (const fs::path& path : fields.attachments) out.attachments.push_back(path.string());
  return out;
}

// The item's file, found by its entry ID or by the file name the ID
// carries after its kind's tag; else false with a message in *error.
bool FindItem(const local::Store& store, uint32_t type, const std::string& id, local::ItemFile* file,
              std::string* error = nullptr) {
  for (local::ItemFile& candidate : store.List(KindOf(type))) {
    if (zelsync::Utf16ToUtf8(local::EntryIdOf(candidate.folder, candidate.stem)) == id || candidate.stem == id) {
      *file = std::move(candidate);
      return true;
    }
  }
  if (error) {
    *error = "no " + std::string(TypeByCode(type).name) + " with the ID " + id + " in " +
             store.FolderPath(KindOf(type));
  }
  return false;
}

StoreItem ItemOf(uint32_t type, const local::ItemFile& file) {
  std::string text;
  if (!local::ReadWholeFile(file.path, &text)) text.clear();
  return {type, zelsync::Utf16ToUtf8(local::EntryIdOf(file.folder, file.stem)), fs::path(file.path),
          OneLine(local::ItemSummary(file.folder, text))};
}

// The store's text of an item taken whole from `file`.
bool ImportFile(local::FolderKind kind, const fs::path& file, const std::string& stem, std::string* text,
                std::string* error) {
  std::string given;
  if (!local::ReadWholeFile(file.string(), &given)) {
    *error = PathToUtf8(file) + ": cannot read the file";
    return false;
  }
  if (!local::ImportedItemText(kind, given, stem, text, error)) {
    *error = PathToUtf8(file) + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace

bool LocalStore::Find(LocalStore* store, std::string* why) {
  std::string root;
  if (!local::StoreRoot(&root)) {
    *why = "no store folder can be named: set ZELSYNC_STORE, XDG_DATA_HOME or HOME";
    return false;
  }
  *store = LocalStore(root);
  return true;
}

bool LocalStore::IsItemTime(const ItemFields& fields, bool new_item, std::ostream& err) {
  if (new_item && !fields.start) {
    err << "zelsync store: a new event needs --start (YYYYMMDD or YYYYMMDDTHHMMSS[Z])\n";
    return false;
  }
  for (const auto& [option, value] : {std::pair{"--start", fields.start}, std::pair{"--end", fields.end}}) {
    if (value && !local::IsItemTime(*value)) {
      err << "zelsync store: " << option << " \"" << *value
          << "\" is not a date (YYYYMMDD) or date-time (YYYYMMDDTHHMMSS[Z])\n";
      return false;
    }
  }
  return true;
}

std::vector<StoreItem> LocalStore::List(uint32_t type) const {
  const local::Store store(root_.string());
  std::vector<StoreItem> items;
  for (const local::ItemFile& file : store.List(KindOf(type))) items.push_back(ItemOf(type, file));
  return items;
}

std::optional<StoreItem> LocalStore::Get(uint32_t type, const std::string& id) const {
  const local::Store store(root_.string());
  local::ItemFile file;
  if (!FindItem(store, type, id, &file)) return std::nullopt;
  return ItemOf(type, file);
}

bool LocalStore::Add(uint32_t type, const ItemFields& fields, const std::optional<fs::path>& file, std::string* id,
                     std::string* error) const {
  const local::Store store(root_.string());
  if (!store.Prepare()) {
    *error = root_.string() + ": cannot create the store's folders";
    return false;
  }
  const local::FolderKind kind = KindOf(type);
  const bool mail = kind == local::FolderKind::kInbox;
  const std::string stem = mail ? local::NewMaildirStem() : local::NewItemStem();
  std::string text;
  if (file) {
    if (!ImportFile(kind, *file, stem, &text, error)) return false;
  } else if (!local::NewItemText(kind, StoreFields(fields), stem, &text, error)) {
    return false;
  }
  const std::string folder = store.FolderPath(kind);
  // Mail is delivered as a mail program does: written in tmp/, moved into
  // new/.
  const bool written = mail ? local::WriteThenRename(folder + "/tmp/" + stem, folder + "/new/" + stem, text)
                            : local::WriteFileAtomically(folder + "/" + stem + Extension(type), text);
  if (!written) {
    *error = folder + ": cannot write the item";
    return false;
  }
  *id = zelsync::Utf16ToUtf8(local::EntryIdOf(kind, stem));
  return true;
}

bool LocalStore::Edit(uint32_t type, const std::string& id, const ItemFields& fields,
                      const std::optional<fs::path>& file, std::string* error) const {
  const local::Store store(root_.string());
  local::ItemFile item;
  if (!FindItem(store, type, id, &item, error)) return false;
  std::string current, text;
  if (file) {
    if (!ImportFile(item.folder, *file, item.stem, &text, error)) return false;
  } else if (!local::ReadWholeFile(item.path, &current)) {
    *error = item.path + ": cannot read the item";
    return false;
  } else if (!local::EditedItemText(item.folder, current, StoreFields(fields), item.stem, &text, error)) {
    *error = item.path + ": " + *error;
    return false;
  }
  if (!local::WriteFileAtomically(item.path, text)) {
    *error = item.path + ": cannot write the item";
    return false;
  }
  return true;
}

bool LocalStore::Delete(uint32_t type, const std::string& id, std::string* error) const {
  const local::Store store(root_.string());
  local::ItemFile item;
  if (!FindItem(store, type, id, &item, error)) return false;
  if (!local::RemoveFile(item.path)) {
    *error = item.path + ": cannot delete the item";
    return false;
  }
  return true;
}

#endif

}  // namespace zelsync_tool
