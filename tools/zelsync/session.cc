#include "session.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <random>
#include <set>

#include "bookkeeping_files.h"
#include "file_util.h"
#include "host_temp.h"
#include "object_types.h"
#include "table.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// A library that keeps answering 1 must not keep the host busy for ever.
constexpr int kMaxObjectsPerStep = 100000;

// Raised when the simulated link drops.
struct LinkDropped {};

_SYNCML_SYNCANCHOR_RECORD ToRecord(const PhoneAnchor& anchor) {
  _SYNCML_SYNCANCHOR_RECORD record{};
  record.AnchorKind = anchor.kind;
  std::u16string time = Utf8ToUtf16(anchor.time);
  for (size_t i = 0; i < time.size() && i < 19; ++i) record.TimeAnchor[i] = static_cast<ZS_WCHAR>(time[i]);
  record.NumericAnchor = anchor.number;
  return record;
}

std::string AnchorText(const _SYNCML_SYNCANCHOR_RECORD& record) {
  std::u16string time;
  for (size_t i = 0; i < 20 && record.TimeAnchor[i]; ++i) time.push_back(static_cast<char16_t>(record.TimeAnchor[i]));
  if (record.AnchorKind == 0) return "number " + std::to_string(record.NumericAnchor);
  return "time " + Utf16ToUtf8(time);
}

bool SameAnchor(const _SYNCML_SYNCANCHOR_RECORD& a, const _SYNCML_SYNCANCHOR_RECORD& b) {
  if ((a.AnchorKind == 0) != (b.AnchorKind == 0)) return false;
  if (a.AnchorKind == 0) return a.NumericAnchor == b.NumericAnchor;
  for (size_t i = 0; i < 20; ++i) {
    if (a.TimeAnchor[i] != b.TimeAnchor[i]) return false;
    if (a.TimeAnchor[i] == 0) break;
  }
  return true;
}

class Driver {
 public:
  Driver(const Exports& library, Phone* phone, const SessionOptions& options,
         const fs::path& sync_folder, SessionReport* report)
      : lib_(library),
        phone_(*phone),
        options_(options),
        sync_folder_(sync_folder),
        report_(*report) {}

  void Run();

 private:
  bool syncml() const { return options_.road == Road::kSyncML; }
  void RunIrmc();
  void RunSyncML();
  // Rolls back what a SyncML session cut short by the death of the host
  // left behind, on the PC and on the phone. False when it could not.
  bool RecoverUnfinishedSession();
  void PcToPhone(const TypeInfo& type);
  int PhoneToPc(const TypeInfo& type);
  void SendNew(const TypeInfo& type);
  void SendModified(const TypeInfo& type);
  void SendDeleted(const TypeInfo& type);
  bool HandOver(const PhoneChange& change, fs::path* copy, std::string* why);
  void Record(SessionEvent event);
  void Fail(const TypeInfo& type, const std::string& what, SessionEvent event);
  // The file the library handed over, when it is there; else the event fails.
  bool HandedFile(const TypeInfo& type, const std::u16string& file, const SessionEvent& event,
                  std::filesystem::path* handed);
  // Tells the library the LUID the phone gave the item; true when it took it.
  bool MapLuid(const TypeInfo& type, const std::u16string& entry_id, const std::string& luid);
  void Progress(const std::string& step);

  const Exports& lib_;
  Phone& phone_;
  const SessionOptions& options_;
  const fs::path& sync_folder_;
  SessionReport& report_;
  HostTempFolder temp_;
  uint64_t address_ = 0;
  int moved_ = 0;
};

void Driver::Progress(const std::string& step) {
  if (options_.progress) options_.progress(step + " (" + std::to_string(moved_) + " moved)");
}

void Driver::Record(SessionEvent event) {
  TypeCounts& counts = report_.counts[event.type];
  if (!event.ok) {
    ++counts.failed;
  } else if (event.action == "new") {
    ++(event.to_phone ? counts.sent : counts.received);
  } else if (event.action == "changed") {
    ++counts.updated;
  } else if (event.action == "deleted") {
    ++counts.deleted;
  }
  const bool ok = event.ok;
  report_.events.push_back(std::move(event));
  if (!ok) return;
  // The phone commits each object as it goes, as a real phone does.
  std::string error;
  if (!phone_.Save(&error)) report_.errors.push_back(error);
  ++moved_;
  if (options_.interrupt_after && moved_ >= *options_.interrupt_after) throw LinkDropped{};
}

void Driver::Fail(const TypeInfo& type, const std::string& what, SessionEvent event) {
  event.type = type.code;
  event.ok = false;
  event.message = what;
  Record(std::move(event));
}

bool Driver::HandedFile(const TypeInfo& type, const std::u16string& file, const SessionEvent& event,
                        fs::path* handed) {
  *handed = PathFromUtf16(file);
  std::error_code ec;
  if (fs::is_regular_file(*handed, ec)) return true;
  Fail(type, "the library named a file it did not write: " + event.file, event);
  return false;
}

bool Driver::MapLuid(const TypeInfo& type, const std::u16string& entry_id, const std::string& luid) {
  const auto code = static_cast<_SYNC_OBJECT_TYPE>(type.code);
  WideArg entry_arg(entry_id), luid_arg(Utf8ToUtf16(luid));
  return (syncml() ? lib_.SyncMLUpdateEntryIDLUIDMapping(code, entry_arg.get(), luid_arg.get())
                   : lib_.UpdateLUIDofPrevGetNewRecord(code, entry_arg.get(), luid_arg.get())) == 1;
}

void Driver::SendNew(const TypeInfo& type) {
  std::set<std::u16string> seen;
  for (int n = 0; n < kMaxObjectsPerStep; ++n) {
    Progress(std::string(type.title) + ": new PC items");
    WideBuffer entry, path;
    int got = syncml() ? lib_.SyncMLGetNewRecord(static_cast<_SYNC_OBJECT_TYPE>(type.code), entry.data(), path.data())
                       : lib_.GetNewRecord(static_cast<_SYNC_OBJECT_TYPE>(type.code), entry.data(), path.data());
    if (got != 1) return;  // none left, or the library could not read the store
    SessionEvent event{true, "new", type.code, "", "", "", true, ""};
    std::u16string entry_id, file;
    if (!entry.Text(&entry_id) || !path.Text(&file)) {
      Fail(type, "the library left a buffer without terminator", event);
      return;
    }
    event.entry_id = Utf16ToUtf8(entry_id);
    event.file = Utf16ToUtf8(file);
    if (!seen.insert(entry_id).second) {
      Fail(type, "the library offered the same item twice; stopped asking", event);
      return;
    }
    fs::path handed;
    if (!HandedFile(type, file, event, &handed)) continue;
    std::error_code ec;
    std::string luid = phone_.ReceiveNew(type.code, handed);
    fs::remove(handed, ec);
    if (luid.empty()) {
      Fail(type, "the phone could not store the file in " + PathToUtf8(phone_.folder()), event);
      continue;
    }
    event.luid = luid;
    event.file = phone_.FindItem(type.code, luid)->file;
    if (!MapLuid(type, entry_id, luid)) {
      // The PC would not know the phone's object: take it back off the phone.
      bool ignored = false;
      phone_.ReceiveDeletion(type.code, luid, &ignored);
      Fail(type, syncml() ? "SyncMLUpdateEntryIDLUIDMapping refused the LUID"
                          : "UpdateLUIDofPrevGetNewRecord refused the LUID",
           event);
      continue;
    }
    Record(std::move(event));
  }
}

void Driver::SendModified(const TypeInfo& type) {
  std::set<std::u16string> seen;
  for (int n = 0; n < kMaxObjectsPerStep; ++n) {
    Progress(std::string(type.title) + ": PC changes");
    WideBuffer entry, luid_buffer, path;
    const auto code = static_cast<_SYNC_OBJECT_TYPE>(type.code);
    int got = syncml() ? lib_.SyncMLGetModifiedRecord(code, entry.data(), luid_buffer.data(), path.data())
                       : lib_.GetModifiedRecord(code, entry.data(), luid_buffer.data(), path.data());
    if (got != 1) return;
    SessionEvent event{true, "changed", type.code, "", "", "", true, ""};
    std::u16string entry_id, luid, file;
    if (!entry.Text(&entry_id) || !luid_buffer.Text(&luid) || !path.Text(&file)) {
      Fail(type, "the library left a buffer without terminator", event);
      return;
    }
    event.entry_id = Utf16ToUtf8(entry_id);
    event.luid = Utf16ToUtf8(luid);
    event.file = Utf16ToUtf8(file);
    if (!seen.insert(entry_id).second) {
      Fail(type, "the library reported the same change twice; stopped asking", event);
      return;
    }
    fs::path handed;
    if (!HandedFile(type, file, event, &handed)) continue;
    std::error_code ec;
    bool own_change = false;
    if (phone_.ReceiveChange(type.code, event.luid, handed, &own_change)) {
      fs::remove(handed, ec);
      event.file = phone_.FindItem(type.code, event.luid)->file;
      if (own_change) {
        report_.notes.push_back(std::string(type.name) + " " + event.luid +
                                " was changed on both sides; the PC's version wins");
      }
      Record(std::move(event));
      continue;
    }
    // The phone no longer has the object: it takes it as a new one and the
    // PC learns the new LUID.
    std::string new_luid = phone_.ReceiveNew(type.code, handed);
    fs::remove(handed, ec);
    if (new_luid.empty()) {
      Fail(type, "the phone could not store the file in " + PathToUtf8(phone_.folder()), event);
      continue;
    }
    WideArg entry_arg(entry_id), luid_arg(Utf8ToUtf16(new_luid));
    int mapped = syncml() ? lib_.SyncMLUpdateEntryIDLUIDMapping(code, entry_arg.get(), luid_arg.get())
                          : lib_.UpdateLUIDofPrevModifiedRecord(code, entry_arg.get(), luid_arg.get());
    report_.notes.push_back(std::string(type.name) + " " + event.luid +
                            " was no longer on the phone; it came back as " + new_luid);
    event.luid = new_luid;
    event.file = phone_.FindItem(type.code, new_luid)->file;
    if (mapped != 1) {
      bool ignored = false;
      phone_.ReceiveDeletion(type.code, new_luid, &ignored);
      Fail(type, "the library refused the object's new LUID", event);
      continue;
    }
    Record(std::move(event));
  }
}

void Driver::SendDeleted(const TypeInfo& type) {
  std::set<std::u16string> seen;
  for (int n = 0; n < kMaxObjectsPerStep; ++n) {
    Progress(std::string(type.title) + ": PC deletions");
    WideBuffer entry, luid_buffer;
    int32_t hard = 0;
    const auto code = static_cast<_SYNC_OBJECT_TYPE>(type.code);
    int got = syncml() ? lib_.SyncMLGetDeletedRecord(code, entry.data(), luid_buffer.data(), &hard)
                       : lib_.GetDeletedRecord(code, luid_buffer.data(), &hard);
    if (got != 1) return;
    SessionEvent event{true, "deleted", type.code, "", "", "", true, ""};
    std::u16string entry_id, luid;
    if (!luid_buffer.Text(&luid) || (syncml() && !entry.Text(&entry_id))) {
      Fail(type, "the library left a buffer without terminator", event);
      return;
    }
    event.luid = Utf16ToUtf8(luid);
    event.entry_id = Utf16ToUtf8(entry_id);
    if (!seen.insert(luid).second) {
      Fail(type, "the library reported the same deletion twice; stopped asking", event);
      return;
    }
    if (const PhoneItem* item = phone_.FindItem(type.code, event.luid)) event.file = item->file;
    bool own_change = false;
    if (!phone_.ReceiveDeletion(type.code, event.luid, &own_change)) {
      event.message = "the phone had no such object";
    } else if (own_change) {
      report_.notes.push_back(std::string(type.name) + " " + event.luid +
                              " was changed on the phone and deleted on the PC; the deletion wins");
    }
    if (hard) event.message = event.message.empty() ? "hard delete" : event.message + "; hard delete";
    Record(std::move(event));
  }
}

void Driver::PcToPhone(const TypeInfo& type) {
  SendNew(type);
  SendModified(type);
  SendDeleted(type);
}

// Puts a copy of the phone's file where the library may consume it, named
// with the phone's LUID and the lower-case extension the library reads.
bool Driver::HandOver(const PhoneChange& change, fs::path* copy, std::string* why) {
  if (temp_.path().empty()) {
    *why = "no temporary folder for the files handed to the library";
    return false;
  }
  const fs::path source = phone_.PathOf(change.file);
  const std::string ext = AsciiLower(PathToUtf8(source.extension()));
  std::string safe_luid;
  for (char c : change.luid) safe_luid.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  *copy = temp_.path() / PathFromUtf8(TypeByCode(change.type).name + std::string("-") + safe_luid + ext);
  if (PathToUtf16(*copy).size() >= ZS_MAX_PATH) {
    *why = "the path of the file handed to the library needs more than 259 characters: " + PathToUtf8(*copy);
    return false;
  }
  if (!temp_.CopyIn(source, *copy)) {
    *why = "cannot copy " + PathToUtf8(source);
    return false;
  }
  return true;
}

int Driver::PhoneToPc(const TypeInfo& type) {
  int delivered = 0;
  const auto code = static_cast<_SYNC_OBJECT_TYPE>(type.code);
  for (const PhoneChange& change : phone_.PendingChanges()) {
    if (change.type != type.code) continue;
    Progress(std::string(type.title) + ": phone changes");
    SessionEvent event{false, ChangeKindName(change.kind), type.code, change.luid, "", change.file, true, ""};
    WideArg luid(Utf8ToUtf16(change.luid));
    int result = 0;
    std::string export_name;
    fs::path copy;
    if (change.kind == ChangeKind::kDeleted) {
      export_name = syncml() ? "SyncMLDeleteRecord" : "DeleteRecord";
      result = syncml() ? lib_.SyncMLDeleteRecord(code, luid.get()) : lib_.DeleteRecord(code, luid.get());
    } else {
      std::string why;
      if (!HandOver(change, &copy, &why)) {
        Fail(type, why, event);
        continue;
      }
      WideArg path(PathToUtf16(copy));
      if (change.kind == ChangeKind::kNew) {
        export_name = syncml() ? "SyncMLCreateNewRecord" : "CreateNewRecord";
        result = syncml() ? lib_.SyncMLCreateNewRecord(code, path.get(), luid.get())
                          : lib_.CreateNewRecord(code, luid.get(), path.get());
      } else {
        export_name = syncml() ? "SyncMLUpdateRecord" : "UpdateRecord";
        result = syncml() ? lib_.SyncMLUpdateRecord(code, luid.get(), path.get())
                          : lib_.UpdateRecord(code, luid.get(), path.get());
      }
      std::error_code ec;
      fs::remove(copy, ec);  // normally consumed by the library already
    }
    if (result != 1) {
      Fail(type, export_name + " failed; the phone keeps the change for the next session", event);
      continue;
    }
    if (syncml() && change.kind == ChangeKind::kNew &&
        lib_.SyncMLAddNewRecToTempDBFile(code, luid.get()) != 1) {
      report_.notes.push_back(std::string(type.name) + " " + change.luid +
                              ": SyncMLAddNewRecToTempDBFile failed; a rollback would keep the new item");
    }
    phone_.MarkDelivered(change);
    ++delivered;
    Record(std::move(event));
  }
  return delivered;
}

void Driver::RunIrmc() {
  report_.identity = phone_.device_id;
  // Every session starts from rewound enumeration cursors, as a freshly
  // loaded library has them; the IrMC road has no export of its own for it.
  lib_.SyncMLResetCounters();
  for (const TypeInfo& type : ObjectTypes()) {
    report_.counts[type.code];
    WideArg device(Utf8ToUtf16(phone_.device_id)), database(Utf8ToUtf16(type.irmc_database));
    if (lib_.SetDeviceIDDatabaseID(device.get(), database.get()) != 1) {
      report_.errors.push_back(std::string(type.title) +
                               ": SetDeviceIDDatabaseID failed (the sync folder cannot be made or a path is too long)");
      continue;
    }
    const uint32_t phone_counter = phone_.change_counters[type.name];
    if (lib_.IsDeviceIDKnown() == 1) {
      uint32_t stored = 0;
      if (lib_.GetChangeCounter(&stored) != 1) {
        report_.errors.push_back(std::string(type.title) + ": GetChangeCounter failed");
      } else if (stored != phone_counter) {
        report_.notes.push_back(std::string(type.title) + ": the PC's change counter is " + std::to_string(stored) +
                                ", the phone's " + std::to_string(phone_counter));
      }
    }
    PcToPhone(type);
    const int delivered = PhoneToPc(type);
    const uint32_t counter = phone_counter + static_cast<uint32_t>(delivered);
    phone_.change_counters[type.name] = counter;
    // A database that does not exist yet (nothing ever moved) has no
    // counter to store.
    if (lib_.UpdateChangeCounter(counter) != 1 && lib_.IsDeviceIDKnown() == 1) {
      report_.errors.push_back(std::string(type.title) + ": UpdateChangeCounter failed");
    }
  }
  report_.completed = report_.errors.empty();
}

bool Driver::RecoverUnfinishedSession() {
  std::optional<uint64_t> open_session;
  if (!sync_folder_.empty()) {
    Bytes marker;
    std::error_code ec;
    if (fs::exists(sync_folder_ / kSessionMarkerFile, ec)) {
      open_session = ReadWholeFile(sync_folder_ / kSessionMarkerFile, &marker)
                         ? DecodeSessionMarker(marker)
                         : std::nullopt;
      if (!open_session) open_session = address_;
    }
  }
  if (open_session) {
    if (lib_.SyncMLRestoreDBFiles(address_) != 1) {
      report_.errors.push_back(
          "the SyncML session with " + FormatAddress(*open_session) +
          " did not finish, and SyncMLRestoreDBFiles could not roll it back; nothing was moved");
      return false;
    }
    report_.notes.push_back("the SyncML session with " + FormatAddress(*open_session) +
                            " did not finish (the host stopped during it); it was rolled back");
  }
  if (!phone_.HasJournal()) return true;
  std::string error;
  if (open_session && *open_session == address_) {
    if (!phone_.UndoJournal(&error)) {
      report_.errors.push_back(error);
      return false;
    }
    report_.notes.push_back("the phone was put back as it was before that session");
  } else {
    // The PC finished that session: the phone keeps what it received, and the
    // anchors that differ now make every logged PC change count.
    phone_.EndJournal();
  }
  return true;
}

void Driver::RunSyncML() {
  auto parsed = ParseAddress(phone_.address);
  address_ = parsed ? *parsed : 0;
  report_.identity = phone_.address;
  for (const TypeInfo& type : ObjectTypes()) report_.counts[type.code];
  if (!RecoverUnfinishedSession()) return;

  lib_.SyncMLResetCounters();
  const PhoneAnchor last = phone_.anchor.value_or(PhoneAnchor{});
  if (lib_.SyncMLSetBDAddrLastSyncAnchor(address_, ToRecord(last)) != 1) {
    report_.errors.push_back("SyncMLSetBDAddrLastSyncAnchor failed: the device's SyncML database cannot be made or read");
    return;
  }
  _SYNCML_SYNCANCHOR_RECORD stored{};
  if (lib_.SyncMLGetLastSyncAnchor(address_, &stored) == 1 && !SameAnchor(stored, ToRecord(last))) {
    report_.notes.push_back("the PC's last anchor (" + AnchorText(stored) + ") is not the phone's (" +
                            AnchorText(ToRecord(last)) + "): every logged PC change counts");
  }
  if (lib_.SyncMLSaveDBFiles(address_) != 1) {
    report_.errors.push_back("SyncMLSaveDBFiles failed: nothing to roll back to, so nothing was moved");
    return;
  }
  std::string journal_error;
  if (!phone_.BeginJournal(&journal_error)) {
    lib_.SyncMLRestoreDBFiles(address_);
    report_.errors.push_back(journal_error + "; nothing was moved");
    return;
  }
  try {
    for (const TypeInfo& type : ObjectTypes()) {
      PcToPhone(type);
      PhoneToPc(type);
    }
  } catch (const LinkDropped&) {
    report_.interrupted = true;
  }
  PhoneAnchor next{1, options_.anchor_time.empty() ? UtcTimeAnchor() : options_.anchor_time, 0};
  if (!report_.interrupted && lib_.SyncMLSetSyncComplete(ToRecord(next)) != 1) {
    report_.errors.push_back("SyncMLSetSyncComplete failed: the new anchor was not stored");
  }
  if (report_.interrupted || !report_.errors.empty()) {
    // The session did not end: the PC's files and the phone go back to how
    // they were before it.
    if (lib_.SyncMLRestoreDBFiles(address_) != 1) {
      report_.errors.push_back("SyncMLRestoreDBFiles failed: the saved files may not all be back");
    }
    std::string error;
    if (!phone_.UndoJournal(&error)) report_.errors.push_back(error);
    report_.rolled_back = true;
    return;
  }
  lib_.SyncMLDeleteTempFiles();
  phone_.anchor = next;
  report_.completed = true;
}

void Driver::Run() {
  phone_.road = RoadName(options_.road);
  std::vector<std::string> ignored;
  phone_.NoticeNewFiles(&ignored);
  for (const std::string& file : ignored) {
    report_.notes.push_back(file + ": not a file this folder holds (wrong extension); left alone");
  }
  if (lib_.LocalStoreScan) {
    if (lib_.LocalStoreScan() != 1) {
      report_.errors.push_back("the local store's change scanner failed; nothing was moved");
      return;
    }
  } else {
    report_.notes.push_back("no store change scanner on this platform; "
                            "PC changes travel as far as the modification logs record them");
  }
  if (syncml()) {
    RunSyncML();
    return;
  }
  try {
    RunIrmc();
  } catch (const LinkDropped&) {
    // IrMC has no rollback: what moved stays moved, and the counters of the
    // unfinished databases are not stored.
    report_.interrupted = true;
    report_.completed = false;
  }
}

// --- Dry run: what a session would move, read from the phone's folder and
// the library's files without calling the library.

struct LoggedChange {
  uint32_t type;
  bool deleted;
  std::string entry_id;
};

DecodedFile ReadDecoded(const fs::path& path, FileKind kind, bool* present) {
  Bytes bytes;
  std::error_code ec;
  *present = fs::exists(path, ec) && ReadWholeFile(path, &bytes);
  return DecodeBookkeepingFile(kind, bytes);
}

void PlanDryRun(Phone* phone, const SessionOptions& options, const fs::path& sync_folder,
                SessionReport* report) {
  const bool syncml = options.road == Road::kSyncML;
  report->identity = syncml ? phone->address : phone->device_id;
  std::vector<std::string> ignored;
  phone->NoticeNewFiles(&ignored);
  for (const TypeInfo& type : ObjectTypes()) report->counts[type.code];

  // PC changes and deletions of objects the phone holds, from the logs.
  std::set<std::pair<uint32_t, std::string>> pc_touched;
  if (!sync_folder.empty()) {
    bool log_present = false;
    DecodedFile log = ReadDecoded(sync_folder / (syncml ? "SyncMLModificationLog.DAT" : "SyncModificationLog.DAT"),
                                  syncml ? FileKind::kSyncMLLog : FileKind::kIrmcLog, &log_present);
    for (const TypeInfo& type : ObjectTypes()) {
      bool db_present = false;
      fs::path db_path = syncml ? sync_folder / (phone->address + "_SyncMLDB.DAT")
                                : sync_folder / (phone->device_id + "_" + type.irmc_database + ".DAT");
      DecodedFile db = ReadDecoded(db_path, syncml ? FileKind::kSyncMLDatabase : FileKind::kDeviceDatabase,
                                   &db_present);
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
          SessionEvent event{true, deleted ? "deleted" : "changed", type.code, mapped.luid->text,
                             entry.entry_id->text, "", true, "would move"};
          if (const PhoneItem* item = phone->FindItem(type.code, mapped.luid->text)) event.file = item->file;
          pc_touched.insert({type.code, mapped.luid->text});
          TypeCounts& counts = report->counts[type.code];
          ++(deleted ? counts.deleted : counts.updated);
          report->events.push_back(std::move(event));
          break;
        }
      }
    }
  }
  for (const PhoneChange& change : phone->PendingChanges()) {
    SessionEvent event{false, ChangeKindName(change.kind), change.type, change.luid, "", change.file, true,
                       "would move"};
    if (pc_touched.count({change.type, change.luid})) {
      report->notes.push_back(std::string(TypeByCode(change.type).name) + " " + change.luid +
                              " changed on both sides: the PC's version would win");
      continue;
    }
    TypeCounts& counts = report->counts[change.type];
    if (change.kind == ChangeKind::kNew) ++counts.received;
    if (change.kind == ChangeKind::kChanged) ++counts.updated;
    if (change.kind == ChangeKind::kDeleted) ++counts.deleted;
    report->events.push_back(std::move(event));
  }
  report->notes.push_back("dry run: nothing was changed; new PC items are not counted (only the library "
                          "can enumerate the store), and PC changes since the store's last scan are not seen");
}

std::string Cell(int value) { return std::to_string(value); }

}  // namespace

const char* RoadName(Road road) { return road == Road::kSyncML ? "syncml" : "irmc"; }
const char* RoadTitle(Road road) { return road == Road::kSyncML ? "SyncML" : "IrMC"; }

bool SessionReport::failed() const {
  if (dry_run) return false;
  if (!completed || interrupted || rolled_back || !errors.empty()) return true;
  for (const auto& [type, counts] : this->counts)
    if (counts.failed) return true;
  return false;
}

int SessionReport::moved() const {
  int total = 0;
  for (const SessionEvent& event : events)
    if (event.ok) ++total;
  return total;
}

SessionReport RunSession(const Exports& library, Phone* phone, const SessionOptions& options,
                         const fs::path& sync_folder) {
  SessionReport report;
  report.road = options.road;
  report.phone = PathToUtf8(phone->folder());
  report.dry_run = options.dry_run;
  if (options.dry_run) {
    PlanDryRun(phone, options, sync_folder, &report);
    return report;
  }
  Driver driver(library, phone, options, sync_folder, &report);
  try {
    driver.Run();
  } catch (const std::exception& e) {
    report.errors.push_back(std::string("the session stopped: ") + e.what());
    report.completed = false;
  }
  if (!report.rolled_back) {
    std::string error;
    if (phone->Save(&error)) {
      if (report.completed) phone->EndJournal();
    } else {
      report.errors.push_back(error);
    }
  }
  return report;
}

json ReportToJson(const SessionReport& report) {
  json out;
  out["road"] = RoadName(report.road);
  out["phone"] = report.phone;
  out["device"] = report.identity;
  out["dry_run"] = report.dry_run;
  out["completed"] = report.completed;
  out["interrupted"] = report.interrupted;
  out["rolled_back"] = report.rolled_back;
  out["failed"] = report.failed();
  json types = json::object();
  for (const TypeInfo& type : ObjectTypes()) {
    auto it = report.counts.find(type.code);
    TypeCounts counts = it == report.counts.end() ? TypeCounts{} : it->second;
    types[type.name] = {{"sent", counts.sent},
                        {"received", counts.received},
                        {"updated", counts.updated},
                        {"deleted", counts.deleted},
                        {"failed", counts.failed}};
  }
  out["types"] = types;
  json events = json::array();
  for (const SessionEvent& event : report.events) {
    events.push_back({{"direction", event.to_phone ? "to-phone" : "to-pc"},
                      {"action", event.action},
                      {"type", TypeByCode(event.type).name},
                      {"luid", event.luid},
                      {"entry_id", event.entry_id},
                      {"file", event.file},
                      {"ok", event.ok},
                      {"message", event.message}});
  }
  out["events"] = events;
  out["notes"] = report.notes;
  out["errors"] = report.errors;
  return out;
}

std::string ReportToText(const SessionReport& report, bool all_events) {
  std::string out = std::string(RoadTitle(report.road)) + " session" + (report.dry_run ? " (dry run)" : "") +
                    " with the phone in " + report.phone + " (" +
                    (report.road == Road::kSyncML ? "address " : "device ") + report.identity + "): ";
  if (report.dry_run) {
    out += "would move " + std::to_string(report.events.size()) + "\n";
  } else if (report.rolled_back) {
    out += std::string(report.interrupted ? "interrupted, " : "") + "rolled back\n";
  } else {
    out += report.failed() ? "failed\n" : "completed\n";
  }
  std::vector<std::vector<std::string>> rows{{"", "sent", "received", "updated", "deleted", "failed"}};
  TypeCounts total;
  for (const TypeInfo& type : ObjectTypes()) {
    auto it = report.counts.find(type.code);
    TypeCounts c = it == report.counts.end() ? TypeCounts{} : it->second;
    rows.push_back({type.title, Cell(c.sent), Cell(c.received), Cell(c.updated), Cell(c.deleted), Cell(c.failed)});
    total.sent += c.sent;
    total.received += c.received;
    total.updated += c.updated;
    total.deleted += c.deleted;
    total.failed += c.failed;
  }
  rows.push_back({"total", Cell(total.sent), Cell(total.received), Cell(total.updated), Cell(total.deleted),
                  Cell(total.failed)});
  out += RenderTable(rows);
  std::vector<std::vector<std::string>> events;
  for (const SessionEvent& event : report.events) {
    if (!all_events && event.ok) continue;
    std::string what = event.ok ? event.message : "FAILED: " + event.message;
    events.push_back({event.to_phone ? "PC -> phone" : "phone -> PC", event.action, TypeByCode(event.type).name,
                      event.luid.empty() ? "" : "LUID " + event.luid, event.file, what});
  }
  if (!events.empty()) out += RenderTable(events);
  for (const std::string& note : report.notes) out += "  note: " + note + "\n";
  for (const std::string& error : report.errors) out += "  error: " + error + "\n";
  return out;
}

bool ValidDeviceId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
  });
}

std::optional<uint64_t> ParseAddress(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits.push_back(c);
  }
  if (digits.size() != 12) return std::nullopt;
  return std::stoull(digits, nullptr, 16);
}

std::string FormatAddress(uint64_t address) {
  char text[13];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(address & 0xFFFFFFFFFFFFULL));
  return text;
}

std::string UtcTimeAnchor() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &now);
#else
  gmtime_r(&now, &parts);
#endif
  char text[64];
  std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  return text;
}

}  // namespace zelsync_tool
