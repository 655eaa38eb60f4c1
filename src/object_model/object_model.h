// The object model of the PC's item store, as the library uses it: connect,
// the application, its namespace, the default folders, item collections,
// the four item classes (and items of other classes), attachments.
//
// Backends: COM over IDispatch on Windows (Microsoft Outlook), the local PIM
// store on Linux, and an in-memory fake in the tests. The record exports are
// written once against this interface.
//
// Conventions of every method:
// - It returns true on success and false on failure, as a COM call returns
//   a non-negative or negative HRESULT. On failure the out-values are left
//   as they were.
// - Objects are reference counted: std::shared_ptr is the counted reference,
//   released automatically on every path. A function that "takes a
//   reference and releases it" takes the shared_ptr by value.
// - A string property is an OptString: std::nullopt is a null string, which
//   is a different value from the empty string.
// - Indexes of collections are 1-based, as in the object model.
#ifndef ZELSYNC_OBJECT_MODEL_OBJECT_MODEL_H
#define ZELSYNC_OBJECT_MODEL_OBJECT_MODEL_H

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/platform.h"

namespace zelsync {
namespace outlook {

using OptString = std::optional<WString>;

// Default folders (`_NameSpace::GetDefaultFolder`).
enum DefaultFolder : int32_t {
  kFolderInbox = 6,
  kFolderCalendar = 9,
  kFolderContacts = 10,
  kFolderNotes = 12,
};

// Item types of `_Application::CreateItem`.
enum ItemType : int32_t {
  kMailItem = 0,
  kNoteItem = 5,
};

// Formats of `SaveAs`.
enum SaveAsType : int32_t {
  kSaveAsVCard = 6,
  kSaveAsVCalendar = 7,
  kSaveAsICalendar = 8,
};

// `_MailItem::BodyFormat` value for HTML.
constexpr int32_t kBodyFormatHtml = 2;
// `Attachments::Add` type for a copy of a file.
constexpr int32_t kAttachByValue = 1;

class Folder;
class MailItem;
class NoteItem;
class ContactItem;
class AppointmentItem;

class Attachment {
 public:
  virtual ~Attachment() = default;
  virtual bool FileName(OptString* name) = 0;
  // Writes the attachment's content to `path`.
  virtual bool SaveAsFile(const WString& path) = 0;
};

class Attachments {
 public:
  virtual ~Attachments() = default;
  virtual bool Count(int32_t* count) = 0;
  virtual bool Item(int32_t index, std::shared_ptr<Attachment>* attachment) = 0;
  // Attaches a copy of the file `source` (type kAttachByValue) at
  // `position`, shown under `display_name`.
  virtual bool Add(const WString& source, int32_t type, int32_t position,
                   const WString& display_name) = 0;
};

// What every item class offers.
class ItemBase {
 public:
  virtual ~ItemBase() = default;
  virtual bool EntryID(OptString* entry_id) = 0;
  virtual bool Save() = 0;
  virtual bool Delete() = 0;
  // Fixes, before the first Save of a new item, the entry ID that Save will
  // give it (and that a mail keeps when it is moved), so that the caller can
  // note the item before it exists. False for a saved item and for a store
  // that assigns entry IDs only when it saves (as Outlook does).
  virtual bool ReserveEntryID(WString* entry_id) {
    (void)entry_id;
    return false;
  }
};

class MailItem : public ItemBase {
 public:
  virtual bool SenderName(OptString* value) = 0;
  virtual bool SentOnBehalfOfName(OptString* value) = 0;
  virtual bool PutSentOnBehalfOfName(const WString& value) = 0;
  virtual bool To(OptString* value) = 0;
  virtual bool PutTo(const WString& value) = 0;
  virtual bool CC(OptString* value) = 0;
  virtual bool PutCC(const WString& value) = 0;
  virtual bool Subject(OptString* value) = 0;
  virtual bool PutSubject(const WString& value) = 0;
  // An OLE Automation date: days since 1899-12-30, the fraction the time.
  virtual bool SentOn(double* date) = 0;
  virtual bool Importance(int32_t* value) = 0;
  virtual bool PutImportance(int32_t value) = 0;
  virtual bool HTMLBody(OptString* value) = 0;
  virtual bool PutHTMLBody(const WString& value) = 0;
  virtual bool UnRead(bool* value) = 0;
  virtual bool PutUnRead(bool value) = 0;
  virtual bool PutBodyFormat(int32_t format) = 0;
  virtual bool GetAttachments(std::shared_ptr<Attachments>* attachments) = 0;
  // Moves the mail into `folder`; *moved is the mail in its new place
  // (whose entry ID may differ).
  virtual bool Move(const std::shared_ptr<Folder>& folder, std::shared_ptr<MailItem>* moved) = 0;
};

class NoteItem : public ItemBase {
 public:
  virtual bool Body(OptString* value) = 0;
  virtual bool PutBody(const WString& value) = 0;
};

class ContactItem : public ItemBase {
 public:
  virtual bool FullName(OptString* value) = 0;
  virtual bool SaveAs(const WString& path, int32_t type) = 0;
};

class AppointmentItem : public ItemBase {
 public:
  virtual bool Subject(OptString* value) = 0;
  virtual bool PutAllDayEvent(bool value) = 0;
  virtual bool SaveAs(const WString& path, int32_t type) = 0;
};

// An item as a collection hands it out, before its class is known. Each
// query returns the item's interface of that class, or null when the item
// refuses it (an item of another class, such as a meeting request, refuses
// all four).
class Item {
 public:
  virtual ~Item() = default;
  virtual std::shared_ptr<MailItem> QueryMail() = 0;
  virtual std::shared_ptr<NoteItem> QueryNote() = 0;
  virtual std::shared_ptr<ContactItem> QueryContact() = 0;
  virtual std::shared_ptr<AppointmentItem> QueryAppointment() = 0;
};

// What a collection's direct lookup by entry ID found.
enum class DirectLookup { kUnsupported, kFound, kAbsent };

class Items {
 public:
  virtual ~Items() = default;
  virtual bool Count(int32_t* count) = 0;
  // The item at the 1-based `index`; fails past the end.
  virtual bool Item(int32_t index, std::shared_ptr<outlook::Item>* item) = 0;
  // The item whose entry ID is exactly `entry_id`, when the collection can
  // tell without walking its items: kFound with the item, kAbsent when the
  // collection holds no such item. kUnsupported (the default): the caller
  // walks the collection.
  virtual DirectLookup FindByEntryID(const WString& entry_id,
                                     std::shared_ptr<outlook::Item>* item) {
    (void)entry_id;
    (void)item;
    return DirectLookup::kUnsupported;
  }
};

class Folder {
 public:
  virtual ~Folder() = default;
  virtual bool GetItems(std::shared_ptr<Items>* items) = 0;
};

class Namespace {
 public:
  virtual ~Namespace() = default;
  virtual bool GetDefaultFolder(int32_t folder, std::shared_ptr<Folder>* result) = 0;
  // Opens a vCard, vCalendar or iCalendar file as a new, unsaved item.
  virtual bool OpenSharedItem(const WString& path, std::shared_ptr<outlook::Item>* item) = 0;
  virtual bool Logoff() = 0;
};

class Application {
 public:
  virtual ~Application() = default;
  // *present is false when no explorer window is open.
  virtual bool ActiveExplorer(bool* present) = 0;
  virtual bool Session(std::shared_ptr<Namespace>* result) = 0;
  virtual bool GetNamespace(const WString& type, std::shared_ptr<Namespace>* result) = 0;
  // A new, empty item of `type` (kMailItem or kNoteItem).
  virtual bool CreateItem(int32_t type, std::shared_ptr<outlook::Item>* item) = 0;
  virtual bool Quit() = 0;
  // Whether connecting started this instance, rather than finding one the
  // user runs. Only an instance the library started may be told to log off
  // or quit: quitting the user's loses what they have open. A store that is
  // always its caller's own keeps the default.
  virtual bool StartedByConnect() const { return true; }
};

// The outcomes of connecting, told apart as the record exports need them.
enum class ConnectResult {
  kOk,
  kNotRegistered,   // the class "Outlook.Application" is not known
  kCreationFailed,  // creating the instance failed
  kNoObject,        // creation succeeded without an object
};

// Connects to the item store. One backend serves the library; tests install
// another with ScopedObjectModel.
class ObjectModel {
 public:
  virtual ~ObjectModel() = default;
  virtual ConnectResult Connect(std::shared_ptr<Application>* application) = 0;

  // The object model the library uses: the one installed by a
  // ScopedObjectModel, else the backend of this platform. Never null.
  static ObjectModel& Current();
  // The backend of this platform.
  static ObjectModel& Default();
};

class ScopedObjectModel {
 public:
  explicit ScopedObjectModel(ObjectModel& model);
  ~ScopedObjectModel();
  ScopedObjectModel(const ScopedObjectModel&) = delete;
  ScopedObjectModel& operator=(const ScopedObjectModel&) = delete;

 private:
  ObjectModel* previous_;
};

}  // namespace outlook
}  // namespace zelsync

#endif  // ZELSYNC_OBJECT_MODEL_OBJECT_MODEL_H
