// The steps every export that touches the item store shares: connecting,
// the window check, reaching a type's default folder and telling an item's
// class.
#ifndef ZELSYNC_RECORDS_CONNECTION_H
#define ZELSYNC_RECORDS_CONNECTION_H

#include <memory>

#include "object_model/object_model.h"

namespace zelsync {
namespace outlook {

// The default folder of an object type (Inbox, Notes, Contacts, Calendar).
int32_t FolderOfType(uint32_t type);

// A connection for one export call. Everything it holds is released when it
// goes out of scope.
struct Connection {
  std::shared_ptr<Application> application;
  bool has_window = false;
  bool started = false;  // this connection started the instance

  // An instance this connection started and that shows no window is ours
  // to log off and quit; any other is the user's.
  bool MayQuit() const { return started && !has_window; }
};

// Connects; on success *connection holds the application object.
ConnectResult Connect(Connection* connection);

// The connection of the reading exports and of the deletion: connects and
// requires an open window (an instance without one that this connection
// started is told to quit).
// False when either fails.
bool ConnectWithWindow(Connection* connection);

// GetNamespace("MAPI"), GetDefaultFolder and Items for the type's folder.
bool OpenTypeItems(Application& application, uint32_t type, std::shared_ptr<Items>* items);

// An item seen through the interface of one object type.
struct TypedItem {
  uint32_t type = 0;
  std::shared_ptr<ItemBase> base;
  std::shared_ptr<MailItem> mail;
  std::shared_ptr<NoteItem> note;
  std::shared_ptr<ContactItem> contact;
  std::shared_ptr<AppointmentItem> appointment;
};

// Queries the item for the type's interface; false when the item refuses
// it (an item of another class).
bool QueryType(Item& item, uint32_t type, TypedItem* typed);

// Reads an entry ID that fits a 260-unit buffer; false when the read
// fails or the entry ID is null, empty (an unsaved item) or too long.
bool ReadEntryID(ItemBase& item, WString* entry_id);

}  // namespace outlook
}  // namespace zelsync

#endif  // ZELSYNC_RECORDS_CONNECTION_H
