// The vNote and note-text writers.
#include "formats/codecs.h"
#include "formats/output_file.h"
#include "formats/vnote.h"

namespace zelsync {
namespace formats {
namespace {

// The note's body in UTF-8 (no text for an empty body). False when the body
// cannot be read: a note sent without its text would empty the phone's copy.
bool ReadBody(std::shared_ptr<outlook::NoteItem> note, std::optional<std::string>* body) {
  if (!note) return false;
  outlook::OptString text;
  if (!note->Body(&text)) return false;
  *body = WideToUtf8(text);
  return true;
}

// The text with every line break (CR LF, a lone CR or a lone LF) written as
// `line_break`. Notes of one store end their lines in LF, of another in CR
// LF; both must reach the phone as the same lines.
std::string WithLineBreaks(std::string_view text, std::string_view line_break) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += line_break;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace

bool WriteNoteAsVNote(std::shared_ptr<outlook::NoteItem> note, const WString* path) {
  std::optional<std::string> body;
  if (!ReadBody(std::move(note), &body)) return false;
  OutputFile file(path, OpenMode::kWriteText);
  if (!file.ok()) return false;

  int escaped = 0;
  const std::string value = body ? EscapeNoteValue(WithLineBreaks(*body, "\r\n"), &escaped) : std::string();
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
  file.Put(out);
  return file.Commit();
}

bool WriteNoteAsText(std::shared_ptr<outlook::NoteItem> note, const WString* path) {
  std::optional<std::string> body;
  if (!ReadBody(std::move(note), &body)) return false;
  OutputFile file(path, OpenMode::kWriteText);
  // Text mode turns each LF into CR LF; a CR LF pair of the note would
  // otherwise reach the phone as CR CR LF.
  file.Put(body ? WithLineBreaks(*body, "\n") : std::string("\n"));
  return file.Commit();
}

}  // namespace formats
}  // namespace zelsync
