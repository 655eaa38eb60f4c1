#include "store/file_names.h"

namespace zelsync {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(const std::string& text, size_t at, const char* expected) {
  for (size_t i = 0; expected[i]; ++i) {
    if (at + i >= text.size() || AsciiLower(text[at + i]) != AsciiLower(expected[i])) return false;
  }
  return true;
}

bool Matches(const BookkeepingFileInfo& info, const std::string& name) {
  const size_t length = std::char_traits<char>::length(info.name);
  if (!info.per_device) return name.size() == length && EqualsIgnoringCase(name, 0, info.name);
  // A device's part of at least one character comes first.
  if (name.size() <= length || !EqualsIgnoringCase(name, name.size() - length, info.name)) return false;
  return info.file != BookkeepingFile::kIrmcDatabase || name.find('_') < name.size() - length;
}

}  // namespace

std::string BookkeepingFileName(BookkeepingFile file, const std::string& device) {
  const BookkeepingFileInfo& info = InfoOf(file);
  return info.per_device ? device + info.name : std::string(info.name);
}

WString BookkeepingFileNameW(BookkeepingFile file, const WString& device) {
  const std::string name = BookkeepingFileName(file);
  WString wide(name.begin(), name.end());  // ASCII
  return InfoOf(file).per_device ? device + wide : wide;
}

bool BookkeepingFileOf(const std::string& name, BookkeepingFile* file) {
  // Longer suffixes first, so "_SyncMLDB_Temp.DAT" is not taken for the
  // IrMC database's ".DAT".
  for (const BookkeepingFileInfo& info : kBookkeepingFiles) {
    if (info.file != BookkeepingFile::kIrmcDatabase && Matches(info, name)) {
      *file = info.file;
      return true;
    }
  }
  if (Matches(InfoOf(BookkeepingFile::kIrmcDatabase), name)) {
    *file = BookkeepingFile::kIrmcDatabase;
    return true;
  }
  return false;
}

}  // namespace zelsync
