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

// Sets the note's body from a vNote: the one line after "BODY:", else the
// quoted-printable lines after "BODY;ENCODING=QUOTED-PRINTABLE:". The text is
// taken as UTF-8, or in the ANSI code page when it is not UTF-8. 1 when the
// body was set; 0 when the note is null or the file holds no "BEGIN:VNOTE",
// "END:VNOTE" or body (the note is left as it was).
int ReadVNoteIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note);

// Decodes one line of a quoted-printable vNote body, appending to *out:
// exactly the escapes the vNote writer produces ("=0D=0A", "=5C=3B", "=3D",
// "=3A"); any other escape loses its "=" and keeps its two characters.
// Returns true when the line ends in a soft line break ("=").
bool DecodeVNoteLine(std::string_view line, std::string* out);

// Sets the note's body to the whole text of the file (UTF-8). 1 when the
// body was set, 0 when the note is null or setting it failed.
int ImportTextIntoNoteItem(const FileBuffer& file, std::shared_ptr<outlook::NoteItem> note);

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_VNOTE_H
