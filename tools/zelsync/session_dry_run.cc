// A dry run: what a session would move, read from the phone's folder and
// the library's bookkeeping files without calling the library.
#include <set>

#include "bookkeeping_files.h"
#include "file_util.h"
#include "object_types.h"
#include "session_steps.h"
#include "store/file_names.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

DecodedFile ReadDecoded(const fs::path& path, FileKind kind) {
  Bytes bytes;
  std::error_code ec;
  if (!fs::exists(path, ec) || !ReadWholeFile(path, &bytes)) bytes.clear();
  return DecodeBookkeepingFile(kind, bytes);
}

// The PC changes and deletions of objects the phone holds: the log's
// entries whose entry ID the database maps to a LUID the phone gave.
void PlanPcChanges(const Phone& phone, Road road, const fs::path& sync_folder, SessionReport* report,
                   std::set<std::pair<uint32_t, std::string>>* touched) {
  const bool syncml = road == Road::kSyncML;
  using zelsync::BookkeepingFile;
  const BookkeepingFile log_file = syncml ? BookkeepingFile::kSyncMLLog : BookkeepingFile::kIrmcLog;
  const BookkeepingFile db_file = syncml ? BookkeepingFile::kSyncMLDatabase : BookkeepingFile::kIrmcDatabase;
  const DecodedFile log = ReadDecoded(sync_folder / zelsync::BookkeepingFileName(log_file),
                                      zelsync::InfoOf(log_file).layout);
  // The library names a device's SyncML files by its address in 12
  // lower-case hex digits, however the phone spells it.
  const std::optional<uint64_t> address = ParseAddress(phone.address);
  const std::string address_name = address ? FormatAddress(*address) : phone.address;
  for (const TypeInfo& type : ObjectTypes()) {
    const std::string device = syncml ? address_name : phone.device_id + "_" + type.irmc_database;
    const DecodedFile db = ReadDecoded(sync_folder / PathFromUtf8(zelsync::BookkeepingFileName(db_file, device)),
                                       zelsync::InfoOf(db_file).layout);
    std::set<std::string> reported;
    for (const DecodedRecord& entry : log.records) {
      if (entry.type != type.code || !entry.entry_id) continue;
      const bool deleted = entry.kind.value_or(0) != 0;
      const std::string key = (deleted ? "d:" : "c:") + entry.entry_id->text;
      if (reported.count(key)) continue;
      for (const DecodedRecord& mapped : db.records) {
        if (mapped.type != type.code || !mapped.entry_id || !mapped.luid) continue;
        if (mapped.entry_id->text != entry.entry_id->text || mapped.luid->text == "UNDEFINED") continue;
        reported.insert(key);
        SessionEvent event = SessionEvent::ToPhone(deleted ? ChangeKind::kDeleted : ChangeKind::kChanged, type.code);
        event.luid = mapped.luid->text;
        event.entry_id = entry.entry_id->text;
        event.message = "would move";
        if (const PhoneItem* item = phone.FindItem(type.code, mapped.luid->text)) event.file = item->file;
        touched->insert({type.code, mapped.luid->text});
        TypeCounts& counts = report->counts[type.code];
        ++(deleted ? counts.deleted : counts.updated);
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
  if (!sync_folder.empty()) PlanPcChanges(*phone, options.road, sync_folder, report, &pc_touched);
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
  report->notes.push_back("dry run: nothing was changed; new PC items are not counted (only the library "
                          "can enumerate the store), and PC changes since the store's last scan are not seen");
}

}  // namespace zelsync_tool
