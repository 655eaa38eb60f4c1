// `zelsync demo`: a small store, two simulated phones (one per road), two
// rounds of sessions with changes on each side in between, and a last
// round that finds nothing left to move.
#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <cstdlib>
#include <ostream>
#include <random>

#include "commands.h"
#include "file_util.h"
#include "file_report.h"
#include "object_text.h"
#include "object_types.h"
#include "sync_folder.h"
#include "table.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

bool WriteText(const fs::path& path, const std::string& text) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  return WriteFileReplacing(path, Bytes(text.begin(), text.end()));
}

// The demo's own folder, removed at the end unless it is to be kept.
class DemoFolder {
 public:
  DemoFolder(const std::optional<std::string>& given, bool keep) : keep_(keep || given.has_value()) {
    std::error_code ec;
    if (given) {
      path_ = PathFromUtf8(*given);
      fs::create_directories(path_, ec);
      if (ec || !fs::is_empty(path_, ec)) {
        error_ = PathToUtf8(path_) + ": give a new or empty folder";
        path_.clear();
      }
      return;
    }
    std::random_device random;
    fs::path base = fs::temp_directory_path(ec);
    for (int attempt = 0; attempt < 16 && path_.empty() && !ec; ++attempt) {
      fs::path candidate = base / ("zelsync-demo-" + std::to_string(random() % 100000000u));
      if (fs::create_directory(candidate, ec)) path_ = candidate;
    }
    if (path_.empty()) error_ = "cannot make a temporary folder";
#ifndef _WIN32
    // The library's temporary folder lives inside and must be private.
    if (!path_.empty()) fs::permissions(path_, fs::perms::owner_all, ec);
#endif
  }
  ~DemoFolder() {
    std::error_code ignored;
    if (!keep_ && !path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  const std::string& error() const { return error_; }
  bool keep() const { return keep_; }

 private:
  fs::path path_;
  std::string error_;
  bool keep_;
};

std::string StoreId(const LocalStore& store, uint32_t type, const std::string& summary_start) {
  for (const StoreItem& item : store.List(type))
    if (item.summary.rfind(summary_start, 0) == 0) return item.id;
  return "";
}

void MakeStore(const LocalStore& store, const fs::path& folder, std::ostream& out) {
  std::string id, error;
  auto add = [&](uint32_t type, ItemFields fields) {
    if (!store.Add(type, fields, std::nullopt, &id, &error)) out << "  could not add: " << error << "\n";
  };
  ItemFields f;
  f = {};
  f.name = "Alice Martin";
  f.phone = "+44 20 7946 0018";
  f.email = "alice@example.org";
  add(SYNC_OBJECT_CONTACT, f);
  f = {};
  f.name = "Bruno Keller";
  f.phone = "+41 44 555 01 23";
  add(SYNC_OBJECT_CONTACT, f);
  f = {};
  f.name = "Chloé Dubois";
  f.email = "chloe@example.fr";
  add(SYNC_OBJECT_CONTACT, f);
  f = {};
  f.summary = "Team meeting";
  f.start = "20260302T100000";
  f.end = "20260302T110000";
  f.location = "Room 4";
  add(SYNC_OBJECT_CALENDAR, f);
  f = {};
  f.summary = "Dentist";
  f.start = "20260305T083000";
  f.end = "20260305T090000";
  add(SYNC_OBJECT_CALENDAR, f);
  f = {};
  f.text = "Shopping list\nmilk, bread, apples";
  add(SYNC_OBJECT_NOTE, f);
  f = {};
  f.text = "Ideas for the garden";
  add(SYNC_OBJECT_NOTE, f);
  f = {};
  f.from = "Ana Lima <ana@example.org>";
  f.subject = "Welcome";
  f.text = "Hello, and welcome to the team!";
  add(SYNC_OBJECT_MESSAGE, f);
  const fs::path attachment = folder / "itinerary.txt";
  WriteText(attachment, "Flight ZS 123, 14 March, 09:40\n");
  f = {};
  f.from = "Travel desk <travel@example.org>";
  f.subject = "Your itinerary";
  f.text = "Please find your itinerary attached.";
  f.attachments.push_back(attachment);
  add(SYNC_OBJECT_MESSAGE, f);
  std::vector<std::vector<std::string>> rows{{"type", "summary"}};
  for (const TypeInfo& type : ObjectTypes())
    for (const StoreItem& item : store.List(type.code)) rows.push_back({type.name, item.summary});
  out << "The store (" << PathToUtf8(store.root()) << "):\n" << RenderTable(rows);
}

std::string VCard(const std::string& name, const std::string& phone) {
  std::string family = name.substr(name.rfind(' ') + 1), given = name.substr(0, name.rfind(' '));
  return "BEGIN:VCARD\r\nVERSION:2.1\r\nN:" + family + ";" + given + "\r\nFN:" + name + "\r\nTEL;CELL:" + phone +
         "\r\nEND:VCARD\r\n";
}

std::string VNote(const std::string& body) {
  return "BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:" + body + "\r\nEND:VNOTE\r\n";
}

std::string VEvent(const std::string& summary, const std::string& start, const std::string& end) {
  return "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:" + summary + "\r\nDTSTART:" + start +
         "\r\nDTEND:" + end + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
}

void ShowPhone(const fs::path& folder, const std::string& title, std::ostream& out) {
  out << title << " (" << PathToUtf8(folder) << "):\n";
  std::vector<std::vector<std::string>> rows{{"file"}};
  for (const TypeInfo& type : ObjectTypes()) {
    std::error_code ec;
    if (!fs::is_directory(folder / type.folder, ec)) continue;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder / type.folder, ec)) {
      std::string name = PathToUtf8(entry.path().filename());
      if (!name.empty() && name[0] != '.') names.push_back(std::string(type.folder) + "/" + name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) rows.push_back({name});
  }
  out << RenderTable(rows);
}

// What one side holds, per type: the titles of its items (a contact's
// name, an event's summary, a note's first line, a message's subject).
using Holdings = std::map<uint32_t, std::multiset<std::string>>;

std::string TitleOf(uint32_t type, const fs::path& file) {
  Bytes bytes;
  if (!ReadWholeFile(file, &bytes)) return "(unreadable " + PathToUtf8(file.filename()) + ")";
  return ObjectTitle(type, std::string(bytes.begin(), bytes.end()));
}

Holdings PhoneHoldings(const fs::path& folder) {
  Holdings holdings;
  for (const TypeInfo& type : ObjectTypes()) {
    std::multiset<std::string>& titles = holdings[type.code];
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder / type.folder, ec)) {
      const std::string name = PathToUtf8(entry.path().filename());
      if (!name.empty() && name[0] != '.') titles.insert(TitleOf(type.code, entry.path()));
    }
  }
  return holdings;
}

Holdings StoreHoldings(const LocalStore& store) {
  Holdings holdings;
  for (const TypeInfo& type : ObjectTypes()) {
    std::multiset<std::string>& titles = holdings[type.code];
    for (const StoreItem& item : store.List(type.code)) titles.insert(TitleOf(type.code, item.path));
  }
  return holdings;
}

// Lists what only one side holds; true when both hold the same.
bool CompareHoldings(const Holdings& phone, const Holdings& pc, const std::string& phone_title, std::ostream& out) {
  bool same = true;
  for (const TypeInfo& type : ObjectTypes()) {
    const std::multiset<std::string>& mine = phone.at(type.code);
    const std::multiset<std::string>& theirs = pc.at(type.code);
    std::vector<std::string> only_phone, only_pc;
    std::set_difference(mine.begin(), mine.end(), theirs.begin(), theirs.end(), std::back_inserter(only_phone));
    std::set_difference(theirs.begin(), theirs.end(), mine.begin(), mine.end(), std::back_inserter(only_pc));
    for (const std::string& title : only_phone)
      out << "  only on " << phone_title << ": " << type.name << " \"" << title << "\"\n";
    for (const std::string& title : only_pc)
      out << "  only in the store: " << type.name << " \"" << title << "\" (not on " << phone_title << ")\n";
    same = same && only_phone.empty() && only_pc.empty();
  }
  return same;
}

}  // namespace

int RunDemo(const DemoCommand& command, const std::string& library_path, std::ostream& out, std::ostream& err) {
  // One load serves every session, as the service keeps the library loaded;
  // each session rewinds the enumeration cursors itself.
  int load_status = kExitFailed;
  std::unique_ptr<Library> library = LoadZelsyncLibrary(library_path, err, &load_status);
  if (!library) return load_status;
  DemoFolder folder(command.folder, command.keep);
  if (folder.path().empty()) {
    err << "zelsync demo: " << (command.folder ? "--folder " : "") << folder.error() << "\n";
    return command.folder ? kExitUsage : kExitFailed;
  }
  const fs::path root = folder.path();
  out << "Working in " << PathToUtf8(root)
      << (folder.keep() ? " (kept)" : " (removed at the end; --keep keeps it)") << "\n\n";

  // Everything the library and the store write goes inside the folder.
  const fs::path run = root / "run";
  std::error_code ec;
  fs::create_directories(run, ec);
  fs::create_directories(root / "data", ec);
#ifndef _WIN32
  fs::permissions(run, fs::perms::owner_all, ec);
#endif
  SetEnvironment("ZELSYNC_STORE", root / "store");
  SetEnvironment("XDG_DATA_HOME", root / "data");
  SetEnvironment("XDG_RUNTIME_DIR", run);

  LocalStore store{fs::path()};
  std::string why;
  const bool have_store = LocalStore::Find(&store, &why);
  if (have_store) {
    MakeStore(store, root, out);
  } else {
    out << "No local store: " << why << ".\nThe sessions run against it all the same.\n";
  }

  const fs::path irmc_phone = root / "phone-irmc", syncml_phone = root / "phone-syncml";
  WriteText(irmc_phone / "contacts" / "dana.vcf", VCard("Dana Novak", "+386 1 555 0101"));
  WriteText(irmc_phone / "notes" / "garage.vnt", VNote("Call the garage about the tyres"));
  WriteText(syncml_phone / "contacts" / "erik.vcf", VCard("Erik Larsen", "+47 22 55 01 01"));
  WriteText(syncml_phone / "calendar" / "lunch.vcs", VEvent("Lunch with Erik", "20260303T120000Z", "20260303T130000Z"));
  out << "\n";
  ShowPhone(irmc_phone, "The IrMC phone", out);
  ShowPhone(syncml_phone, "The SyncML phone", out);

  bool all_ok = true;
  int session_number = 0;
  int moved_in_round = 0;
  auto run_sessions = [&](const std::string& title) {
    moved_in_round = 0;
    for (Road road : {Road::kIrmc, Road::kSyncML}) {
      Phone phone;
      std::string error;
      const fs::path& device = road == Road::kIrmc ? irmc_phone : syncml_phone;
      if (!Phone::Open(device, &phone, &error)) {
        err << "zelsync demo: " << error << "\n";
        all_ok = false;
        return;
      }
      if (phone.device_id.empty()) phone.device_id = "demo-irmc-phone";
      if (phone.address.empty()) phone.address = "02a1b2c3d4e5";
      SessionOptions options;
      options.road = road;
      SessionReport report = RunSession(library->exports(), &phone, options, LibrarySyncFolder());
      out << "\n== " << title << ", session " << ++session_number << " ==\n" << ReportToText(report, true);
      if (report.failed()) all_ok = false;
      moved_in_round += report.moved();
    }
  };

  out << "\n-- Round 1: first contact; each side gets the other's objects --\n";
  run_sessions("Round 1");

  out << "\n-- Changes: on the PC Alice gets a new number and the garden note goes; on the IrMC phone\n"
         "   Dana's number changes and a note is added; on the SyncML phone the lunch is cancelled --\n";
  if (have_store) {
    ItemFields change;
    change.phone = "+44 20 7946 0999";
    std::string error;
    if (!store.Edit(SYNC_OBJECT_CONTACT, StoreId(store, SYNC_OBJECT_CONTACT, "Alice Martin"), change, std::nullopt, &error)) out << "  " << error << "\n";
    if (!store.Delete(SYNC_OBJECT_NOTE, StoreId(store, SYNC_OBJECT_NOTE, "Ideas for the garden"), &error)) out << "  " << error << "\n";
  }
  WriteText(irmc_phone / "contacts" / "dana.vcf", VCard("Dana Novak", "+386 1 555 0199"));
  WriteText(irmc_phone / "notes" / "tickets.vnt", VNote("Buy concert tickets"));
  fs::remove(syncml_phone / "calendar" / "lunch.vcs", ec);
  run_sessions("Round 2");

  out << "\n-- Round 3: each phone gets what the other changed; then nothing is left to move --\n";
  run_sessions("Round 3");

  out << "\n-- Round 4: right after, nothing is left to move --\n";
  run_sessions("Round 4");
  if (moved_in_round != 0) {
    out << "\nRound 4 still moved " << moved_in_round << " objects: the sides had not converged.\n";
    all_ok = false;
  }

  out << "\n";
  ShowPhone(irmc_phone, "The IrMC phone now", out);
  ShowPhone(syncml_phone, "The SyncML phone now", out);
  if (have_store) {
    const Holdings pc = StoreHoldings(store);
    size_t count = 0;
    for (const auto& [type, titles] : pc) count += titles.size();
    const bool irmc_same = CompareHoldings(PhoneHoldings(irmc_phone), pc, "the IrMC phone", out);
    const bool syncml_same = CompareHoldings(PhoneHoldings(syncml_phone), pc, "the SyncML phone", out);
    if (irmc_same && syncml_same) {
      out << "\nBoth phones and the store hold the same " << count << " items.\n";
    } else {
      out << "\nThe phones and the store DIFFER (listed above): the sessions did not converge.\n";
      all_ok = false;
    }
  }
  const fs::path sync_folder = LibrarySyncFolder();
  out << "\nBookkeeping files (" << PathToUtf8(sync_folder) << "):\n";
  std::vector<std::vector<std::string>> rows{{"file", "kind", "records"}};
  for (const auto& entry : fs::directory_iterator(sync_folder, ec)) {
    const std::string name = PathToUtf8(entry.path().filename());
    auto kind = KindFromFileName(name);
    Bytes bytes;
    if (!kind || !ReadWholeFile(entry.path(), &bytes)) continue;
    const std::vector<DecodedRecord> records = DecodeBookkeepingFile(*kind, bytes).records;
    const auto live = std::count_if(records.begin(), records.end(),
                                    [](const DecodedRecord& r) { return !r.removed; });
    rows.push_back({name, FileKindTitle(*kind), std::to_string(live)});
  }
  std::sort(rows.begin() + 1, rows.end());
  out << RenderTable(rows);

  if (folder.keep()) {
    out << "\nEverything is kept in " << PathToUtf8(root) << "; look around with\n"
        << "  zelsync inspect " << PathToUtf8(sync_folder) << "\n"
        << "  zelsync --store " << PathToUtf8(root / "store") << " store list\n"
        << "  zelsync phone --device " << PathToUtf8(irmc_phone) << "\n";
  } else {
    out << "\nThe demo's folder is removed now; run zelsync demo --keep to look around it afterwards.\n";
  }
  if (!all_ok) {
    out << "\nThe demo FAILED: see the errors, FAILED lines and differences above.\n";
    return kExitFailed;
  }
  out << "\nEvery session completed.\n";
  return kExitOk;
}

}  // namespace zelsync_tool
