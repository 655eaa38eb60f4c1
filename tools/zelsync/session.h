// One synchronisation session between the simulated phone and the library,
// driven the way the synchronisation service drives it: the IrMC road (one
// device database per object type, change counters) or the SyncML road
// (one database per device address, sync anchors, save before and complete
// or roll back after).
#ifndef ZELSYNC_TOOL_SESSION_H
#define ZELSYNC_TOOL_SESSION_H

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "library.h"
#include "phone.h"
#include "road.h"

namespace zelsync_tool {

struct SessionOptions {
  Road road = Road::kIrmc;
  bool dry_run = false;
  // SyncML: the link drops after this many objects have moved; the session
  // is then rolled back.
  std::optional<int> interrupt_after;
  // Shows a progress line (on a terminal).
  std::function<void(const std::string&)> progress;
  // The time of the new sync anchor ("20260101T120000Z"); now when empty.
  std::string anchor_time;
};

struct TypeCounts {
  int sent = 0;      // new PC items that reached the phone
  int received = 0;  // new phone objects that reached the PC
  int updated = 0;   // changes, either way
  int deleted = 0;   // deletions, either way
  int failed = 0;
};

// One object moved (or not) in a session. The action is the kind of change
// that travelled: a new object, a change, a deletion.
struct SessionEvent {
  // A PC change on its way to the phone.
  static SessionEvent ToPhone(ChangeKind action, uint32_t type);
  // A phone change on its way to the PC.
  static SessionEvent ToPc(const PhoneChange& change);

  bool to_phone = true;
  ChangeKind action = ChangeKind::kNew;
  uint32_t type = 0;
  std::string luid;
  std::string entry_id;
  std::string file;  // as named on the phone, or by the library
  bool ok = true;
  std::string message;
};

struct SessionReport {
  Road road = Road::kIrmc;
  std::string phone;       // the phone folder
  std::string identity;    // device ID or address
  bool dry_run = false;
  bool completed = false;  // counters or anchor stored
  bool interrupted = false;
  bool rolled_back = false;
  std::map<uint32_t, TypeCounts> counts;
  std::vector<SessionEvent> events;
  std::vector<std::string> notes;
  std::vector<std::string> errors;

  bool failed() const;
  int moved() const;
};

// Runs one session. The phone's state is saved at the end (not for a dry
// run, nor after a rollback). `sync_folder` is where the library keeps its
// files; a dry run reads them (and nothing else of the library's) to plan.
SessionReport RunSession(const Exports& library, Phone* phone, const SessionOptions& options,
                         const std::filesystem::path& sync_folder);

nlohmann::json ReportToJson(const SessionReport& report);
// The summary table; `all_events` lists every object moved, else only the
// failures.
std::string ReportToText(const SessionReport& report, bool all_events);

// Device identities: an IrMC device ID (letters, digits, '.', '_', '-';
// at most 64) and a SyncML address (12 hex digits, colons allowed).
bool ValidDeviceId(const std::string& id);
std::optional<uint64_t> ParseAddress(const std::string& text);
std::string FormatAddress(uint64_t address);

// "YYYYMMDDTHHMMSSZ" for the current UTC time.
std::string UtcTimeAnchor();

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_SESSION_H
