#include "commands.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <random>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "device_files.h"
#include "file_report.h"
#include "file_util.h"
#include "help_format.h"
#include "object_types.h"
#include "sync_folder.h"
#include "table.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

bool progress_shown = false;

std::string RandomHexDigits(int count) {
  std::random_device random;
  std::string out;
  while (static_cast<int>(out.size()) < count) {
    char chunk[9];
    std::snprintf(chunk, sizeof chunk, "%08x", static_cast<unsigned>(random()));
    out += chunk;
  }
  return out.substr(0, static_cast<size_t>(count));
}

const TypeInfo* TypeArgument(const std::string& text, std::ostream& err) {
  const TypeInfo* type = FindType(text);
  if (!type) err << "zelsync store: TYPE \"" << text << "\" is none of contacts, calendar, notes, mail\n";
  return type;
}

// Why the store at `root` cannot serve (not a folder, a folder that cannot
// be read), naming the path and the operating system's reason; empty when
// it can, or when it does not exist yet (it is made when first used).
std::string StoreFault(const fs::path& root) {
  std::error_code ec;
  const fs::file_status status = fs::status(root, ec);
  if (status.type() == fs::file_type::not_found) return "";
  const std::string shown = PathToUtf8(root);
  if (ec) return shown + ": " + ec.message();
  if (status.type() != fs::file_type::directory) return shown + ": not a folder";
  fs::directory_iterator top(root, ec);
  if (ec) return shown + ": cannot be read: " + ec.message();
  for (; top != fs::directory_iterator(); top.increment(ec)) {
    std::error_code kind_ec;
    if (!top->is_directory(kind_ec)) continue;
    fs::directory_iterator inner(top->path(), kind_ec);
    if (kind_ec) return PathToUtf8(top->path()) + ": cannot be read: " + kind_ec.message();
  }
  if (ec) return shown + ": cannot be read: " + ec.message();
  return "";
}

// The store, found as the library finds it, when it can serve; else an
// error naming the place and what to do.
bool UsableStore(LocalStore* store, const char* command, std::ostream& err) {
  std::string why;
  if (!LocalStore::Find(store, &why)) {
    err << command << ": " << why << "\n";
    return false;
  }
  const std::string fault = StoreFault(store->root());
  if (fault.empty()) return true;
  err << command << ": the local store " << fault
      << "\n  (name the store's folder with --store DIR or ZELSYNC_STORE, or give it back its permissions)\n";
  return false;
}

// The item an ID argument names: its whole ID, the start of one ID, or a
// part of one summary (ignoring case), as long as only one item fits.
std::optional<StoreItem> ChooseItem(const LocalStore& store, const TypeInfo& type, const std::string& given,
                                    const char* command, std::ostream& err) {
  if (std::optional<StoreItem> exact = store.Get(type.code, given)) return exact;
  const std::vector<StoreItem> items = store.List(type.code);
  std::vector<const StoreItem*> fits;
  for (const StoreItem& item : items)
    if (!given.empty() && item.id.rfind(given, 0) == 0) fits.push_back(&item);
  if (fits.empty() && !given.empty()) {
    const std::string wanted = AsciiLower(given);
    for (const StoreItem& item : items)
      if (AsciiLower(item.summary).find(wanted) != std::string::npos) fits.push_back(&item);
  }
  if (fits.size() == 1) return *fits.front();
  if (fits.empty()) {
    err << command << ": no " << type.name << " whose ID starts with, or whose summary holds, \"" << given
        << "\" in " << PathToUtf8(store.root()) << " (see zelsync store list " << type.title << ")\n";
    return std::nullopt;
  }
  err << command << ": \"" << given << "\" fits " << fits.size() << " " << type.title
      << "; give more of the ID:\n";
  for (const StoreItem* item : fits) err << "  " << item->id << "  " << item->summary << "\n";
  return std::nullopt;
}

}  // namespace

std::unique_ptr<Library> LoadZelsyncLibrary(const std::string& path, std::ostream& err, int* status) {
  std::string error;
  if (!path.empty()) {
    auto library = Library::Load(PathFromUtf8(path), &error);
    if (!library) {
      err << "zelsync: --library " << error << "\n";
      *status = kExitUsage;
    }
    return library;
  }
  std::string tried;
  for (const fs::path& candidate : DefaultLibraryCandidates()) {
    std::error_code ec;
    if (!fs::exists(candidate, ec)) {
      tried += "\n  " + PathToUtf8(candidate);
      continue;
    }
    auto library = Library::Load(candidate, &error);
    if (library) return library;
    err << "zelsync: " << error << "\n";
    *status = kExitFailed;
    return nullptr;
  }
  err << "zelsync: " << LibraryFileName() << " not found; looked in:" << tried
      << "\n  (name it with --library PATH)\n";
  *status = kExitFailed;
  return nullptr;
}

std::function<void(const std::string&)> TerminalProgress() {
  if (!StderrIsTerminal()) return nullptr;
  auto start = std::chrono::steady_clock::now();
  auto last = start;
  return [start, last](const std::string& text) mutable {
    auto now = std::chrono::steady_clock::now();
    // Only long sessions show progress, and at most ten updates a second.
    if (now - start < std::chrono::milliseconds(500) || now - last < std::chrono::milliseconds(100)) return;
    last = now;
    std::string line = text.substr(0, 78);
    std::cerr << "\r" << line << std::string(79 - line.size(), ' ') << std::flush;
    progress_shown = true;
  };
}

void EndTerminalProgress() {
  if (!progress_shown) return;
  std::cerr << "\r" << std::string(79, ' ') << "\r" << std::flush;
  progress_shown = false;
}

int RunSync(const SyncCommand& command, const std::string& library_path, std::ostream& out, std::ostream& err) {
  const Road road = command.road == "syncml" ? Road::kSyncML : Road::kIrmc;
  if (command.interrupt_after && road != Road::kSyncML) {
    err << "zelsync sync: --interrupt-after: only a SyncML session can be interrupted and rolled back\n";
    return kExitUsage;
  }
  if (!command.device_id.empty() && !ValidDeviceId(command.device_id)) {
    err << "zelsync sync: --device-id \"" << command.device_id
        << "\": use 1 to 64 letters, digits, '.', '_' or '-'\n";
    return kExitUsage;
  }
  std::optional<uint64_t> address;
  if (!command.address.empty()) {
    address = ParseAddress(command.address);
    if (!address) {
      err << "zelsync sync: --address \"" << command.address << "\": expected 12 hexadecimal digits\n";
      return kExitUsage;
    }
  }
  Phone phone;
  std::string error;
  if (!Phone::Open(PathFromUtf8(command.device), &phone, &error)) {
    err << "zelsync sync: --device " << error << "\n";
    return kExitFailed;
  }
  const std::string state = PathToUtf8(phone.StatePath());
  if (!phone.road.empty() && phone.road != command.road) {
    err << "zelsync sync: " << state << ": this phone syncs over " << (phone.road == "irmc" ? "IrMC" : "SyncML")
        << ", not " << RoadTitle(road) << "; use a separate phone folder for each scheme\n";
    return kExitUsage;
  }
  if (phone.device_id.empty()) {
    phone.device_id = command.device_id.empty() ? "zelsync-" + RandomHexDigits(8) : command.device_id;
  } else if (!command.device_id.empty() && command.device_id != phone.device_id) {
    err << "zelsync sync: --device-id " << command.device_id << ": " << state << " names the device "
        << phone.device_id << "\n";
    return kExitUsage;
  }
  if (phone.address.empty()) {
    // A locally administered address unless one is given.
    phone.address = address ? FormatAddress(*address) : "02" + RandomHexDigits(10);
  } else if (address && FormatAddress(*address) != phone.address) {
    err << "zelsync sync: --address " << command.address << ": " << state << " names the address "
        << phone.address << "\n";
    return kExitUsage;
  }

  fs::path sync_folder = LibrarySyncFolder();
  bool refused = false;
  for (const FileFault& fault : CheckSessionFiles(sync_folder, road, phone)) {
    err << "zelsync sync: " << DescribeFault(fault, command.device) << "\n";
    refused = true;
  }
  if (refused) return kExitFailed;
#ifndef _WIN32
  LocalStore store{fs::path()};
  if (!UsableStore(&store, "zelsync sync", err)) return kExitFailed;
#endif

  if (command.retry) phone.ForgetRefusals();

  SessionOptions options;
  options.road = road;
  options.dry_run = command.dry_run;
  options.interrupt_after = command.interrupt_after;
  options.progress = TerminalProgress();
  std::unique_ptr<Library> library;
  Exports none;
  if (!command.dry_run) {
    int status = kExitFailed;
    library = LoadZelsyncLibrary(library_path, err, &status);
    if (!library) return status;
  }
  SessionReport report = RunSession(library ? library->exports() : none, &phone, options, sync_folder);
  EndTerminalProgress();
  if (command.json) {
    json doc = ReportToJson(report);
    doc["sync_folder"] = PathToUtf8(sync_folder);
    if (library) doc["library"] = PathToUtf8(library->path());
    out << doc.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
  } else {
    out << ReportToText(report, command.verbose || command.dry_run);
  }
  return report.failed() ? kExitFailed : kExitOk;
}

int RunPhoneShow(const std::string& device, bool as_json, std::ostream& out, std::ostream& err) {
  std::error_code ec;
  if (!fs::exists(PathFromUtf8(device), ec)) {
    err << "zelsync phone: --device " << device << ": no such folder"
        << (ec ? " (" + ec.message() + ")" : std::string()) << "; a phone folder is made by its first zelsync sync\n";
    return kExitFailed;
  }
  Phone phone;
  std::string error;
  if (!Phone::Open(PathFromUtf8(device), &phone, &error)) {
    err << "zelsync phone: --device " << error << "\n";
    return kExitFailed;
  }
  std::vector<std::string> ignored;
  phone.NoticeNewFiles(&ignored);
  std::vector<PhoneChange> pending = phone.PendingChanges();
  auto state_of = [&](const PhoneItem& item) -> std::string {
    for (const PhoneChange& change : pending)
      if (change.type == item.type && change.luid == item.luid) return ChangeKindName(change.kind);
    if (item.refused_hash) return "refused by the PC: " + item.refused_reason;
    return "in step";
  };
  if (as_json) {
    json doc{{"folder", PathToUtf8(phone.folder())}, {"road", phone.road}, {"device_id", phone.device_id},
             {"address", phone.address}, {"items", json::array()}, {"ignored", ignored}};
    for (const PhoneItem& item : phone.items())
      doc["items"].push_back({{"luid", item.luid}, {"type", TypeByCode(item.type).name}, {"file", item.file},
                              {"state", state_of(item)}});
    out << doc.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
    return kExitOk;
  }
  out << "phone " << PathToUtf8(phone.folder());
  if (phone.is_new()) out << " (new: it has not synchronised yet)";
  else out << " (" << (phone.road == "syncml" ? "SyncML, address " + phone.address : "IrMC, device " + phone.device_id) << ")";
  out << "\n";
  std::vector<std::vector<std::string>> rows{{"LUID", "type", "file", "since the last session"}};
  for (const PhoneItem& item : phone.items())
    rows.push_back({item.luid, TypeByCode(item.type).name, item.file, state_of(item)});
  if (phone.items().empty()) out << "  no objects\n";
  else out << RenderTable(rows);
  for (const std::string& file : ignored) out << "  ignored: " << file << " (wrong extension for its folder)\n";
  return kExitOk;
}

int RunReset(const std::string& device, std::ostream& out, std::ostream& err) {
  const fs::path folder = PathFromUtf8(device);
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) {
    err << "zelsync reset: --device " << device << ": no such folder\n";
    return kExitFailed;
  }
  Phone phone;
  std::string error;
  if (!Phone::Open(folder, &phone, &error)) {
    err << "zelsync reset: " << error << "\n  (move the file aside: the phone then starts over as a new one)\n";
    return kExitFailed;
  }
  if (phone.is_new() || phone.road.empty()) {
    out << "The phone in " << device << " has not synchronised yet: nothing to reset.\n";
    return kExitOk;
  }
  // An undo of an unfinished session that was itself cut short is finished
  // before anything goes: the phone's files it had taken away are only in
  // the copy that the reset drops.
  if (phone.UndoBegun() && !phone.UndoJournal(&error)) {
    err << "zelsync reset: " << error << "\n  (run reset again once the phone's folder can be written)\n";
    return kExitFailed;
  }
  const Road road = phone.road == "syncml" ? Road::kSyncML : Road::kIrmc;
  const fs::path sync_folder = LibrarySyncFolder();
  std::vector<std::string> removed;
  for (const fs::path& file : PhoneDatabaseFiles(sync_folder, road, phone)) {
    if (!fs::exists(file, ec)) continue;
    if (!fs::remove(file, ec)) {
      err << "zelsync reset: " << PathToUtf8(file) << ": cannot be removed: " << ec.message()
          << "\n  (nothing of the phone was changed; remove the file by hand and run reset again)\n";
      return kExitFailed;
    }
    removed.push_back(PathToUtf8(file));
  }
  // The copy of an unfinished session would put back the partner the reset
  // forgets (and the next session, finding it, would undo the reset): it
  // goes first. The phone keeps what that session moved onto it; the next
  // session pairs it by content.
  const bool dropped_journal = phone.HasJournal();
  phone.EndJournal();
  phone.ForgetPartner();
  if (!phone.Save(&error)) {
    err << "zelsync reset: " << error << "\n";
    return kExitFailed;
  }
  out << "Reset the " << RoadTitle(road) << " phone in " << device << ".\n";
  for (const std::string& file : removed) out << "  removed " << file << "\n";
  if (dropped_journal) out << "  dropped the phone's copy of its unfinished last session\n";
  out << "  the phone forgot its partner in " << PathToUtf8(phone.StatePath())
      << "\nIts next session is a first one: it pairs the phone's objects with the PC's items by content "
         "and copies only the rest, each way.\n";
  return kExitOk;
}

int RunStore(const StoreCommand& command, std::ostream& out, std::ostream& err) {
  LocalStore store{fs::path()};
  if (!UsableStore(&store, "zelsync store", err)) return kExitFailed;
  std::vector<const TypeInfo*> types;
  if (command.type.empty()) {
    for (const TypeInfo& type : ObjectTypes()) types.push_back(&type);
  } else {
    const TypeInfo* type = TypeArgument(command.type, err);
    if (!type) return kExitUsage;
    types.push_back(type);
  }
  const TypeInfo& type = *types.front();
  // Fields that make no sense for the type are refused, not ignored.
  const ItemFields& f = command.fields;
  auto refuse = [&](bool given, const char* option, const char* types_text) {
    if (given) err << "zelsync store: " << option << " applies to " << types_text << " only\n";
    return given;
  };
  if (command.action == "add" || command.action == "edit") {
    bool contact = type.code == 2, calendar = type.code == 3, note = type.code == 1, mail = type.code == 0;
    if (refuse(!contact && f.name, "--name", "contacts") || refuse(!contact && f.phone, "--phone", "contacts") ||
        refuse(!contact && f.email, "--email", "contacts") ||
        refuse(!calendar && f.summary, "--summary", "calendar") || refuse(!calendar && f.start, "--start", "calendar") ||
        refuse(!calendar && f.end, "--end", "calendar") || refuse(!calendar && f.location, "--location", "calendar") ||
        refuse(!note && !mail && f.text, "--text", "notes and mail") ||
        refuse(!mail && (f.from || f.to || f.subject), "--from/--to/--subject", "mail") ||
        refuse(!mail && !command.attachments.empty(), "--attach", "mail") ||
        refuse(command.action == "edit" && mail && (f.from || f.to || f.text || !command.attachments.empty()),
               "editing --from/--to/--text/--attach", "new mail (edit a mail's --subject, or replace it with --file)")) {
      return kExitUsage;
    }
    // Times the store cannot read are refused before anything is written.
    if (calendar && !LocalStore::IsItemTime(f, command.action == "add", err)) return kExitUsage;
  }
  std::string error;
  if (command.action == "list") {
    json doc = json::array();
    std::vector<std::vector<std::string>> rows{{"type", "ID", "summary"}};
    for (const TypeInfo* t : types) {
      for (const StoreItem& item : store.List(t->code)) {
        rows.push_back({t->name, item.id, item.summary});
        doc.push_back({{"type", t->name}, {"id", item.id}, {"summary", item.summary}, {"file", PathToUtf8(item.path)}});
      }
    }
    if (command.json) {
      out << doc.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
    } else {
      out << "store " << PathToUtf8(store.root()) << "\n";
      if (rows.size() == 1) out << "  no items\n";
      else out << RenderTable(rows);
    }
    return kExitOk;
  }
  std::string id = command.id;
  std::optional<StoreItem> chosen;
  if (command.action == "show" || command.action == "edit" || command.action == "delete") {
    const std::string name = "zelsync store " + command.action;
    chosen = ChooseItem(store, type, command.id, name.c_str(), err);
    if (!chosen) return kExitFailed;
    id = chosen->id;
  }
  if (command.action == "show") {
    Bytes bytes;
    std::string reason;
    if (!ReadWholeFile(chosen->path, &bytes, &reason)) {
      err << "zelsync store show: " << PathToUtf8(chosen->path) << ": " << reason << "\n";
      return kExitFailed;
    }
    out << "# " << PathToUtf8(chosen->path) << "\n";
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return kExitOk;
  }
  std::optional<fs::path> file;
  if (command.file) file = PathFromUtf8(*command.file);
  ItemFields fields = command.fields;
  for (const std::string& attachment : command.attachments) fields.attachments.push_back(PathFromUtf8(attachment));
  if (command.action == "add") {
    std::string id;
    if (!store.Add(type.code, fields, file, &id, &error)) {
      err << "zelsync store add: " << error << "\n";
      return kExitFailed;
    }
    out << id << "\n";
    return kExitOk;
  }
  if (command.action == "edit") {
    if (!store.Edit(type.code, id, fields, file, &error)) {
      err << "zelsync store edit: " << error << "\n";
      return kExitFailed;
    }
    return kExitOk;
  }
  if (!store.Delete(type.code, id, &error)) {
    err << "zelsync store delete: " << error << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

int Main(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "zelsync: the command-line host of the zelsync library. It loads the library at run time, as the "
      "synchronisation service does, and plays the service between a simulated phone and the PC. "
      "Exit status: 0 success, 1 a failed session or a fault in a named file or folder, 2 bad usage.",
      "zelsync"};
  app.formatter(std::make_shared<WrappingFormatter>(HelpWidth()));
  app.require_subcommand(1);
  app.fallthrough();
  app.set_version_flag("--version", std::string("zelsync ") + ZELSYNC_TOOL_VERSION);
  std::string library_path;
  app.add_option("--library", library_path,
                 std::string("the library to load (default: ") + LibraryFileName() +
                     " next to this program, else the one it was built with)");
  std::string store_root;
  app.add_option("--store", store_root,
                 "the local item store (Linux; default: $ZELSYNC_STORE, else $XDG_DATA_HOME/zelsync, else "
                 "~/.local/share/zelsync)");

  // sync
  SyncCommand sync;
  int interrupt_after = 0;
  CLI::App* sync_app = app.add_subcommand(
      "sync", "Run one whole session between a simulated phone and the PC through the library. "
              "The phone is a folder: contacts/*.vcf, calendar/*.vcs|*.ics, notes/*.vnt, inbox/*.vmg and its "
              "state file phone.json (made by the first session). Edit, add or remove its files to change the "
              "phone. The report counts per type: sent = new items PC to phone, received = new objects phone "
              "to PC, updated and deleted each way, failed. Exit status: 0 when everything moved, 1 when the "
              "session or an object failed, or a file it needs is damaged.");
  sync_app->add_option("scheme", sync.road, "irmc or syncml: the scheme the phone syncs by")
      ->required()
      ->check(CLI::IsMember({"irmc", "syncml"}));
  sync_app->add_option("--device", sync.device, "the phone's folder (made when missing)")->required();
  sync_app->add_flag("--dry-run", sync.dry_run,
                     "report what would move, from the phone's folder, the store and the library's files; "
                     "change nothing");
  CLI::Option* interrupt = sync_app->add_option(
      "--interrupt-after", interrupt_after, "SyncML: drop the link after N objects have moved; the session is rolled back");
  interrupt->check(CLI::PositiveNumber);
  sync_app->add_option("--device-id", sync.device_id, "IrMC device ID of a new phone (default: random)");
  sync_app->add_option("--address", sync.address, "SyncML device address of a new phone, 12 hex digits (default: random)");
  sync_app->add_flag("--retry", sync.retry, "offer again the phone's objects the PC refused before");
  sync_app->add_flag("--json", sync.json, "print the report as JSON");
  sync_app->add_flag("-v,--verbose", sync.verbose, "list every object moved");

  // reset
  std::string reset_device;
  CLI::App* reset_app = app.add_subcommand(
      "reset", "Start a phone over: remove the library's databases of the phone in DIR and make the phone "
               "forget its partner. Its next session is a first one, which pairs the phone's objects with the "
               "PC's items by content and copies only the rest.");
  reset_app->add_option("--device", reset_device, "the phone's folder")->required();

  // inspect
  InspectOptions inspect;
  std::string inspect_type;
  CLI::App* inspect_app = app.add_subcommand(
      "inspect", "Decode bookkeeping files: device record databases, modification logs, SyncML databases with "
                 "their anchor header, the new-records file. With no FILE, every file of the library's sync "
                 "folder. Exit status 1 when a file is missing, of unknown kind or damaged.");
  inspect_app->add_option("FILE", inspect.paths, "files or folders to decode");
  inspect_app->add_option("--type", inspect_type, "the kind of file, when its name does not tell")
      ->check(CLI::IsMember({"device-db", "irmc-log", "syncml-db", "syncml-log", "new-records"}));
  inspect_app->add_flag("--json", inspect.json, "print JSON instead of tables");

  // store
  CLI::App* store_app = app.add_subcommand(
      "store", "Look at and change the local item store (Linux): contacts, calendar, notes, mail (the Inbox). "
               "The next session's change scanner finds the changes.");
  store_app->require_subcommand(1);
  StoreCommand store;
  auto add_fields = [&](CLI::App* sub) {
    sub->add_option("--file", store.file, "take the whole item from this file (vCard, iCalendar, text, message)");
    sub->add_option("--name", store.fields.name, "contact: full name");
    sub->add_option("--phone", store.fields.phone, "contact: phone number");
    sub->add_option("--email", store.fields.email, "contact: e-mail address");
    sub->add_option("--summary", store.fields.summary, "calendar: title");
    sub->add_option("--start", store.fields.start, "calendar: start, YYYYMMDDTHHMMSS");
    sub->add_option("--end", store.fields.end, "calendar: end, YYYYMMDDTHHMMSS");
    sub->add_option("--location", store.fields.location, "calendar: place");
    sub->add_option("--text", store.fields.text, "note: the text; mail: the body");
    sub->add_option("--from", store.fields.from, "mail: sender");
    sub->add_option("--to", store.fields.to, "mail: recipient");
    sub->add_option("--subject", store.fields.subject, "mail: subject");
    sub->add_option("--attach", store.attachments, "mail: attach this file (repeatable)");
  };
  CLI::App* store_list = store_app->add_subcommand("list", "List the items of one type, or of all");
  store_list->add_option("TYPE", store.type, "contacts, calendar, notes or mail (default: all)");
  store_list->add_flag("--json", store.json, "print JSON");
  CLI::App* store_show = store_app->add_subcommand("show", "Print one item's file");
  store_show->add_option("TYPE", store.type, "contacts, calendar, notes or mail")->required();
  store_show->add_option("ID", store.id, "the item's ID (from store list), the start of it, or a part of its summary")->required();
  CLI::App* store_add = store_app->add_subcommand("add", "Add an item; prints its ID");
  store_add->add_option("TYPE", store.type, "contacts, calendar, notes or mail")->required();
  add_fields(store_add);
  CLI::App* store_edit = store_app->add_subcommand("edit", "Change fields of an item, or replace it with --file");
  store_edit->add_option("TYPE", store.type, "contacts, calendar, notes or mail")->required();
  store_edit->add_option("ID", store.id, "the item's ID, the start of it, or a part of its summary")->required();
  add_fields(store_edit);
  CLI::App* store_delete = store_app->add_subcommand("delete", "Delete an item");
  store_delete->add_option("TYPE", store.type, "contacts, calendar, notes or mail")->required();
  store_delete->add_option("ID", store.id, "the item's ID, the start of it, or a part of its summary")->required();

  // phone
  std::string phone_device;
  bool phone_json = false;
  CLI::App* phone_app = app.add_subcommand("phone", "Show a simulated phone's objects and its changes since the last session");
  phone_app->add_option("--device", phone_device, "the phone's folder")->required();
  phone_app->add_flag("--json", phone_json, "print JSON");

  // demo
  DemoCommand demo;
  CLI::App* demo_app = app.add_subcommand(
      "demo", "In a fresh temporary folder: make a small store and two simulated phones, run an IrMC and a "
              "SyncML session, change something on each side, run them again, and show what moved.");
  demo_app->add_option("--folder", demo.folder, "work in this (new or empty) folder instead, and keep it");
  demo_app->add_flag("--keep", demo.keep, "keep the temporary folder");

  std::vector<const char*> argv;
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e, out, err) == 0 ? kExitOk : kExitUsage;
  }

  if (!store_root.empty()) {
#ifdef _WIN32
    err << "zelsync: --store: on Windows the PC's items live in Outlook\n";
    return kExitUsage;
#else
    std::error_code ec;
    const fs::path root = fs::absolute(PathFromUtf8(store_root), ec);
    if (ec || !SetEnvironment("ZELSYNC_STORE", root)) {
      err << "zelsync: --store " << store_root << ": " << LastOsReason() << "\n";
      return kExitFailed;
    }
#endif
  }
  try {
    if (reset_app->parsed()) return RunReset(reset_device, out, err);
    if (sync_app->parsed()) {
      if (interrupt->count()) sync.interrupt_after = interrupt_after;
      return RunSync(sync, library_path, out, err);
    }
    if (inspect_app->parsed()) {
      if (!inspect_type.empty()) inspect.kind = ParseFileKind(inspect_type);
      return RunInspect(inspect, out, err);
    }
    if (store_app->parsed()) {
      for (CLI::App* sub : {store_list, store_show, store_add, store_edit, store_delete})
        if (sub->parsed()) store.action = sub->get_name();
      return RunStore(store, out, err);
    }
    if (phone_app->parsed()) return RunPhoneShow(phone_device, phone_json, out, err);
    if (demo_app->parsed()) return RunDemo(demo, library_path, out, err);
  } catch (const std::exception& e) {
    err << "zelsync: " << e.what() << "\n";
    return kExitFailed;
  }
  return kExitUsage;
}

}  // namespace zelsync_tool
