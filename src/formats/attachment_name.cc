#include "formats/attachment_name.h"

namespace zelsync {
namespace formats {
namespace {

char16_t AsciiUpper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

}  // namespace

bool IsDeviceName(const WString& name) {
  // The device part is the text before the first dot; Windows also ignores
  // trailing blanks there ("NUL .txt").
  WString stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  for (char16_t& c : stem) c = AsciiUpper(c);
  if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, u"COM") == 0 || stem.compare(0, 3, u"LPT") == 0) &&
         stem[3] >= u'1' && stem[3] <= u'9';
}

std::optional<WString> AttachmentFileName(const WString& name) {
  const size_t slash = name.find_last_of(u"\\/");
  WString file = slash == WString::npos ? name : name.substr(slash + 1);
  if (file.size() >= 2 && file[1] == u':' &&
      ((file[0] >= u'A' && file[0] <= u'Z') || (file[0] >= u'a' && file[0] <= u'z'))) {
    file.erase(0, 2);
  }
  if (file.empty() || file.find_first_not_of(u'.') == WString::npos) return std::nullopt;
  for (char16_t c : file) {
    if (c < 0x20 || c == 0x7F || c == u':') return std::nullopt;
  }
  if (IsDeviceName(file)) return std::nullopt;
  return file;
}

std::optional<WString> PathInFolder(const WString& folder, const WString& file_name) {
  if (folder.size() > kMaxPathLength || file_name.size() > kMaxPathLength - folder.size()) {
    return std::nullopt;
  }
  return folder + file_name;
}

bool SamePath(const WString& a, const WString& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

RemoveWhenDone::~RemoveWhenDone() {
  try {
    Env::Current().RemoveFile(path_);
  } catch (...) {
    // Running out of memory while removing leaves the file; nothing may
    // leave a destructor.
  }
}

}  // namespace formats
}  // namespace zelsync
