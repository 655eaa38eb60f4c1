// The vNote and note-text writers.
#include "formats/codecs.h"
#include "formats/vnote.h"

namespace zelsync {
namespace formats {
namespace {

// The note's body in UTF-8; a failed read counts as an empty body.
std::optional<std::string> ReadBody(outlook::NoteItem& note) {
  outlook::OptString body;
  if (!note.Body(&body)) body.reset();
  return WideToUtf8(body);
}

std::unique_ptr<File> CreateTextFile(const WString* path) {
  if (!path || path->empty()) return nullptr;
  return Env::Current().Open(*path, OpenMode::kWriteText, nullptr);
}

}  // namespace

void WriteNoteAsVNote(std::shared_ptr<outlook::NoteItem> note, const WString* path) {
  if (!note) return;
  const std::optional<std::string> body = ReadBody(*note);
  note.reset();
  std::unique_ptr<File> file = CreateTextFile(path);
  if (!file) return;

  int escaped = 0;
  const std::string value = body ? EscapeNoteValue(*body, &escaped) : std::string();
  std::string out = "BEGIN:VNOTE\nVERSION:1.1\n";
  if (escaped) {
    out += "SUMMARY;ENCODING=QUOTED-PRINTABLE:";
    out.append(value, 0, value.find("=0D=0A"));  // the first line
    out += "\nBODY;ENCODING=QUOTED-PRINTABLE:";
    out += value;
  } else {
    out += "SUMMARY:";
    out += value;
    out += "\nBODY:";
    out += value;
  }
  out += "\nEND:VNOTE\n";
  // The platform's text mode stores each LF as CR LF.
  file->Write(out.data(), out.size());
}

void WriteNoteAsText(std::shared_ptr<outlook::NoteItem> note, const WString* path) {
  if (!note) return;
  const std::optional<std::string> body = ReadBody(*note);
  note.reset();
  std::unique_ptr<File> file = CreateTextFile(path);
  if (!file) return;
  if (body) {
    file->Write(body->data(), body->size());
  } else {
    file->Write("\n", 1);
  }
}

}  // namespace formats
}  // namespace zelsync
