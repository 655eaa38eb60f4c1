#include "records/connection.h"

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
  connection->started = application->StartedByConnect();
  connection->application = std::move(application);
  return ConnectResult::kOk;
}

bool ConnectWithWindow(Connection* connection) {
  if (Connect(connection) != ConnectResult::kOk) return false;
  if (!connection->has_window) {
    if (connection->MayQuit()) connection->application->Quit();
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
  // An unsaved item's entry ID is empty: it names nothing.
  if (!item.EntryID(&value) || !value || value->empty() || value->size() > kMaxWideLength) {
    return false;
  }
  *entry_id = *value;
  return true;
}

}  // namespace outlook
}  // namespace zelsync
