// The vNote and note-text readers.
#include "formats/vnote.h"

namespace zelsync {
namespace formats {
namespace {

constexpr std::string_view kBegin = "BEGIN:VNOTE";
constexpr std::string_view kEnd = "END:VNOTE";
constexpr std::string_view kPlainBody = "BODY:";
constexpr std::string_view kQuotedBody = "BODY;ENCODING=QUOTED-PRINTABLE:";

// The line starting at `start`, up to the next LF or the end of the text.
std::string_view LineFrom(std::string_view text, size_t start) {
  if (start >= text.size()) return std::string_view();
  const std::string_view rest = text.substr(start);
  return rest.substr(0, rest.find('\n'));
}

// UTF-8 when the bytes are UTF-8; otherwise a device wrote the note in its
// 8-bit code page, taken as the system's ANSI code page.
WString BodyText(const std::string& body) {
  WString text;
  if (Utf8ToUtf16Strict(body, &text)) return text;
  return AnsiToUtf16(body);
}

}  // namespace

bool DecodeVNoteLine(std::string_view line, std::string* out) {
  bool cr_pending = false, backslash_pending = false, soft_break = false;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] != '=') {
      out->push_back(line[i++]);
      cr_pending = backslash_pending = soft_break = false;
      continue;
    }
    if (line.size() - i < 3) {  // "=" with fewer than two characters after it
      soft_break = true;
      ++i;
      continue;
    }
    const char a = line[i + 1], b = line[i + 2];
    soft_break = false;
    if (a == '0' && b == 'D') {
      cr_pending = true;
      i += 3;
    } else if (a == '0' && b == 'A' && cr_pending) {
      out->append("\r\n");
      cr_pending = false;
      i += 3;
    } else if (a == '0') {
      ++i;  // "0" and the next character are copied as they stand
    } else if (a == '3' && (b == 'D' || b == 'A' || (b == 'B' && backslash_pending))) {
      out->push_back(b == 'D' ? '=' : b == 'A' ? ':' : ';');
      cr_pending = backslash_pending = false;
      i += 3;
    } else if (a == '3') {
      cr_pending = backslash_pending = false;
      ++i;
    } else if (a == '5' && b == 'C') {
      backslash_pending = true;
      i += 3;
    } else {
      soft_break = true;  // the next ordinary character clears it again
      ++i;
    }
  }
  return soft_break;
}

int ReadVNoteIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note) {
  if (!note) return 0;
  const std::string_view text = file.text();
  if (text.empty()) return 0;
  if (text.find(kBegin) == std::string_view::npos || text.find(kEnd) == std::string_view::npos) {
    return 0;
  }
  std::string body;
  const size_t plain = text.find(kPlainBody);
  const size_t quoted = text.find(kQuotedBody);
  if (plain != std::string_view::npos) {
    body.assign(LineFrom(text, plain + kPlainBody.size()));
  } else if (quoted != std::string_view::npos) {
    size_t start = quoted + kQuotedBody.size();
    for (;;) {
      const std::string_view line = LineFrom(text, start);
      if (line.empty()) break;
      const bool soft_break = DecodeVNoteLine(line, &body);
      start += line.size() + 1;
      if (!soft_break) break;
    }
  } else {
    return 0;
  }
  note->PutBody(BodyText(body));
  return 1;
}

int ImportTextIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note) {
  if (!note) return 0;
  const std::string_view text = file.text();
  return note->PutBody(Utf8ToUtf16(std::string(text))) ? 1 : 0;
}

}  // namespace formats
}  // namespace zelsync
