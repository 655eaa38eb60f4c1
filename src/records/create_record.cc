// CreateNewRecord and SyncMLCreateNewRecord: a file received from the
// device becomes a new item of the store, and the device's LUID is tied to
// the item's entry ID. The file's extension alone decides the kind of item;
// the received file is consumed.
#include <cstring>
#include <string>

#include "formats/file_buffer.h"
#include "formats/vmessage.h"
#include "formats/vnote.h"
#include "records/record_exports.h"
#include "records/scheme.h"
#include "store/session.h"
#include "store/store_exports.h"

namespace zelsync {
namespace outlook {

bool IsAllDayEventFile(const WString& path) {
  static const char kMarker[] = "X-BLUETOOTH-ALLDAYEVENT:TRUE";
  constexpr size_t kMarkerLength = sizeof kMarker - 1;
  Stream file = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  if (!file) return false;
  // Search in chunks, keeping the tail of the previous chunk so a marker
  // that straddles two reads is found.
  std::string window;
  char chunk[8192];
  for (size_t got; (got = file->Read(chunk, sizeof chunk)) > 0;) {
    window.append(chunk, got);
    if (window.find(kMarker) != std::string::npos) return true;
    if (window.size() > kMarkerLength) window.erase(0, window.size() - (kMarkerLength - 1));
  }
  return false;
}

// True when the database already ties an item of this type to the LUID.
bool IsDuplicate(const Scheme& scheme, uint32_t type, const WString& luid) {
  const DeviceDatabase db = scheme.Database();
  Stream stream = OpenForUpdate(db.files.path);
  if (!stream) return false;
  DeviceRecord found;
  return LookupRecordByLUID(db, type, luid, &found, std::move(stream)) == 1;
}

namespace {

// The text from the last "." of the path to its end; empty without one.
WString Extension(const WString& path) {
  const size_t dot = path.rfind(u'.');
  return dot == WString::npos ? WString() : path.substr(dot);
}

class Creation {
 public:
  Creation(const Scheme& scheme, uint32_t type, const WString* luid, const WString& path,
           const WString* replaced)
      : scheme_(scheme),
        type_(type),
        luid_(luid ? *luid : WString(kUndefinedLuid)),
        path_(path),
        replaced_(replaced) {}

  // The entry ID of the item made, empty when none was.
  const WString& made() const { return made_; }

  int Run(bool duplicate) {
    if (duplicate) return Consume(1);
    const WString extension = Extension(path_);
    switch (Connect(&connection_)) {
      case ConnectResult::kOk:
        break;
      case ConnectResult::kNoObject:
        return Consume(0);
      default:
        return 0;  // the store cannot be started: the file stays for a retry
    }
    Application& application = *connection_.application;
    if (!application.Session(&session_) || !session_) {
      if (connection_.MayQuit()) application.Quit();
      return Consume(0);
    }
    if (extension == u".vcf" || extension == u".vcs" || extension == u".ics") {
      return CommonExit(ImportShared(extension));
    }
    if (extension == u".vmg") return CreateMail();
    if (extension == u".vnt") return CreateNote(false);
    if (scheme_.syncml && extension == u".txt" && type_ == SYNC_OBJECT_NOTE) return CreateNote(true);
    return CommonExit(1);  // not a kind of item the store holds: nothing made
  }

 private:
  // Deletes the received file and returns `result`.
  int Consume(int result) {
    Env::Current().RemoveFile(path_);
    return result;
  }

  // Notes the creation as the scheme's pending change, under the entry ID
  // the store reserves for the item, before the item is saved: a process
  // killed between the save and the record leaves the note, and the next
  // call ties the LUID to the item instead of leaving it unknown (it would
  // go to the device as new, beside the device's own copy). False when the
  // note cannot be written: the item must then not be made. A store that
  // assigns entry IDs only when it saves cannot be noted ahead; it saves
  // unnoted, as before.
  bool NotePending(ItemBase& item) {
    WString reserved;
    if (!item.ReserveEntryID(&reserved)) return true;
    PendingChange change;
    change.type = type_;
    change.update = replaced_ ? 1 : 0;
    CopyBounded(change.luid, kWideUnits, luid_);
    if (replaced_) CopyBounded(change.old_entry_id, kWideUnits, *replaced_);
    CopyBounded(change.new_entry_id, kWideUnits, reserved);
    noted_ = WritePendingChange(scheme_.syncml, change);
    return noted_;
  }

  // Clears the note of a creation that made nothing, or whose record stands
  // (an update clears it itself once the old item is gone).
  void EndPending(bool made) {
    if (noted_ && (!made || !replaced_)) ClearPendingChange(scheme_.syncml);
  }

  // Notes the creation, saves the item and ties the LUID to it.
  int SaveAndRecord(ItemBase& item) {
    if (!NotePending(item)) return 0;
    if (!item.Save()) {
      EndPending(false);
      return 0;
    }
    return Record(item);
  }

  // Ties the LUID to the new item. An item whose record cannot be written
  // would go back to the device as new (a duplicate there): it is deleted
  // again and the creation fails.
  int Record(ItemBase& item) {
    WString entry_id;
    if (ReadEntryID(item, &entry_id) &&
        AppendRecord(scheme_.Database(), MakeDeviceRecord(type_, entry_id, luid_))) {
      made_ = entry_id;
      EndPending(true);
      return 1;
    }
    // A note left standing where the item could not be deleted lets the
    // next call tie the LUID to it.
    if (item.Delete()) EndPending(false);
    return 0;
  }

  // The end of the contact and calendar imports and of their failures: an
  // instance started for this call (no window) is logged off and told to quit.
  int CommonExit(int result) {
    if (connection_.MayQuit()) {
      session_->Logoff();
      connection_.application->Quit();
    }
    return Consume(result);
  }

  // Contacts and calendar items: the store itself reads the file.
  int ImportShared(const WString& extension) {
    // Both schemes honour the all-day marker: an all-day event must not
    // become a 24-hour timed one on its way through the store.
    const bool all_day = extension != u".vcf" && IsAllDayEventFile(path_);
    std::shared_ptr<Item> opened;
    if (!session_->OpenSharedItem(path_, &opened) || !opened) return 0;
    if (extension == u".vcf") {
      std::shared_ptr<ContactItem> contact = opened->QueryContact();
      if (!contact) return 0;
      return SaveAndRecord(*contact);
    }
    std::shared_ptr<AppointmentItem> appointment = opened->QueryAppointment();
    if (!appointment) return 0;
    if (all_day) appointment->PutAllDayEvent(true);
    return SaveAndRecord(*appointment);
  }

  // Mail: a new mail filled by the vMessage reader, saved and moved into
  // the Inbox; the record holds the entry ID of the moved mail.
  int CreateMail() {
    Application& application = *connection_.application;
    std::shared_ptr<Item> created;
    if (!application.CreateItem(kMailItem, &created) || !created) return CommonExit(0);
    std::shared_ptr<MailItem> mail = created->QueryMail();
    if (!mail) return CommonExit(0);
    mail->PutBodyFormat(kBodyFormatHtml);
    std::shared_ptr<Namespace> session;
    std::shared_ptr<Folder> inbox;
    if (!application.Session(&session) || !session ||
        !session->GetDefaultFolder(kFolderInbox, &inbox) || !inbox) {
      return CommonExit(0);
    }
    const uint32_t setting = Env::Current().MailAttachmentSetting();
    // A file the reader rejects makes nothing: the new mail is never saved,
    // so the store forgets it, and the device learns that its object did not
    // arrive instead of believing an empty mail holds it.
    bool read = false;
    {
      // The buffer keeps the file open: it is gone before the file is removed.
      std::unique_ptr<formats::MessageFileBuffer> buffer = formats::MessageFileBuffer::Open(path_);
      read = buffer && formats::ReadVMessageIntoMailItem(*buffer, mail, setting);
    }
    if (!read) return CommonExit(0);
    // A mail that cannot be saved has no entry ID and cannot be moved: it is
    // discarded and the creation fails.
    if (!NotePending(*mail)) return CommonExit(0);
    if (!mail->Save()) {
      mail->Delete();
      EndPending(false);
      return CommonExit(0);
    }
    std::shared_ptr<MailItem> moved;
    if (!mail->Move(inbox, &moved) || !moved) {
      // Not in the Inbox, so never seen by the device.
      if (mail->Delete()) EndPending(false);
      return CommonExit(0);
    }
    return Consume(Record(*moved));
  }

  // Notes: a new note filled by the vNote reader, or (SyncML ".txt") with
  // the file's text as its body.
  int CreateNote(bool plain_text) {
    std::shared_ptr<Item> created;
    if (!connection_.application->CreateItem(kNoteItem, &created) || !created) return CommonExit(0);
    std::shared_ptr<NoteItem> note = created->QueryNote();
    if (!note) return CommonExit(0);
    // As for mail, a rejected file makes nothing.
    std::unique_ptr<formats::FileBuffer> buffer = formats::FileBuffer::Open(path_);
    if (!buffer) return CommonExit(0);
    // A SyncML phone edits the plain text it was sent and returns it in the
    // same form, with no vNote around it.
    const std::string_view text = buffer->text();
    const bool as_text = plain_text || (scheme_.syncml && !text.empty() &&
                                        text.find("BEGIN:VNOTE") == std::string_view::npos);
    const int read = as_text ? formats::ImportTextIntoNoteItem(*buffer, note)
                             : formats::ReadVNoteIntoNoteItem(*buffer, note);
    if (!read) return CommonExit(0);
    if (!NotePending(*note)) return CommonExit(0);
    if (!note->Save()) {
      note->Delete();
      EndPending(false);
      return CommonExit(0);
    }
    return Consume(Record(*note));
  }

  const Scheme& scheme_;
  const uint32_t type_;
  const WString luid_;
  const WString path_;
  const WString* replaced_;
  bool noted_ = false;
  Connection connection_;
  std::shared_ptr<Namespace> session_;
  WString made_;
};

}  // namespace

int CreateRecord(const Scheme& scheme, uint32_t type, const WString* luid, const WString& path,
                 bool duplicate, WString* made, const WString* replaced) {
  Creation creation(scheme, type, luid, path, replaced);
  const int result = creation.Run(duplicate);
  if (made) *made = creation.made();
  return result;
}

}  // namespace outlook

int CreateNewRecord(uint32_t type, const WString& luid, const WString& file_path) {
  if (!outlook::FinishPendingChange(outlook::kIrmc)) return 0;
  return outlook::CreateRecord(outlook::kIrmc, type, &luid, file_path,
                               outlook::IsDuplicate(outlook::kIrmc, type, luid), nullptr);
}

int SyncMLCreateNewRecord(uint32_t type, const WString& file_path, const WString* luid) {
  // Within an open session the LUID is listed for the rollback before the
  // item exists: listed only after it (by SyncMLAddNewRecToTempDBFile), an
  // item made just before the service died would survive the rollback and
  // come back to the device as new.
  if (!outlook::FinishPendingChange(outlook::kSyncML)) return 0;
  const bool duplicate = luid && outlook::IsDuplicate(outlook::kSyncML, type, *luid);
  if (luid && !duplicate) ListSyncMLCreation(type, *luid);
  return outlook::CreateRecord(outlook::kSyncML, type, luid, file_path, duplicate, nullptr);
}

}  // namespace zelsync
