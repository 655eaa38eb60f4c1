// Notes as files: the vNote 1.1 object and the plain text handed to the
// device, and the readers that fill a new note from a received file.
//
// The writers and readers take their own counted reference to the note and
// release it on every path; they report nothing but their result.
#ifndef ZELSYNC_FORMATS_VNOTE_H
#define ZELSYNC_FORMATS_VNOTE_H

#include <memory>
#include <string>
#include <string_view>

#include "formats/file_buffer.h"
#include "object_model/object_model.h"

namespace zelsync {
namespace formats {

// Writes the note's body as a five-line vNote 1.1 (BEGIN, VERSION, SUMMARY,
// BODY, END) in text mode, so every line ends CR LF. Every line break of the
// body (CR LF, CR or LF) is a CR LF pair; a body with a line break, ":", ";"
// or "=" is written quoted-printable, SUMMARY holding its first line.
// True when the whole file was written; false, and no file, when the body
// cannot be read, `path` is null or a write fails.
bool WriteNoteAsVNote(std::shared_ptr<outlook::NoteItem> note, const WString* path);

// Writes the note's body alone in text mode, every line break stored as CR
// LF; an empty note gives a file holding CR LF. True and false as above.
bool WriteNoteAsText(std::shared_ptr<outlook::NoteItem> note, const WString* path);

// Sets the note's body from a vNote: the value of its first BODY property,
// whatever parameters it carries: a quoted-printable value continues over
// the lines after it while a line ends in a soft break; the bytes are read
// in its CHARSET, else as UTF-8, else in the ANSI code page. 1 when the body
// was set; 0 when the note is null, the file holds no "BEGIN:VNOTE",
// "END:VNOTE" or BODY (the note is left as it was), or the body could not
// be set.
int ReadVNoteIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note);

// Decodes one line of a quoted-printable value, appending to *out: "=XX"
// (either case) is the byte XX, and "=5C=3B", the escaped semicolon the vNote
// writer produces, one ";". An "=" before anything but two hexadecimal
// digits is dropped. Returns true when the line ends in a soft line break
// (an "=" with fewer than two characters after it).
bool DecodeVNoteLine(std::string_view line, std::string* out);

// Sets the note's body to the whole text of the file (UTF-8). 1 when the
// body was set, 0 when the note is null or setting it failed.
int ImportTextIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note);

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_VNOTE_H
