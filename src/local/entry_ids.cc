#include "local/entry_ids.h"

#include <unistd.h>

#include <cstdio>

#include "local/files.h"

namespace zelsync {
namespace local {
namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when it is not one.
size_t ValidSequence(const std::string& s, size_t i, uint32_t* code) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b = byte(i);
  if (b < 0x80) {
    *code = b;
    return 1;
  }
  size_t len;
  uint32_t c, min;
  if ((b & 0xE0) == 0xC0) {
    len = 2, c = b & 0x1F, min = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    len = 3, c = b & 0x0F, min = 0x800;
  } else if ((b & 0xF8) == 0xF0) {
    len = 4, c = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code = c;
  return len;
}

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

// The file name as UTF-16, invalid bytes as lone surrogates.
void AppendName(const std::string& stem, WString* id) {
  for (size_t i = 0; i < stem.size();) {
    uint32_t code = 0;
    size_t len = ValidSequence(stem, i, &code);
    if (len == 0) {
      id->push_back(static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(stem[i])));
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      id->push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      id->push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      id->push_back(static_cast<char16_t>(code));
    }
    i += len;
  }
}

// The file name an untagged ID was made from: AppendName undone. False for
// a unit AppendName never writes alone.
bool NameOf(const WString& id, std::string* stem) {
  stem->clear();
  WString valid;  // a run of valid UTF-16
  for (size_t i = 0; i < id.size(); ++i) {
    const char16_t unit = id[i];
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 == id.size() || id[i + 1] < 0xDC00 || id[i + 1] > 0xDFFF) return false;
      valid += unit;
      valid += id[++i];
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      if (unit < 0xDC80) return false;
      *stem += Utf16ToUtf8(valid);
      valid.clear();
      stem->push_back(static_cast<char>(unit - 0xDC00));  // a byte of no valid sequence
    } else {
      valid += unit;
    }
  }
  *stem += Utf16ToUtf8(valid);
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
  AppendName(stem, &id);
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
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') snprintf(host, sizeof host, "localhost");
  std::string safe_host;
  for (const char* p = host; *p; ++p) {
    // '/' and ':' cannot stand in a Maildir name; the convention escapes them.
    if (*p == '/') safe_host += "\\057";
    else if (*p == ':') safe_host += "\\072";
    else safe_host += *p;
  }
  char name[128];
  snprintf(name, sizeof name, "%lld.M%06lldP%ldR%016llx.", static_cast<long long>(now / 1000000),
           static_cast<long long>(now % 1000000), static_cast<long>(getpid()),
           static_cast<unsigned long long>(RandomNumber()));
  return name + safe_host.substr(0, 64);
}

}  // namespace local
}  // namespace zelsync
