// The vNote and note-text readers.
#include "formats/vnote.h"
#include "formats/vobject_property.h"

namespace zelsync {
namespace formats {
namespace {

constexpr std::string_view kBegin = "BEGIN:VNOTE";
constexpr std::string_view kEnd = "END:VNOTE";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

bool DecodeVNoteLine(std::string_view line, std::string* out) {
  bool soft_break = false;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] != '=') {
      out->push_back(line[i++]);
      soft_break = false;
      continue;
    }
    if (line.size() - i < 3) {  // "=" with fewer than two characters after it
      soft_break = true;
      ++i;
      continue;
    }
    const int high = HexDigit(line[i + 1]), low = HexDigit(line[i + 2]);
    if (high < 0 || low < 0) {
      soft_break = true;  // not an escape: the "=" goes, the next ordinary character clears this
      ++i;
      continue;
    }
    soft_break = false;
    const char byte = static_cast<char>(high << 4 | low);
    // The vNote writer escapes a semicolon as "\;" ("=5C=3B"): one ";".
    if (byte == '\\' && line.size() - i >= 6 && line[i + 3] == '=' && line[i + 4] == '3' &&
        (line[i + 5] == 'B' || line[i + 5] == 'b')) {
      out->push_back(';');
      i += 6;
      continue;
    }
    out->push_back(byte);
    i += 3;
  }
  return soft_break;
}

int ReadVNoteIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note) {
  if (!note) return 0;
  const std::string_view text = file.text();
  if (text.find(kBegin) == std::string_view::npos || text.find(kEnd) == std::string_view::npos) return 0;
  WString body;
  if (!ReadProperty(text, "BODY", &body)) return 0;
  // A body that could not be set is no note: the caller must not save an
  // empty one in its place.
  return note->PutBody(body) ? 1 : 0;
}

int ImportTextIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note) {
  if (!note) return 0;
  const std::string_view text = file.text();
  return note->PutBody(Utf8ToUtf16(std::string(text))) ? 1 : 0;
}

}  // namespace formats
}  // namespace zelsync
