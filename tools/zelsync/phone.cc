#include "phone.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include <nlohmann/json.hpp>

#include "file_util.h"
#include "object_text.h"
#include "object_types.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {
constexpr int kStateVersion = 1;
// The copy of the phone taken at the start of a SyncML session, and the
// scratch name it is built under.
constexpr char kJournalFolder[] = ".session";
constexpr char kJournalScratch[] = ".session.tmp";
// In the copy: an undo from it has begun, and the next session finishes it.
constexpr char kUndoBegun[] = "undo-begun";

std::string Extension(const fs::path& path) { return AsciiLower(PathToUtf8(path.extension())); }

bool ValidLuid(const std::string& luid) {
  // A LUID travels in the interface's 260-unit strings.
  return !luid.empty() && Utf8ToUtf16(luid).size() < 260 && luid.find('\0') == std::string::npos;
}

// A relative path inside the phone folder: no root, no "..".
bool ValidRelative(const std::string& file) {
  if (file.empty() || file[0] == '/' || file[0] == '\\' || file.find(':') != std::string::npos)
    return false;
  for (const auto& part : fs::path(file)) {
    if (part == "..") return false;
  }
  return true;
}

// One item's entry, as the state file and the commit log hold it.
bool ReadItem(const json& entry, PhoneItem* item, std::string* why) {
  item->luid = entry.at("luid").get<std::string>();
  const TypeInfo* type = FindType(entry.at("type").get<std::string>());
  if (!type) {
    *why = "item of unknown type";
    return false;
  }
  item->type = type->code;
  item->file = entry.at("file").get<std::string>();
  if (entry.contains("hash") && !entry["hash"].is_null())
    item->hash = entry["hash"].get<std::string>();
  if (entry.contains("refused")) {
    item->refused_hash = entry["refused"].at("hash").get<std::string>();
    item->refused_reason = entry["refused"].value("reason", "");
  }
  if (!ValidLuid(item->luid)) *why = "LUID \"" + item->luid + "\"";
  if (!ValidRelative(item->file)) *why = "file name \"" + item->file + "\"";
  return why->empty();
}

std::string EntryText(const PhoneItem& item) {
  json entry{{"luid", item.luid},
             {"type", TypeByCode(item.type).name},
             {"file", item.file},
             {"hash", item.hash ? json(*item.hash) : json(nullptr)}};
  if (item.refused_hash)
    entry["refused"] = {{"hash", *item.refused_hash}, {"reason", item.refused_reason}};
  return entry.dump(-1, ' ', false, json::error_handler_t::replace);
}

// Makes `to` a tree like `from`: folders anew, files as hard links to the
// same content, or copies where no link can be made (another file system,
// one without links). A link keeps the content as it was because the phone
// only ever replaces an object file by renaming a new one over it.
bool LinkTree(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::create_directories(to, ec);
  for (fs::recursive_directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path target = to / it->path().lexically_relative(from);
    const fs::file_status status = it->symlink_status(ec);
    if (!ec && fs::is_directory(status)) {
      fs::create_directory(target, ec);
    } else if (!ec) {
      if (fs::is_regular_file(status)) fs::create_hard_link(it->path(), target, ec);
      if (!fs::is_regular_file(status) || ec) {
        ec.clear();
        fs::copy_file(it->path(), target, ec);  // a symbolic link: the file it leads to
      }
    }
    if (ec) return false;
  }
  return !ec;
}

std::string HashBytes(const Bytes& bytes) {
  uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}
}  // namespace

const char* ChangeKindName(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::kNew: return "new";
    case ChangeKind::kChanged: return "changed";
    case ChangeKind::kDeleted: return "deleted";
  }
  return "?";
}

bool Phone::ReadStateFields(const json& doc, std::string* why) {
  road = doc.value("road", "");
  if (!road.empty() && road != "irmc" && road != "syncml") {
    *why = "road \"" + road + "\"";
    return false;
  }
  device_id = doc.value("device_id", "");
  address = doc.value("address", "");
  next_luid_ = doc.value("next_luid", uint64_t{1});
  change_counters.clear();
  if (doc.contains("change_counters")) {
    for (const auto& [name, value] : doc["change_counters"].items()) {
      if (!FindType(name)) {
        *why = "change counter of unknown type \"" + name + "\"";
        return false;
      }
      change_counters[FindType(name)->name] = value.get<uint32_t>();
    }
  }
  anchor.reset();
  if (doc.contains("anchor") && !doc["anchor"].is_null()) {
    PhoneAnchor read;
    read.kind = doc["anchor"].value("kind", 1u);
    read.time = doc["anchor"].value("time", "00000000T000000Z");
    read.number = doc["anchor"].value("number", 0u);
    if (Utf8ToUtf16(read.time).size() >= 20) {
      *why = "anchor time too long";
      return false;
    }
    anchor = read;
  }
  return true;
}

std::string Phone::StateFields() const {
  json doc;
  doc["road"] = road;
  doc["device_id"] = device_id;
  doc["address"] = address;
  doc["next_luid"] = next_luid_;
  json counters = json::object();
  for (const auto& [name, value] : change_counters) counters[name] = value;
  doc["change_counters"] = counters;
  doc["anchor"] =
      anchor ? json{{"kind", anchor->kind}, {"time", anchor->time}, {"number", anchor->number}}
             : json(nullptr);
  return doc.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool Phone::Open(const fs::path& folder, Phone* phone, std::string* error) {
  *phone = Phone();
  phone->folder_ = folder;
  const fs::path state = phone->StatePath();
  const std::string shown = PathToUtf8(state);
  std::error_code ec;
  if (fs::exists(folder, ec) && !fs::is_directory(folder, ec)) {
    *error = PathToUtf8(folder) + ": not a folder";
    return false;
  }
  if (!fs::exists(state, ec)) return true;  // a new phone
  Bytes bytes;
  std::string reason;
  if (!ReadWholeFile(state, &bytes, &reason)) {
    *error = shown + ": cannot read the phone's state file: " + reason;
    return false;
  }
  json doc = json::parse(bytes.begin(), bytes.end(), nullptr, false);
  auto bad = [&](const std::string& why) {
    *error = shown + ": not a valid phone state file (" + why + ")";
    return false;
  };
  if (doc.is_discarded() || !doc.is_object()) return bad("not JSON");
  if (doc.value("zelsync_phone", 0) != kStateVersion) return bad("no \"zelsync_phone\": 1");
  try {
    phone->is_new_ = false;
    std::string why;
    if (!phone->ReadStateFields(doc, &why)) return bad(why);
    phone->commits_id_ = doc.value("commits", "");
    std::set<std::pair<uint32_t, std::string>> seen;
    for (const json& entry : doc.value("items", json::array())) {
      PhoneItem item;
      if (!ReadItem(entry, &item, &why)) return bad(why);
      if (!seen.emplace(item.type, item.luid).second) return bad("LUID " + item.luid + " twice");
      phone->items_.push_back(std::move(item));
    }
  } catch (const json::exception& e) {
    return bad(e.what());
  }
  return phone->ReplayCommits(error);
}

// The log's first line names the state file it continues; a log of another
// state file (one that a save replaced before it could drop the log) does
// not count. Each further line is one commit: the state fields when they
// changed, the items erased, then the items made or changed.
bool Phone::ReplayCommits(std::string* error) {
  std::error_code ec;
  if (commits_id_.empty() || !fs::exists(CommitLogPath(), ec)) return true;
  const std::string shown = PathToUtf8(CommitLogPath());
  Bytes bytes;
  std::string reason;
  if (!ReadWholeFile(CommitLogPath(), &bytes, &reason)) {
    *error = shown + ": cannot read the phone's commit log: " + reason;
    return false;
  }
  std::map<std::pair<uint32_t, std::string>, size_t> index;
  for (size_t i = 0; i < items_.size(); ++i) index[{items_[i].type, items_[i].luid}] = i;
  std::vector<bool> erased(items_.size(), false);
  size_t number = 0;
  auto line_start = bytes.begin();
  try {
    for (auto line_end = std::find(line_start, bytes.end(), '\n'); line_end != bytes.end();
         line_start = line_end + 1, line_end = std::find(line_start, bytes.end(), '\n')) {
      ++number;
      json line = json::parse(line_start, line_end, nullptr, false);
      std::string why;
      if (line.is_discarded() || !line.is_object()) {
        why = "not JSON";
      } else if (number == 1) {
        if (line.value("zelsync_phone_commits", 0) != kStateVersion ||
            line.value("base", "") != commits_id_) {
          return true;
        }
        continue;
      } else if (line.contains("state")) {
        ReadStateFields(line["state"], &why);
      }
      for (const json& gone : why.empty() ? line.value("erased", json::array()) : json::array()) {
        const TypeInfo* type = FindType(gone.at(0).get<std::string>());
        auto it = type ? index.find({type->code, gone.at(1).get<std::string>()}) : index.end();
        if (it == index.end()) continue;
        erased[it->second] = true;
        index.erase(it);
      }
      for (const json& entry : why.empty() ? line.value("items", json::array()) : json::array()) {
        PhoneItem item;
        if (!ReadItem(entry, &item, &why)) break;
        auto [it, added] = index.emplace(std::make_pair(item.type, item.luid), items_.size());
        if (added) {
          items_.push_back(std::move(item));
          erased.push_back(false);
        } else {
          items_[it->second] = std::move(item);
        }
      }
      if (!why.empty()) {
        *error = shown + ": not a valid phone commit log (line " + std::to_string(number) + ": " +
                 why + ")";
        return false;
      }
    }
  } catch (const json::exception& e) {
    *error = shown + ": not a valid phone commit log (line " + std::to_string(number) + ": " +
             e.what() + ")";
    return false;
  }
  size_t kept = 0;
  for (size_t i = 0; i < items_.size(); ++i) {
    if (erased[i]) continue;
    if (kept != i) items_[kept] = std::move(items_[i]);
    ++kept;
  }
  items_.resize(kept);
  index_.valid = false;
  return true;
}

bool Phone::Save(std::string* error, zelsync::Lasting lasting) {
  if (lasting == zelsync::Lasting::kPowerCut) MakeObjectsLast();
  const std::string fields = StateFields();
  const std::string id = Utf16ToUtf8(zelsync::Env::Current().CreateUuidString());
  json doc = json::parse(fields);
  doc["zelsync_phone"] = kStateVersion;
  doc["commits"] = id;
  // The items go one to a line after the other fields.
  std::string text = doc.dump(2, ' ', false, json::error_handler_t::replace);
  text.pop_back();  // the closing brace, after a line end
  text.insert(text.size() - 1, ",");
  text += "  \"items\": [";
  for (size_t i = 0; i < items_.size(); ++i) {
    PhoneItem& item = items_[i];
    if (item.saved_entry.empty()) item.saved_entry = EntryText(item);
    text += i ? ",\n    " : "\n    ";
    text += item.saved_entry;
  }
  text += items_.empty() ? "]\n}\n" : "\n  ]\n}\n";
  std::error_code ec;
  fs::create_directories(folder_, ec);
  std::string reason;
  if (!WriteFileReplacing(StatePath(), Bytes(text.begin(), text.end()), &reason, lasting)) {
    saved_ = false;
    *error = PathToUtf8(StatePath()) + ": cannot write the phone's state file: " + reason;
    return false;
  }
  // The log now continues nothing: left behind, it would not count.
  fs::remove(CommitLogPath(), ec);
  commits_id_ = id;
  saved_ = true;
  log_made_ = false;
  committed_fields_ = fields;
  erased_.clear();
  return true;
}

bool Phone::Commit(std::string* error) {
  if (!saved_) return Save(error, zelsync::Lasting::kKilledProcess);
  std::string line;
  const std::string fields = StateFields();
  if (fields != committed_fields_) line += ",\"state\":" + fields;
  if (!erased_.empty()) {
    line += ",\"erased\":[";
    for (size_t i = 0; i < erased_.size(); ++i) {
      line += (i ? "," : "") + json::array({erased_[i].first, erased_[i].second})
                                   .dump(-1, ' ', false, json::error_handler_t::replace);
    }
    line += "]";
  }
  bool first_item = true;
  for (PhoneItem& item : items_) {
    if (!item.saved_entry.empty()) continue;
    item.saved_entry = EntryText(item);
    line += first_item ? ",\"items\":[" : ",";
    line += item.saved_entry;
    first_item = false;
  }
  if (!first_item) line += "]";
  if (line.empty()) return true;
  line[0] = '{';
  line += "}\n";
  if (!log_made_) {
    line =
        json{{"zelsync_phone_commits", kStateVersion}, {"base", commits_id_}}.dump() + "\n" + line;
  }
  zelsync::Env& env = zelsync::Env::Current();
  std::unique_ptr<zelsync::File> file = env.Open(
      PathToUtf16(CommitLogPath()),
      log_made_ ? zelsync::OpenMode::kAppendBinary : zelsync::OpenMode::kCreateBinary, nullptr);
  if (!file || file->Write(line.data(), line.size()) != line.size() || !file->Flush()) {
    saved_ = false;  // the next commit writes the whole state
    *error =
        PathToUtf8(CommitLogPath()) + ": cannot write the phone's commit log: " + LastOsReason();
    return false;
  }
  log_made_ = true;
  committed_fields_ = fields;
  erased_.clear();
  return true;
}

// Every object file written or removed since the last such save: through
// a power cut the state file must not outlast the objects it names.
void Phone::MakeObjectsLast() {
  if (unsynced_.empty()) return;
#ifdef __linux__
  // One sync of the file system costs less than a sync of each file.
  const int folder = open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    syncfs(folder);
    close(folder);
  }
#else
  zelsync::Env& env = zelsync::Env::Current();
  std::set<fs::path> folders;
  for (const fs::path& path : unsynced_) {
    folders.insert(path.parent_path());
    if (auto file = env.Open(PathToUtf16(path), zelsync::OpenMode::kUpdateBinary, nullptr))
      file->Sync();
  }
  for (const fs::path& folder : folders) env.SyncFolder(PathToUtf16(folder));
#endif
  unsynced_.clear();
}

std::optional<std::string> Phone::WriteObject(const fs::path& source, const fs::path& target,
                                              bool take) {
  Bytes bytes;
  if (!ReadWholeFile(source, &bytes)) return std::nullopt;
  // A rename puts the whole file in place in one step, as a write through a
  // scratch file does; a symbolic link is not taken for the file it names.
  std::error_code ec;
  take = take && fs::is_regular_file(fs::symlink_status(source, ec));
  if (take) fs::rename(source, target, ec);
  if ((!take || ec) &&
      !WriteFileReplacing(target, bytes, nullptr, zelsync::Lasting::kKilledProcess)) {
    return std::nullopt;
  }
  unsynced_.push_back(target);
  return HashBytes(bytes);
}

void Phone::RemoveObject(const fs::path& path) {
  std::error_code ec;
  if (fs::remove(path, ec)) unsynced_.push_back(path);
}

void Phone::Erase(std::vector<PhoneItem>::iterator it) {
  erased_.emplace_back(TypeByCode(it->type).name, it->luid);
  const size_t at = static_cast<size_t>(it - items_.begin());
  // The index follows the erasure: rebuilding it (maps and sets of strings)
  // at every erased item made a session deleting many of them quadratic.
  if (index_.valid && at < index_.items) {
    index_.at.erase({it->type, it->luid});
    bool luid_in_use = false;  // by an item of another type
    for (const TypeInfo& type : ObjectTypes())
      luid_in_use = luid_in_use || index_.at.count({type.code, it->luid});
    if (!luid_in_use) index_.luids.erase(it->luid);
    index_.files.erase(it->file);
    for (auto& entry : index_.at) entry.second -= entry.second > at ? 1 : 0;
    auto& unsent = index_.unsent;
    unsent.erase(std::remove(unsent.begin(), unsent.end(), at), unsent.end());
    for (size_t& position : unsent) position -= position > at ? 1 : 0;
    --index_.items;
  }
  items_.erase(it);
}

const Phone::Index& Phone::Indexed() const {
  if (!index_.valid) {
    index_ = Index();
    index_.valid = true;
  }
  for (; index_.items < items_.size(); ++index_.items) {
    const PhoneItem& item = items_[index_.items];
    index_.at[{item.type, item.luid}] = index_.items;
    index_.luids.insert(item.luid);
    index_.files.insert(item.file);
    if (!item.hash) index_.unsent.push_back(index_.items);
  }
  return index_;
}

std::vector<PhoneItem>::iterator Phone::Find(uint32_t type, const std::string& luid) {
  const Index& index = Indexed();
  auto found = index.at.find({type, luid});
  return found == index.at.end() ? items_.end()
                                 : items_.begin() + static_cast<std::ptrdiff_t>(found->second);
}

const PhoneItem* Phone::FindItem(uint32_t type, const std::string& luid) const {
  const Index& index = Indexed();
  auto found = index.at.find({type, luid});
  return found == index.at.end() ? nullptr : &items_[found->second];
}

fs::path Phone::PathOf(const std::string& relative) const { return folder_ / PathFromUtf8(relative); }

std::string Phone::HashFile(const fs::path& path) {
  Bytes bytes;
  if (!ReadWholeFile(path, &bytes)) return "";
  return HashBytes(bytes);
}

std::string Phone::NewLuid() {
  std::string luid;
  do {
    luid = std::to_string(next_luid_++);
  } while (Indexed().luids.count(luid));
  return luid;
}

void Phone::NoticeNewFiles(std::vector<std::string>* ignored) {
  // A file made and removed again between two sessions never existed for
  // the PC: forget it.
  auto kept = std::remove_if(items_.begin(), items_.end(), [&](const PhoneItem& item) {
    std::error_code ec;
    if (item.hash || fs::exists(PathOf(item.file), ec)) return false;
    erased_.emplace_back(TypeByCode(item.type).name, item.luid);
    return true;
  });
  if (kept != items_.end()) index_.valid = false;
  items_.erase(kept, items_.end());
  for (const TypeInfo& type : ObjectTypes()) {
    const fs::path dir = folder_ / type.folder;
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) continue;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      std::error_code type_ec;
      if (!entry.is_regular_file(type_ec)) continue;
      std::string name = PathToUtf8(entry.path().filename());
      if (name.empty() || name[0] == '.') continue;
      names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string relative = std::string(type.folder) + "/" + name;
      if (Indexed().files.count(relative)) continue;
      const std::string ext = Extension(PathFromUtf8(name));
      if (std::find(type.extensions.begin(), type.extensions.end(), ext) == type.extensions.end()) {
        if (ignored) ignored->push_back(relative);
        continue;
      }
      PhoneItem item;
      item.luid = NewLuid();
      item.type = type.code;
      item.file = relative;
      items_.push_back(std::move(item));
    }
  }
}

std::vector<PhoneChange> Phone::PendingChanges(std::optional<uint32_t> only_type) const {
  std::vector<PhoneChange> changes;
  for (const TypeInfo& type : ObjectTypes()) {
    if (only_type && type.code != *only_type) continue;
    for (const PhoneItem& item : items_) {
      if (item.type != type.code) continue;
      std::error_code ec;
      const bool present = fs::exists(PathOf(item.file), ec);
      PhoneChange change{ChangeKind::kNew, item.type, item.luid, item.file};
      const std::string hash = present ? HashFile(PathOf(item.file)) : "";
      if (!item.hash) {
        if (!present) continue;
        change.kind = ChangeKind::kNew;
      } else if (!present) {
        change.kind = ChangeKind::kDeleted;
      } else if (hash != *item.hash) {
        change.kind = ChangeKind::kChanged;
      } else {
        continue;
      }
      if (present && item.refused_hash == hash) continue;
      changes.push_back(std::move(change));
    }
  }
  return changes;
}

std::string Phone::FreeFileName(const std::string& folder, const std::string& stem,
                                const std::string& extension) const {
  for (int n = 0;; ++n) {
    std::string name = folder + "/" + stem + (n ? "-" + std::to_string(n) : "") + extension;
    std::error_code ec;
    bool used = fs::exists(PathOf(name), ec) || Indexed().files.count(name);
    if (!used) return name;
  }
}

std::string Phone::ReceiveNew(uint32_t type, const fs::path& source, bool take_source) {
  const TypeInfo& info = TypeByCode(type);
  std::string luid = NewLuid();
  std::string ext = Extension(source);
  if (ext.empty()) ext = info.extensions.front();
  PhoneItem item;
  item.luid = luid;
  item.type = type;
  item.file = FreeFileName(info.folder, luid, ext);
  const fs::path target = PathOf(item.file);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  item.hash = WriteObject(source, target, take_source);
  if (!item.hash) return "";
  items_.push_back(std::move(item));
  return luid;
}

bool Phone::ReceiveChange(uint32_t type, const std::string& luid, const fs::path& source,
                          bool* had_own_change, bool take_source) {
  auto it = Find(type, luid);
  if (it == items_.end()) return false;
  const fs::path old_path = PathOf(it->file);
  std::error_code ec;
  const bool present = fs::exists(old_path, ec);
  *had_own_change = !it->hash || !present || HashFile(old_path) != *it->hash;
  std::string ext = Extension(source);
  if (ext.empty()) ext = Extension(PathFromUtf8(it->file));
  std::string file = it->file;
  if (Extension(PathFromUtf8(file)) != ext) {
    // vCalendar replaced by iCalendar (or the reverse): the file's name follows.
    const fs::path stem = PathFromUtf8(it->file).stem();
    file = FreeFileName(TypeByCode(type).folder, PathToUtf8(stem), ext);
  }
  const fs::path target = PathOf(file);
  fs::create_directories(target.parent_path(), ec);
  // The old file goes only once the new one stands: a failed write leaves
  // the object as it was, not missing (which would read as a deletion).
  std::optional<std::string> hash = WriteObject(source, target, take_source);
  if (!hash) return false;
  if (file != it->file) {
    RemoveObject(old_path);
    index_.valid = false;
  }
  it->file = file;
  it->hash = std::move(hash);
  it->saved_entry.clear();
  return true;
}

bool Phone::ReceiveDeletion(uint32_t type, const std::string& luid, bool* had_own_change) {
  auto it = Find(type, luid);
  if (it == items_.end()) return false;
  const fs::path path = PathOf(it->file);
  std::error_code ec;
  const bool present = fs::exists(path, ec);
  *had_own_change = present && (!it->hash || HashFile(path) != *it->hash);
  RemoveObject(path);
  Erase(it);
  return true;
}

void Phone::MarkDelivered(const PhoneChange& change) {
  auto it = Find(change.type, change.luid);
  if (it == items_.end()) return;
  if (change.kind == ChangeKind::kDeleted) {
    Erase(it);
  } else {
    it->hash = HashFile(PathOf(it->file));
    it->refused_hash.reset();
    it->refused_reason.clear();
    it->saved_entry.clear();
  }
}

void Phone::MarkRefused(const PhoneChange& change, const std::string& hash, const std::string& reason) {
  if (hash.empty()) return;  // unreadable when offered: offered again next time
  auto it = Find(change.type, change.luid);
  if (it == items_.end()) return;
  it->refused_hash = hash;
  it->refused_reason = reason;
  it->saved_entry.clear();
}

void Phone::ForgetRefusals() {
  for (PhoneItem& item : items_) {
    item.refused_hash.reset();
    item.refused_reason.clear();
    item.saved_entry.clear();
  }
}

int Phone::WaitingRefusals() const {
  int waiting = 0;
  for (const PhoneItem& item : items_) {
    if (item.refused_hash && HashFile(PathOf(item.file)) == *item.refused_hash) ++waiting;
  }
  return waiting;
}

std::string Phone::FindUnsentMatch(uint32_t type, const fs::path& pc_file) const {
  // Items sent since they were taken in drop out of the list as it is walked.
  Indexed();
  std::vector<size_t>& unsent = index_.unsent;
  unsent.erase(std::remove_if(unsent.begin(), unsent.end(),
                              [&](size_t at) { return items_[at].hash.has_value(); }),
               unsent.end());
  if (unsent.empty()) return "";
  Bytes bytes;
  if (!ReadWholeFile(pc_file, &bytes)) return "";
  const std::string key = ContentKey(type, std::string(bytes.begin(), bytes.end()));
  if (key.empty()) return "";
  for (size_t at : unsent) {
    const PhoneItem& item = items_[at];
    if (item.type != type) continue;
    Bytes own;
    if (ReadWholeFile(PathOf(item.file), &own) && ContentKey(type, std::string(own.begin(), own.end())) == key) {
      return item.luid;
    }
  }
  return "";
}

void Phone::ForgetPartner() {
  for (PhoneItem& item : items_) {
    item.hash.reset();
    item.refused_hash.reset();
    item.refused_reason.clear();
    item.saved_entry.clear();
  }
  change_counters.clear();
  anchor.reset();
  index_.valid = false;
}

// The copy holds the state file, its commit log (which grows in place, so
// it is copied) and the type folders as they were; a type folder missing
// from it did not exist.
bool Phone::BeginJournal(std::string* error) {
  const fs::path copy = folder_ / kJournalFolder, scratch = folder_ / kJournalScratch;
  std::error_code ec;
  fs::remove_all(scratch, ec);
  fs::create_directories(scratch, ec);
  bool ok = !ec;
  for (const char* name : {kPhoneStateFile, kPhoneCommitLog}) {
    if (ok && fs::exists(folder_ / name, ec)) {
      fs::copy_file(folder_ / name, scratch / name, ec);
      ok = !ec;
    }
  }
  for (const TypeInfo& type : ObjectTypes()) {
    if (!ok || !fs::exists(folder_ / type.folder, ec)) continue;
    ok = LinkTree(folder_ / type.folder, scratch / type.folder);
  }
  // The copy counts only once it is whole: the rename makes it so.
  if (ok) {
    fs::remove_all(copy, ec);
    fs::rename(scratch, copy, ec);
    ok = !ec;
  }
  if (!ok) {
    fs::remove_all(scratch, ec);
    *error = PathToUtf8(copy) + ": cannot copy the phone aside for a rollback";
    return false;
  }
  return Save(error);
}

bool Phone::UndoJournal(std::string* error) {
  const fs::path copy = folder_ / kJournalFolder;
  std::error_code ec;
  bool ok = fs::is_directory(copy, ec);
  // Once a type folder is replaced the phone is neither as it was nor as
  // the session left it: an undo cut short must be finished, whatever the
  // PC's files say of the session.
  if (ok) WriteFileReplacing(copy / kUndoBegun, Bytes());
  for (const TypeInfo& type : ObjectTypes()) {
    if (!ok) break;
    fs::remove_all(folder_ / type.folder, ec);
    ok = !ec && (!fs::exists(copy / type.folder, ec) ||
                 LinkTree(copy / type.folder, folder_ / type.folder));
  }
  // The state file as it was, and the commit log that continued it.
  for (const char* name : {kPhoneCommitLog, kPhoneStateFile}) {
    if (ok && fs::exists(copy / name, ec)) {
      ok = CopyWholeFile(copy / name, folder_ / name);
    } else if (ok) {
      fs::remove(folder_ / name, ec);  // the phone had never synchronised, or had no log
    }
  }
  Phone restored;
  if (ok) ok = Open(folder_, &restored, error);
  if (!ok) {
    if (error->empty()) *error = PathToUtf8(copy) + ": cannot put the phone back as it was";
    return false;
  }
  *this = std::move(restored);
  fs::remove_all(copy, ec);
  return true;
}

void Phone::EndJournal() {
  std::error_code ec;
  fs::remove_all(folder_ / kJournalFolder, ec);
  fs::remove_all(folder_ / kJournalScratch, ec);
}

bool Phone::HasJournal() const {
  std::error_code ec;
  return fs::is_directory(folder_ / kJournalFolder, ec);
}

bool Phone::UndoBegun() const {
  std::error_code ec;
  return fs::exists(folder_ / kJournalFolder / kUndoBegun, ec);
}

}  // namespace zelsync_tool
