#include "records/handed_file.h"

#include <algorithm>

#include "formats/attachment_name.h"
#include "formats/vmessage.h"
#include "formats/vnote.h"
#include "store/session.h"
#include "store/wide.h"

namespace zelsync {
namespace outlook {

namespace {

// Characters a file name cannot hold on one platform or the other. Handed
// files are named alike on both, so the set is the union.
bool IsForbidden(char16_t c) {
  return c < 0x20 || c == 0x7F || WString(u"\\/:*?\"<>|").find(c) != WString::npos;
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The temporary `folder` followed by a stem made from `name` and by
// `extension`. The name is an item's own text ("AC/DC", "Lunch?"), so it is
// made safe rather than refused: forbidden characters become "_"; an empty
// name, "." or ".." or a device name takes `fallback`; and the stem is cut,
// never inside a character, until the path fits 260 units and the file
// name the file system's limit. False only when not even one character of
// the stem fits.
bool TempPath(const WString& folder, const WString& name, const WString& fallback,
              const WString& extension, WString* path) {
  WString stem = name;
  for (char16_t& c : stem) {
    if (IsForbidden(c)) c = u'_';
  }
  if (stem.empty() || stem == u"." || stem == u".." || formats::IsDeviceName(stem)) stem = fallback;
  if (folder.size() + extension.size() >= kMaxWideLength) return false;
  size_t length = std::min(stem.size(), kMaxWideLength - folder.size() - extension.size());
  for (;; --length) {
    if (length > 0 && length < stem.size() && IsHighSurrogate(stem[length - 1])) --length;
    if (length == 0) return false;
    if (FileNameLength(stem.substr(0, length) + extension) <= kMaxFileNameLength) break;
  }
  *path = folder + stem.substr(0, length) + extension;
  return true;
}

bool ProduceMail(TypedItem& item, const WString& folder, const WString& entry_id, WString* path) {
  OptString name;
  if (!item.mail->SenderName(&name)) return false;
  if (!name && !item.mail->SentOnBehalfOfName(&name)) return false;
  if (!TempPath(folder, name.value_or(WString()), u"UnNamedMail", u".vmg", path)) return false;
  // The vMessage carries the entry ID in its LUID line.
  return formats::WriteMailAsVMessage(item.mail, path, folder, entry_id);
}

bool ProduceNote(TypedItem& item, const WString& folder, NoteForm form, WString* path) {
  const WString uuid = Env::Current().CreateUuidString();
  if (uuid.empty() || !TempPath(folder, uuid, uuid, u".vnt", path)) return false;
  return form == NoteForm::kVNote ? formats::WriteNoteAsVNote(item.note, path)
                                  : formats::WriteNoteAsText(item.note, path);
}

bool ProduceContact(TypedItem& item, const WString& folder, WString* path) {
  OptString name;
  if (!item.contact->FullName(&name)) return false;
  return TempPath(folder, name.value_or(WString()), u"UnNamedContact", u".vcf", path) &&
         item.contact->SaveAs(*path, kSaveAsVCard);
}

bool ProduceAppointment(TypedItem& item, const WString& folder, WString* path) {
  OptString subject;
  if (!item.appointment->Subject(&subject)) return false;
  const WString stem = subject.value_or(WString());
  WString vcs, ics;
  if (TempPath(folder, stem, u"NOSUBJECT", u".vcs", &vcs) && item.appointment->SaveAs(vcs, kSaveAsVCalendar)) {
    *path = vcs;
    return true;
  }
  // The vCalendar form could not be written: the iCalendar form instead.
  if (TempPath(folder, stem, u"NOSUBJECT", u".ics", &ics) && item.appointment->SaveAs(ics, kSaveAsICalendar)) {
    *path = ics;
    return true;
  }
  return false;
}

}  // namespace

bool ProduceFile(TypedItem& item, const WString& entry_id, NoteForm note_form, WString* path) {
  WString folder;
  if (!Env::Current().TempFolder(&folder) || folder.empty()) return false;
  switch (item.type) {
    case SYNC_OBJECT_MESSAGE:
      return ProduceMail(item, folder, entry_id, path);
    case SYNC_OBJECT_NOTE:
      return ProduceNote(item, folder, note_form, path);
    case SYNC_OBJECT_CONTACT:
      return ProduceContact(item, folder, path);
    case SYNC_OBJECT_CALENDAR:
      return ProduceAppointment(item, folder, path);
    default:
      return false;
  }
}

}  // namespace outlook
}  // namespace zelsync
