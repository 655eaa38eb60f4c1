// The steps every export that touches the item store shares: connecting,
// the window check, reaching a type's default folder, telling an item's
// class and producing the file of an item.
#ifndef ZELSYNC_OUTLOOK_CONNECTION_H
#define ZELSYNC_OUTLOOK_CONNECTION_H

#include <memory>

#include "outlook/object_model.h"

namespace zelsync {
namespace outlook {

// The default folder of an object type (Inbox, Notes, Contacts, Calendar).
int32_t FolderOfType(uint32_t type);

// A connection for one export call. Everything it holds is released when it
// goes out of scope.
struct Connection {
  std::shared_ptr<Application> application;
  bool has_window = false;
};

// Connects; on success *connection holds the application object.
ConnectResult Connect(Connection* connection);

// The connection of the reading exports and of the deletion: connects and
// requires an open window (an instance without one is told to quit).
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
// fails or the entry ID is null or too long.
bool ReadEntryID(ItemBase& item, WString* entry_id);

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

#endif  // ZELSYNC_OUTLOOK_CONNECTION_H
