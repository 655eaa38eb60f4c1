#include "outlook/connection.h"

#include "formats/vmessage.h"
#include "formats/vnote.h"
#include "store/session.h"
#include "store/wide.h"

namespace zelsync {
namespace outlook {

int32_t FolderOfType(uint32_t type) {
  static const int32_t kFolders[kObjectTypeCount] = {kFolderInbox, kFolderNotes, kFolderContacts,
                                                     kFolderCalendar};
  return IsObjectType(type) ? kFolders[type] : 0;
}

ConnectResult Connect(Connection* connection) {
  std::shared_ptr<Application> application;
  ConnectResult result = ObjectModel::Current().Connect(&application);
  if (result != ConnectResult::kOk) return result;
  if (!application) return ConnectResult::kNoObject;
  bool present = false;
  connection->has_window = application->ActiveExplorer(&present) && present;
  connection->application = std::move(application);
  return ConnectResult::kOk;
}

bool ConnectWithWindow(Connection* connection) {
  if (Connect(connection) != ConnectResult::kOk) return false;
  if (!connection->has_window) {
    connection->application->Quit();
    return false;
  }
  return true;
}

bool OpenTypeItems(Application& application, uint32_t type, std::shared_ptr<Items>* items) {
  std::shared_ptr<Namespace> mapi;
  std::shared_ptr<Folder> folder;
  return application.GetNamespace(u"MAPI", &mapi) && mapi &&
         mapi->GetDefaultFolder(FolderOfType(type), &folder) && folder && folder->GetItems(items) &&
         *items;
}

bool QueryType(Item& item, uint32_t type, TypedItem* typed) {
  typed->type = type;
  switch (type) {
    case SYNC_OBJECT_MESSAGE:
      typed->base = typed->mail = item.QueryMail();
      break;
    case SYNC_OBJECT_NOTE:
      typed->base = typed->note = item.QueryNote();
      break;
    case SYNC_OBJECT_CONTACT:
      typed->base = typed->contact = item.QueryContact();
      break;
    case SYNC_OBJECT_CALENDAR:
      typed->base = typed->appointment = item.QueryAppointment();
      break;
    default:
      return false;
  }
  return typed->base != nullptr;
}

bool ReadEntryID(ItemBase& item, WString* entry_id) {
  OptString value;
  if (!item.EntryID(&value) || !value || value->size() > kMaxWideLength) return false;
  *entry_id = *value;
  return true;
}

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
  formats::WriteMailAsVMessage(item.mail, path, folder, 0, entry_id);
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
