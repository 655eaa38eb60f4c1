#include "local/entry_ids.h"

#include <cstdio>

#include "local/files.h"

namespace zelsync {
namespace local {
namespace {

const char* TagOf(FolderKind folder) {
  switch (folder) {
    case FolderKind::kInbox:
    case FolderKind::kDrafts: return "mail/";
    case FolderKind::kNotes: return "notes/";
    case FolderKind::kContacts: return "contacts/";
    case FolderKind::kCalendar: return "calendar/";
  }
  return "";
}

// The file name an untagged ID was made from (the platform layer's
// spelling of a file name undone). False for a unit that spelling never
// writes alone: a high surrogate without its pair, or a low one that
// stands for no byte of an ill-formed sequence.
bool NameOf(const WString& id, std::string* stem) {
  for (size_t i = 0; i < id.size(); ++i) {
    const char16_t unit = id[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == id.size() || id[i + 1] < 0xDC00 || id[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF && (unit < 0xDC80 || unit > 0xDCFF)) {
      return false;
    }
  }
  *stem = NativePath(id);
  return true;
}

bool FolderOfType(int type, FolderKind* folder) {
  for (FolderKind kind : {FolderKind::kInbox, FolderKind::kNotes, FolderKind::kContacts, FolderKind::kCalendar}) {
    if (ObjectTypeOf(kind) == type) {
      *folder = kind;
      return true;
    }
  }
  return false;
}

}  // namespace

WString EntryIdOf(FolderKind folder, const std::string& stem) {
  const std::string tag = TagOf(folder);
  WString id;
  for (char c : tag) id.push_back(static_cast<char16_t>(c));
  // The name as the platform layer spells file names: each byte of no
  // valid UTF-8 sequence becomes the lone surrogate U+DC00 + byte.
  id += PathFromNative(stem);
  if (id.size() > kMaxEntryIdLength) {
    char hash[17];
    snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(Fingerprint(tag + stem)));
    size_t keep = kMaxEntryIdLength - 17;
    // Never keep half of a surrogate pair.
    if (id[keep - 1] >= 0xD800 && id[keep - 1] <= 0xDBFF) --keep;
    id.resize(keep);
    id.push_back(u'~');
    for (const char* p = hash; *p; ++p) id.push_back(static_cast<char16_t>(*p));
  }
  return id;
}

StemOfId StemOfEntryId(FolderKind folder, const WString& id, std::string* stem) {
  const std::string tag = TagOf(folder);
  if (id.size() <= tag.size() || id.compare(0, tag.size(), WString(tag.begin(), tag.end())) != 0) {
    return StemOfId::kNone;
  }
  // A cut ID ends in "~" and 16 digits of a hash: only the folder's items
  // can tell whose it is.
  if (id.size() + 1 >= kMaxEntryIdLength && id[id.size() - 17] == u'~') return StemOfId::kUnknown;
  // Every other ID the store hands out is its name's own spelling.
  std::string name;
  if (!NameOf(id.substr(tag.size()), &name) || EntryIdOf(folder, name) != id)
    return StemOfId::kNone;
  if (name[0] == '.' || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return StemOfId::kNone;
  }
  *stem = std::move(name);
  return StemOfId::kStem;
}

bool CarriedOverEntryId(int type, const WString& old_id, WString* id) {
  FolderKind folder;
  std::string stem;
  if (old_id.empty() || old_id.find(u'/') != WString::npos || !FolderOfType(type, &folder) ||
      !NameOf(old_id, &stem)) {
    return false;
  }
  *id = EntryIdOf(folder, stem);
  return true;
}

std::string NewItemStem() {
  char name[40];
  snprintf(name, sizeof name, "%016llx-%016llx", static_cast<unsigned long long>(NowMicroseconds()),
           static_cast<unsigned long long>(RandomNumber()));
  return name;
}

std::string NewMaildirStem() {
  int64_t now = NowMicroseconds();
  const std::string host = HostName();
  std::string safe_host;
  for (const char* p = host.c_str(); *p; ++p) {
    // '/' and ':' cannot stand in a Maildir name; the convention escapes them.
    if (*p == '/') safe_host += "\\057";
    else if (*p == ':') safe_host += "\\072";
    else safe_host += *p;
  }
  char name[128];
  snprintf(name, sizeof name, "%lld.M%06lldP%ldR%016llx.", static_cast<long long>(now / 1000000),
           static_cast<long long>(now % 1000000), ProcessId(),
           static_cast<unsigned long long>(RandomNumber()));
  return name + safe_host.substr(0, 64);
}

}  // namespace local
}  // namespace zelsync
