// Drives one session through the library's exports, as the synchronisation
// service does. The steps are written once; the road's table of exports
// says which export each step calls.
#include <algorithm>
#include <cstdio>
#include <random>
#include <set>

#include "bookkeeping_files.h"
#include "file_util.h"
#include "host_temp.h"
#include "object_text.h"
#include "object_types.h"
#include "session_steps.h"
#include "store/file_names.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

// A library that keeps answering 1 must not keep the host busy for ever.
constexpr int kMaxObjectsPerStep = 100000;

// Raised when the simulated link drops.
struct LinkDropped {};

constexpr size_t kAnchorTimeUnits = sizeof(_SYNCML_SYNCANCHOR_RECORD{}.TimeAnchor) / sizeof(ZS_WCHAR);

_SYNCML_SYNCANCHOR_RECORD ToRecord(const PhoneAnchor& anchor) {
  _SYNCML_SYNCANCHOR_RECORD record{};
  record.AnchorKind = anchor.kind;
  std::u16string time = Utf8ToUtf16(anchor.time);
  // The last unit stays the terminator.
  for (size_t i = 0; i < time.size() && i + 1 < kAnchorTimeUnits; ++i) {
    record.TimeAnchor[i] = static_cast<ZS_WCHAR>(time[i]);
  }
  record.NumericAnchor = anchor.number;
  return record;
}

std::string AnchorText(const _SYNCML_SYNCANCHOR_RECORD& record) {
  if (record.AnchorKind == 0) return "number " + std::to_string(record.NumericAnchor);
  std::u16string time;
  for (size_t i = 0; i < kAnchorTimeUnits && record.TimeAnchor[i]; ++i) {
    time.push_back(static_cast<char16_t>(record.TimeAnchor[i]));
  }
  return "time " + Utf16ToUtf8(time);
}

bool SameAnchor(const _SYNCML_SYNCANCHOR_RECORD& a, const _SYNCML_SYNCANCHOR_RECORD& b) {
  if ((a.AnchorKind == 0) != (b.AnchorKind == 0)) return false;
  if (a.AnchorKind == 0) return a.NumericAnchor == b.NumericAnchor;
  for (size_t i = 0; i < kAnchorTimeUnits; ++i) {
    if (a.TimeAnchor[i] != b.TimeAnchor[i]) return false;
    if (a.TimeAnchor[i] == 0) break;
  }
  return true;
}

class Driver {
 public:
  Driver(const Exports& library, Phone* phone, const SessionOptions& options, const fs::path& sync_folder,
         SessionReport* report)
      : lib_(library),
        road_(ExportsOf(options.road)),
        phone_(*phone),
        options_(options),
        sync_folder_(sync_folder),
        report_(*report) {}

  void Run();

 private:
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
  // Stores a new object the phone took for a PC item and tells the library
  // its LUID; on refusal takes it off the phone again. The LUID, or empty
  // on failure (the event is then recorded as failed).
  std::string PlaceOnPhone(const TypeInfo& type, const fs::path& handed, const std::u16string& entry_id,
                           decltype(RoadExports::map_new) map, SessionEvent* event);
  void Record(SessionEvent event);
  void Fail(const TypeInfo& type, const std::string& what, SessionEvent event);
  // The file the library handed over, when it is there; else the event fails.
  bool HandedFile(const TypeInfo& type, const std::u16string& file, const SessionEvent& event, fs::path* handed);
  void Progress(const TypeInfo& type, const char* step);
  // What a person calls the phone's object of `luid`; empty when unknown.
  std::string NameOnPhone(uint32_t type, const std::string& luid) const;
  // A new PC item the phone already holds as an object it never sent (a
  // first session, or one after a reset): the two are paired through the
  // library's LUID mapping instead of copied each way. True when paired.
  bool PairWithPhoneObject(const TypeInfo& type, const fs::path& handed, const std::u16string& entry_id);
  // Remembers on the phone the creations and changes the PC refused in
  // this session, so that later sessions do not fail on them anew. A
  // refusal the object's text does not explain is remembered only when the
  // session otherwise went through and another phone change reached the
  // PC: else the library or the store may have been out of reach, and the
  // object is offered again next time.
  void RememberRefusals();

  // A phone object the PC did not take, and the failed event reporting it.
  struct Refusal {
    PhoneChange change;
    std::string hash;    // of the object as it was offered
    std::string reason;
    bool evident;        // the object's text shows why
    size_t event;
  };

  const Exports& lib_;
  const RoadExports& road_;
  Phone& phone_;
  const SessionOptions& options_;
  const fs::path& sync_folder_;
  SessionReport& report_;
  HostTempFolder temp_;
  // PC items handed over as new (or paired) in this session: a change the
  // log also holds for one of them has reached the phone with it already.
  std::set<std::pair<uint32_t, std::u16string>> new_this_session_;
  std::vector<Refusal> refusals_;
  uint64_t address_ = 0;
  int moved_ = 0;
};

void Driver::Progress(const TypeInfo& type, const char* step) {
  if (options_.progress) {
    options_.progress(std::string(type.title) + ": " + step + " (" + std::to_string(moved_) + " moved)");
  }
}

void Driver::Record(SessionEvent event) {
  TypeCounts& counts = report_.counts[event.type];
  if (!event.ok) {
    ++counts.failed;
  } else if (event.action == ChangeKind::kNew) {
    ++(event.to_phone ? counts.sent : counts.received);
  } else if (event.action == ChangeKind::kChanged) {
    ++counts.updated;
    if (event.to_phone) ++counts.updated_on_phone;
  } else {
    ++counts.deleted;
    if (event.to_phone) ++counts.deleted_on_phone;
  }
  if (event.name.empty() && !event.file.empty() && event.action != ChangeKind::kDeleted) {
    event.name = NameOnPhone(event.type, event.luid);
  }
  const bool ok = event.ok;
  report_.events.push_back(std::move(event));
  if (!ok) return;
  // The phone commits each object as it goes, as a real phone does; the
  // state file is synced once, at the end of the session.
  std::string error;
  if (!phone_.Commit(&error)) report_.errors.push_back(error);
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

std::string Driver::NameOnPhone(uint32_t type, const std::string& luid) const {
  const PhoneItem* item = phone_.FindItem(type, luid);
  Bytes bytes;
  if (!item || !ReadWholeFile(phone_.PathOf(item->file), &bytes)) return "";
  return ObjectName(type, std::string(bytes.begin(), bytes.end()));
}

bool Driver::PairWithPhoneObject(const TypeInfo& type, const fs::path& handed, const std::u16string& entry_id) {
  const std::string luid = phone_.FindUnsentMatch(type.code, handed);
  if (luid.empty()) return false;
  WideArg entry_arg(entry_id), luid_arg(Utf8ToUtf16(luid));
  if (road_.map_new.call(lib_, static_cast<_SYNC_OBJECT_TYPE>(type.code), entry_arg.get(), luid_arg.get()) != 1) {
    return false;  // copied instead, as any new item
  }
  std::error_code ec;
  fs::remove(handed, ec);
  phone_.MarkDelivered(PhoneChange{ChangeKind::kNew, type.code, luid, phone_.FindItem(type.code, luid)->file});
  ++report_.counts[type.code].paired;
  // Committed at once, as a moved object is: the library has the pair now,
  // and a phone that forgot it would offer its object to the PC again.
  std::string error;
  if (!phone_.Commit(&error)) report_.errors.push_back(error);
  return true;
}

std::string Driver::PlaceOnPhone(const TypeInfo& type, const fs::path& handed, const std::u16string& entry_id,
                                 decltype(RoadExports::map_new) map, SessionEvent* event) {
  std::string luid = phone_.ReceiveNew(type.code, handed, true);
  std::error_code ec;
  fs::remove(handed, ec);
  if (luid.empty()) {
    Fail(type, "the phone could not store the file in " + PathToUtf8(phone_.folder()), *event);
    return "";
  }
  event->luid = luid;
  event->file = phone_.FindItem(type.code, luid)->file;
  WideArg entry_arg(entry_id), luid_arg(Utf8ToUtf16(luid));
  if (map.call(lib_, static_cast<_SYNC_OBJECT_TYPE>(type.code), entry_arg.get(), luid_arg.get()) != 1) {
    // The PC would not know the phone's object: take it back off the phone.
    bool ignored = false;
    phone_.ReceiveDeletion(type.code, luid, &ignored);
    Fail(type, std::string(map.name) + " refused the LUID", *event);
    return "";
  }
  return luid;
}

void Driver::SendNew(const TypeInfo& type) {
  const auto code = static_cast<_SYNC_OBJECT_TYPE>(type.code);
  std::set<std::u16string> seen;
  for (int n = 0; n < kMaxObjectsPerStep; ++n) {
    Progress(type, "new PC items");
    WideBuffer entry, path;
    // Not 1: none left, or the library could not read the store.
    if (road_.get_new.call(lib_, code, entry.data(), path.data()) != 1) return;
    SessionEvent event = SessionEvent::ToPhone(ChangeKind::kNew, type.code);
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
    new_this_session_.insert({type.code, entry_id});
    if (PairWithPhoneObject(type, handed, entry_id)) continue;
    if (PlaceOnPhone(type, handed, entry_id, road_.map_new, &event).empty()) continue;
    Record(std::move(event));
  }
}

void Driver::SendModified(const TypeInfo& type) {
  const auto code = static_cast<_SYNC_OBJECT_TYPE>(type.code);
  std::set<std::u16string> seen;
  for (int n = 0; n < kMaxObjectsPerStep; ++n) {
    Progress(type, "PC changes");
    WideBuffer entry, luid_buffer, path;
    if (road_.get_modified.call(lib_, code, entry.data(), luid_buffer.data(), path.data()) != 1) return;
    SessionEvent event = SessionEvent::ToPhone(ChangeKind::kChanged, type.code);
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
    if (new_this_session_.count({type.code, entry_id})) {
      // Its latest content went over as a new object moments ago.
      std::error_code ec;
      fs::remove(handed, ec);
      continue;
    }
    if (phone_.FindItem(type.code, event.luid)) {
      bool own_change = false;
      const bool stored = phone_.ReceiveChange(type.code, event.luid, handed, &own_change, true);
      std::error_code ec;
      fs::remove(handed, ec);
      if (!stored) {
        Fail(type, "the phone could not store the file in " + PathToUtf8(phone_.folder()), event);
        continue;
      }
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
    const std::string old_luid = event.luid;
    const std::string new_luid = PlaceOnPhone(type, handed, entry_id, road_.map_modified, &event);
    if (new_luid.empty()) continue;
    report_.notes.push_back(std::string(type.name) + " " + old_luid + " was no longer on the phone; it came back as " +
                            new_luid);
    Record(std::move(event));
  }
}

void Driver::SendDeleted(const TypeInfo& type) {
  const auto code = static_cast<_SYNC_OBJECT_TYPE>(type.code);
  std::set<std::u16string> seen;
  for (int n = 0; n < kMaxObjectsPerStep; ++n) {
    Progress(type, "PC deletions");
    WideBuffer entry, luid_buffer;
    int32_t hard = 0;
    if (road_.get_deleted.call(lib_, code, entry.data(), luid_buffer.data(), &hard) != 1) return;
    SessionEvent event = SessionEvent::ToPhone(ChangeKind::kDeleted, type.code);
    std::u16string entry_id, luid;
    if (!luid_buffer.Text(&luid) || !entry.Text(&entry_id)) {
      Fail(type, "the library left a buffer without terminator", event);
      return;
    }
    event.luid = Utf16ToUtf8(luid);
    event.entry_id = Utf16ToUtf8(entry_id);
    if (!seen.insert(luid).second) {
      Fail(type, "the library reported the same deletion twice; stopped asking", event);
      return;
    }
    if (const PhoneItem* item = phone_.FindItem(type.code, event.luid)) {
      event.file = item->file;
      event.name = NameOnPhone(type.code, event.luid);
    }
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
  // Read after the PC's changes of this type reached the phone: those
  // override the phone's own.
  for (const PhoneChange& change : phone_.PendingChanges(type.code)) {
    Progress(type, "phone changes");
    SessionEvent event = SessionEvent::ToPc(change);
    WideArg luid(Utf8ToUtf16(change.luid));
    std::string text;
    if (change.kind != ChangeKind::kDeleted) {
      Bytes bytes;
      if (ReadWholeFile(phone_.PathOf(change.file), &bytes)) text.assign(bytes.begin(), bytes.end());
      event.name = ObjectName(type.code, text);
    }
    int result = 0;
    const char* export_name = "";
    if (change.kind == ChangeKind::kDeleted) {
      export_name = road_.remove.name;
      result = road_.remove.call(lib_, code, luid.get());
    } else {
      fs::path copy;
      std::string why;
      if (!HandOver(change, &copy, &why)) {
        Fail(type, why, event);
        continue;
      }
      WideArg path(PathToUtf16(copy));
      const auto& step = change.kind == ChangeKind::kNew ? road_.create : road_.update;
      export_name = step.name;
      result = step.call(lib_, code, luid.get(), path.get());
      std::error_code ec;
      fs::remove(copy, ec);  // normally consumed by the library already
    }
    if (result != 1) {
      if (change.kind == ChangeKind::kDeleted) {
        Fail(type, std::string(export_name) + " failed; the phone keeps the deletion for the next session", event);
        continue;
      }
      // The PC refused the object as it stands: it stays on the phone, and
      // RememberRefusals decides whether it is offered again.
      std::string reason = EvidentRefusal(type.code, text);
      const bool evident = !reason.empty();
      if (!evident) reason = "the PC did not take it (" + std::string(export_name) + " failed)";
      refusals_.push_back({change, Phone::HashFile(phone_.PathOf(change.file)), reason, evident,
                           report_.events.size()});
      Fail(type, reason, event);
      continue;
    }
    if (road_.remember_new.call && change.kind == ChangeKind::kNew &&
        road_.remember_new.call(lib_, code, luid.get()) != 1) {
      report_.notes.push_back(std::string(type.name) + " " + change.luid + ": " + road_.remember_new.name +
                              " failed; a rollback would keep the new item");
    }
    phone_.MarkDelivered(change);
    ++delivered;
    Record(std::move(event));
  }
  return delivered;
}

void Driver::RememberRefusals() {
  if (report_.rolled_back) return;  // the phone is back as it was before the session
  const bool went_through =
      !report_.interrupted && report_.errors.empty() &&
      std::any_of(report_.events.begin(), report_.events.end(),
                  [](const SessionEvent& event) { return event.ok && !event.to_phone; });
  for (const Refusal& refusal : refusals_) {
    std::string& message = report_.events[refusal.event].message;
    if (refusal.evident || went_through) {
      phone_.MarkRefused(refusal.change, refusal.hash, refusal.reason);
      message += "; kept on the phone, not offered again until it changes (or sync --retry)";
    } else {
      message += "; offered again next session (nothing else reached the PC, which may have been out of reach)";
    }
  }
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
  const fs::path marker = sync_folder_.empty() ? fs::path() : sync_folder_ / zelsync::BookkeepingFileName(zelsync::BookkeepingFile::kSessionMarker);
  std::error_code ec;
  if (!marker.empty() && fs::exists(marker, ec)) {
    Bytes bytes;
    if (ReadWholeFile(marker, &bytes)) open_session = DecodeSessionMarker(bytes);
    if (!open_session) open_session = address_;  // cut short: the library falls back to the given device
  }
  if (open_session) {
    if (lib_.SyncMLRestoreDBFiles(address_) != 1) {
      report_.errors.push_back("the SyncML session with " + FormatAddress(*open_session) +
                               " did not finish, and SyncMLRestoreDBFiles could not roll it back; nothing was moved");
      return false;
    }
    report_.notes.push_back("the SyncML session with " + FormatAddress(*open_session) +
                            " did not finish (the host stopped during it); it was rolled back");
  }
  if (!phone_.HasJournal()) return true;
  std::string error;
  if ((open_session && *open_session == address_) || phone_.UndoBegun()) {
    if (!phone_.UndoJournal(&error)) {
      report_.errors.push_back(error);
      return false;
    }
    report_.notes.push_back("the phone was put back as it was before that session");
  } else {
    // The PC finished that session: the phone keeps what it received, and
    // the anchors that differ now make every logged PC change count.
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
  phone_.road = road_.name;
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
  if (road_.road == Road::kSyncML) {
    RunSyncML();
  } else {
    try {
      RunIrmc();
    } catch (const LinkDropped&) {
      // IrMC has no rollback: what moved stays moved, and the counters of
      // the unfinished databases are not stored.
      report_.interrupted = true;
      report_.completed = false;
    }
  }
  RememberRefusals();
}

}  // namespace

void DriveSession(const Exports& library, Phone* phone, const SessionOptions& options,
                  const fs::path& sync_folder, SessionReport* report) {
  Driver(library, phone, options, sync_folder, report).Run();
}

}  // namespace zelsync_tool
