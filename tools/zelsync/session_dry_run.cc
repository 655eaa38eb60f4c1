// A dry run: what a session would move, read from the phone's folder and
// the library's bookkeeping files without calling the library.
#include <set>

#include "bookkeeping_files.h"
#include "device_files.h"
#include "file_util.h"
#include "object_types.h"
#include "session_steps.h"
#include "text.h"

#ifndef _WIN32
#include "tracker/change_scanner.h"
#endif

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

DecodedFile ReadDecoded(const fs::path& path, FileKind kind) {
  Bytes bytes;
  std::error_code ec;
  if (!fs::exists(path, ec) || !ReadWholeFile(path, &bytes)) bytes.clear();
  return DecodeBookkeepingFile(kind, bytes);
}

struct PcChange {
  uint32_t type;
  bool deleted;
  std::string entry_id;
};

// What the PC holds beyond the logs: the changes the store's change
// scanner would log at the start of the session, and every item's entry ID
// (empty where there is no scanner: Windows, where Outlook keeps the logs).
struct StoreView {
  bool seen = false;
  std::vector<PcChange> changes;
  std::vector<PcChange> items;
};

StoreView LookAtStore() {
  StoreView view;
#ifndef _WIN32
  std::vector<zelsync::LoggedChange> changes, items;
  if (!zelsync::local::PreviewStoreChanges(&changes, &items).ok) return view;
  view.seen = true;
  for (const auto& change : changes)
    view.changes.push_back({change.type, change.kind != 0, Utf16ToUtf8(change.entry_id)});
  for (const auto& item : items)
    view.items.push_back({item.type, false, Utf16ToUtf8(item.entry_id)});
#endif
  return view;
}

// The PC changes and deletions of objects the phone holds: the log's
// entries (and the store's changes not logged yet) whose entry ID the
// database maps to a LUID the phone gave; and the store's items the
// database does not hold, which would go to the phone as new.
void PlanPcChanges(const Phone& phone, Road road, const fs::path& sync_folder, const StoreView& store,
                   SessionReport* report, std::set<std::pair<uint32_t, std::string>>* touched) {
  const bool syncml = road == Road::kSyncML;
  const DecodedFile log = ReadDecoded(ModificationLogFile(sync_folder, road),
                                      syncml ? FileKind::kSyncMLLog : FileKind::kIrmcLog);
  std::vector<PcChange> changes;
  for (const DecodedRecord& entry : log.records) {
    if (entry.entry_id && !entry.removed)
      changes.push_back({entry.type, entry.kind.value_or(0) != 0, entry.entry_id->text});
  }
  changes.insert(changes.end(), store.changes.begin(), store.changes.end());
  for (const TypeInfo& type : ObjectTypes()) {
    const DecodedFile db =
        ReadDecoded(PhoneDatabaseFile(sync_folder, road, phone, type),
                    syncml ? FileKind::kSyncMLDatabase : FileKind::kDeviceDatabase);
    std::set<std::string> reported, known;
    for (const DecodedRecord& mapped : db.records) {
      if (mapped.type == type.code && mapped.entry_id) known.insert(mapped.entry_id->text);
    }
    for (const PcChange& item : store.items) {
      if (item.type != type.code || known.count(item.entry_id)) continue;
      SessionEvent event = SessionEvent::ToPhone(ChangeKind::kNew, type.code);
      event.entry_id = item.entry_id;
      event.message = "would move (unless the phone holds it already)";
      ++report->counts[type.code].sent;
      report->events.push_back(std::move(event));
    }
    for (const PcChange& entry : changes) {
      if (entry.type != type.code) continue;
      const bool deleted = entry.deleted;
      const std::string key = (deleted ? "d:" : "c:") + entry.entry_id;
      if (reported.count(key)) continue;
      for (const DecodedRecord& mapped : db.records) {
        if (mapped.type != type.code || !mapped.entry_id || !mapped.luid) continue;
        if (mapped.entry_id->text != entry.entry_id || mapped.luid->text == "UNDEFINED") continue;
        reported.insert(key);
        SessionEvent event = SessionEvent::ToPhone(deleted ? ChangeKind::kDeleted : ChangeKind::kChanged, type.code);
        event.luid = mapped.luid->text;
        event.entry_id = entry.entry_id;
        event.message = "would move";
        if (const PhoneItem* item = phone.FindItem(type.code, mapped.luid->text)) event.file = item->file;
        touched->insert({type.code, mapped.luid->text});
        TypeCounts& counts = report->counts[type.code];
        ++(deleted ? counts.deleted : counts.updated);
        ++(deleted ? counts.deleted_on_phone : counts.updated_on_phone);
        report->events.push_back(std::move(event));
        break;
      }
    }
  }
}

}  // namespace

void PlanDryRun(Phone* phone, const SessionOptions& options, const fs::path& sync_folder, SessionReport* report) {
  report->identity = options.road == Road::kSyncML ? phone->address : phone->device_id;
  std::vector<std::string> ignored;
  phone->NoticeNewFiles(&ignored);
  for (const TypeInfo& type : ObjectTypes()) report->counts[type.code];

  std::set<std::pair<uint32_t, std::string>> pc_touched;
  const StoreView store = LookAtStore();
  if (!sync_folder.empty()) PlanPcChanges(*phone, options.road, sync_folder, store, report, &pc_touched);
  for (const PhoneChange& change : phone->PendingChanges()) {
    if (pc_touched.count({change.type, change.luid})) {
      report->notes.push_back(std::string(TypeByCode(change.type).name) + " " + change.luid +
                              " changed on both sides: the PC's version would win");
      continue;
    }
    SessionEvent event = SessionEvent::ToPc(change);
    event.message = "would move";
    TypeCounts& counts = report->counts[change.type];
    if (change.kind == ChangeKind::kNew) ++counts.received;
    if (change.kind == ChangeKind::kChanged) ++counts.updated;
    if (change.kind == ChangeKind::kDeleted) ++counts.deleted;
    report->events.push_back(std::move(event));
  }
  report->notes.push_back(store.seen ? "dry run: nothing was changed"
                                     : "dry run: nothing was changed; new PC items are not counted and PC changes "
                                       "are seen as far as the modification logs hold them");
}

}  // namespace zelsync_tool
