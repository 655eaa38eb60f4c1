#include "records/handed_file.h"

#include "formats/vmessage.h"
#include "formats/vnote.h"
#include "store/session.h"
#include "store/wide.h"

namespace zelsync {
namespace outlook {

namespace {

// The temporary folder followed by `stem` and `extension`, if it fits. A
// stem that would lead out of the temporary folder (a separator in a name
// or subject, or a name of "." or "..") is refused like any name the file
// system forbids.
bool TempPath(const WString& stem, const WString& extension, WString* path) {
  if (stem.find_first_of(u"\\/") != WString::npos || stem == u"." || stem == u"..") return false;
  WString folder;
  if (!Env::Current().TempFolder(&folder) || folder.empty()) return false;
  BoundedPath built(folder);
  built.Append(stem);
  built.Append(extension);
  if (!built.ok()) return false;
  *path = built.str();
  return true;
}

bool ProduceMail(TypedItem& item, const WString& entry_id, WString* path) {
  OptString name;
  if (!item.mail->SenderName(&name)) return false;
  if (!name && !item.mail->SentOnBehalfOfName(&name)) return false;
  WString folder;
  if (!Env::Current().TempFolder(&folder) || folder.empty() || folder.size() > kMaxWideLength) {
    return false;
  }
  if (!TempPath(name ? *name : WString(u"UnNamedMail"), u".vmg", path)) return false;
  // The vMessage carries the entry ID in its LUID line.
  formats::WriteMailAsVMessage(item.mail, path, folder, entry_id);
  return true;
}

bool ProduceNote(TypedItem& item, NoteForm form, WString* path) {
  const WString uuid = Env::Current().CreateUuidString();
  if (uuid.empty() || !TempPath(uuid, u".vnt", path)) return false;
  if (form == NoteForm::kVNote) {
    formats::WriteNoteAsVNote(item.note, path);
  } else {
    formats::WriteNoteAsText(item.note, path);
  }
  return true;
}

bool ProduceContact(TypedItem& item, WString* path) {
  OptString name;
  if (!item.contact->FullName(&name)) return false;
  return TempPath(name.value_or(WString()), u".vcf", path) &&
         item.contact->SaveAs(*path, kSaveAsVCard);
}

bool ProduceAppointment(TypedItem& item, WString* path) {
  OptString subject;
  if (!item.appointment->Subject(&subject)) return false;
  const WString stem = subject ? *subject : WString(u"NOSUBJECT");
  WString vcs, ics;
  if (TempPath(stem, u".vcs", &vcs) && item.appointment->SaveAs(vcs, kSaveAsVCalendar)) {
    *path = vcs;
    return true;
  }
  // The vCalendar form could not be written: the iCalendar form instead.
  if (TempPath(stem, u".ics", &ics) && item.appointment->SaveAs(ics, kSaveAsICalendar)) {
    *path = ics;
    return true;
  }
  return false;
}

}  // namespace

bool ProduceFile(TypedItem& item, const WString& entry_id, NoteForm note_form, WString* path) {
  switch (item.type) {
    case SYNC_OBJECT_MESSAGE:
      return ProduceMail(item, entry_id, path);
    case SYNC_OBJECT_NOTE:
      return ProduceNote(item, note_form, path);
    case SYNC_OBJECT_CONTACT:
      return ProduceContact(item, path);
    case SYNC_OBJECT_CALENDAR:
      return ProduceAppointment(item, path);
    default:
      return false;
  }
}

}  // namespace outlook
}  // namespace zelsync
