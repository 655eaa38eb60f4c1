// The files the reading exports hand to the service: one file per item in
// the temporary folder, named after the item.
#ifndef ZELSYNC_RECORDS_HANDED_FILE_H
#define ZELSYNC_RECORDS_HANDED_FILE_H

#include "records/connection.h"

namespace zelsync {
namespace outlook {

// How a note travels: as a vNote object (IrMC) or as its body text (SyncML).
enum class NoteForm { kVNote, kText };

// Writes the item into a new file in the temporary folder and puts the
// file's path in *path:
//   mail      <sender, on-behalf-of name or "UnNamedMail">.vmg (vMessage)
//   note      <new UUID>.vnt (vNote or text)
//   contact   <full name>.vcf (the store's vCard)
//   calendar  <subject or "NOSUBJECT">.vcs, else .ics when the vCalendar
//             form cannot be written
// `entry_id` goes into the vMessage's LUID line. False when the file could
// not be produced or its path does not fit 260 units.
bool ProduceFile(TypedItem& item, const WString& entry_id, NoteForm note_form, WString* path);

}  // namespace outlook
}  // namespace zelsync

#endif  // ZELSYNC_RECORDS_HANDED_FILE_H
