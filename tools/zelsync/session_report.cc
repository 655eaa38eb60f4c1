// The report of a session: its counts and events as JSON and as the
// summary table.
#include "object_types.h"
#include "session.h"
#include "table.h"

namespace zelsync_tool {
using nlohmann::json;

namespace {
std::string Cell(int value) { return std::to_string(value); }
}  // namespace

SessionEvent SessionEvent::ToPhone(ChangeKind action, uint32_t type) {
  SessionEvent event;
  event.to_phone = true;
  event.action = action;
  event.type = type;
  return event;
}

SessionEvent SessionEvent::ToPc(const PhoneChange& change) {
  SessionEvent event;
  event.to_phone = false;
  event.action = change.kind;
  event.type = change.type;
  event.luid = change.luid;
  event.file = change.file;
  return event;
}

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
                      {"action", ChangeKindName(event.action)},
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
    events.push_back({event.to_phone ? "PC -> phone" : "phone -> PC", ChangeKindName(event.action), TypeByCode(event.type).name,
                      event.luid.empty() ? "" : "LUID " + event.luid, event.file, what});
  }
  if (!events.empty()) out += RenderTable(events);
  for (const std::string& note : report.notes) out += "  note: " + note + "\n";
  for (const std::string& error : report.errors) out += "  error: " + error + "\n";
  return out;
}

}  // namespace zelsync_tool
