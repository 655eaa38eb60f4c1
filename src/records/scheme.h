// What tells the IrMC record exports from their SyncML twins: the files
// they keep, the form notes travel in, and the few rules that differ. Each
// twin pair is one implementation taking a Scheme.
#ifndef ZELSYNC_RECORDS_SCHEME_H
#define ZELSYNC_RECORDS_SCHEME_H

#include "records/connection.h"
#include "records/handed_file.h"
#include "store/device_database.h"
#include "store/modification_log.h"

namespace zelsync {
namespace outlook {

struct Scheme {
  bool syncml;
  NoteForm note_form;

  DeviceDatabase Database() const { return syncml ? SyncMLDatabase() : IrmcDatabase(); }
  ModificationLog Log() const { return syncml ? SyncMLModificationLog() : IrmcModificationLog(); }
};

constexpr Scheme kIrmc{false, NoteForm::kVNote};
constexpr Scheme kSyncML{true, NoteForm::kText};

// Walks the type's default folder for the item with this entry ID (exact,
// case-sensitive). kFound with the item; kAbsent when no item of the type
// has it; kFailed when a step of the walk failed.
enum class Lookup { kFound, kAbsent, kFailed };
Lookup FindItemByEntryID(Items& items, uint32_t type, const WString& entry_id, TypedItem* found);

// Connects (requiring a window) and looks the item up as FindItemByEntryID
// does; kFailed also when the store cannot be reached.
Lookup LookupItemByEntryID(Connection* connection, uint32_t type, const WString& entry_id,
                           TypedItem* found);

// Deletes the item of that type and entry ID from the type's default
// folder. 1 when it was deleted or no such item exists; 0 when the store
// cannot be reached, shows no window or an operation fails.
int DeleteOutlookItemByEntryID(uint32_t type, const WString& entry_id);

// The creation of an item from a received file, for both schemes (`luid`
// null only for SyncML: LUID "UNDEFINED"). `duplicate`: the caller found
// that the database already ties an item of the type to the LUID
// (IsDuplicate); nothing is made, the file is consumed and the result is 1.
// *made (when not null) receives the new item's entry ID, or is emptied
// when no item was made.
// Where the store fixes entry IDs ahead of the save, the creation is noted
// as the scheme's pending change before the item is saved (the creation
// fails, making nothing, when the note cannot be written). `replaced` is
// null for a plain creation, which clears the note once its record stands;
// for the creation half of an update it is the entry ID of the item being
// replaced (empty when none), and the update clears the note when it ends.
int CreateRecord(const Scheme& scheme, uint32_t type, const WString* luid, const WString& path,
                 bool duplicate, WString* made, const WString* replaced = nullptr);

// Completes the scheme's pending change that a killed process left: when
// its item exists, the LUID is tied to it (for SyncML an update is also
// journaled) and the item it replaced goes, as the finished call would have
// left things; when it does not, nothing was made. Then the note is
// cleared. True when there was none or it is settled; false when the store
// or the files could not be reached (the note stays for a later call).
// Every record export of the scheme calls it first.
bool FinishPendingChange(const Scheme& scheme);

// True when the scheme's database already ties an item of this type to the
// LUID (a creation under it makes nothing).
bool IsDuplicate(const Scheme& scheme, uint32_t type, const WString& luid);

// True when the file contains "X-BLUETOOTH-ALLDAYEVENT:TRUE" anywhere.
bool IsAllDayEventFile(const WString& path);

}  // namespace outlook
}  // namespace zelsync

#endif  // ZELSYNC_RECORDS_SCHEME_H
