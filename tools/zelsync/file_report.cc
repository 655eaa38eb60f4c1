#include "file_report.h"

#include <algorithm>
#include <filesystem>
#include <ostream>

#include "file_util.h"
#include "session.h"
#include "sync_folder.h"
#include "table.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;
using nlohmann::json;

namespace {

json FieldJson(const FieldText& field) {
  if (field.terminated) return field.text;
  return json{{"text", field.text}, {"terminated", false}};
}

std::string FieldCell(const FieldText& field) {
  return field.terminated ? field.text : field.text + " [no terminator]";
}

std::string TypeCell(const DecodedRecord& record) {
  if (record.removed) return "removed";
  auto name = ObjectTypeName(record.type);
  return name ? *name : "? (" + std::to_string(record.type) + ")";
}

std::string AnchorText(const Anchor& anchor) {
  if (anchor.kind == 0) return "number " + std::to_string(anchor.number) + " (kind 0)";
  return "time " + FieldCell(anchor.time) + " (kind " + std::to_string(anchor.kind) + ")";
}

}  // namespace

json DecodedFileToJson(const DecodedFile& file) {
  json out;
  out["format"] = FileKindName(file.kind);
  out["title"] = FileKindTitle(file.kind);
  out["size"] = file.size;
  if (file.change_counter) out["change_counter"] = *file.change_counter;
  if (file.session_address) out["device"] = FormatAddress(*file.session_address);
  if (file.backup_flag) out["backup_flag"] = *file.backup_flag;
  if (file.anchor) {
    out["anchor"] = {{"kind", file.anchor->kind},
                     {"time", FieldJson(file.anchor->time)},
                     {"number", file.anchor->number},
                     {"uses", file.anchor->kind == 0 ? "number" : "time"}};
  }
  json records = json::array();
  for (const DecodedRecord& record : file.records) {
    json r{{"index", record.index}, {"offset", record.offset}, {"type", record.type}};
    auto name = ObjectTypeName(record.type);
    r["type_name"] = name ? json(*name) : json(nullptr);
    if (record.removed) r["removed"] = true;
    if (record.kind) {
      r["kind"] = *record.kind;
      r["kind_name"] = RecordKindName(file.kind, *record.kind);
    }
    if (record.entry_id) r["entry_id"] = FieldJson(*record.entry_id);
    if (record.luid) r["luid"] = FieldJson(*record.luid);
    if (record.new_entry_id) r["new_entry_id"] = FieldJson(*record.new_entry_id);
    if (record.change_time) r["change_time"] = FieldJson(*record.change_time);
    if (record.change_number) r["change_number"] = *record.change_number;
    records.push_back(std::move(r));
  }
  out["records"] = std::move(records);
  out["fragment"] = file.fragment_size == 0
                        ? json(nullptr)
                        : json{{"offset", file.fragment_offset}, {"size", file.fragment_size}};
  out["damage"] = file.damage;
  out["notes"] = file.notes;
  return out;
}

std::string DecodedFileToText(const DecodedFile& file) {
  std::string out = std::string(FileKindTitle(file.kind)) + ", " + std::to_string(file.size) +
                    " bytes, " + std::to_string(file.records.size()) +
                    (file.records.size() == 1 ? " record\n" : " records\n");
  if (file.change_counter) out += "  change counter: " + std::to_string(*file.change_counter) + "\n";
  if (file.session_address) {
    out += "  open session with " + FormatAddress(*file.session_address) + ", backup flag " +
           std::to_string(file.backup_flag.value_or(0)) + "\n";
  }
  if (file.anchor) out += "  last sync anchor: " + AnchorText(*file.anchor) + "\n";

  std::vector<std::vector<std::string>> rows;
  switch (file.kind) {
    case FileKind::kDeviceDatabase:
    case FileKind::kSyncMLDatabase:
      rows.push_back({"#", "offset", "type", "entry ID", "LUID"});
      break;
    case FileKind::kIrmcLog:
      rows.push_back({"#", "offset", "type", "change", "entry ID"});
      break;
    case FileKind::kSyncMLLog:
      rows.push_back({"#", "offset", "type", "change", "entry ID", "change time", "number"});
      break;
    case FileKind::kNewRecords:
      rows.push_back({"#", "offset", "type", "LUID"});
      break;
    case FileKind::kUpdatedRecords:
      rows.push_back({"#", "offset", "type", "replaced entry ID", "LUID", "new entry ID"});
      break;
    case FileKind::kPendingChange:
      rows.push_back(
          {"#", "offset", "type", "operation", "replaced entry ID", "LUID", "new entry ID"});
      break;
    case FileKind::kSessionMarker:
      break;
    case FileKind::kText:
      break;
  }
  for (const DecodedRecord& record : file.records) {
    std::vector<std::string> row{std::to_string(record.index), std::to_string(record.offset),
                                 TypeCell(record)};
    if (record.kind)
      row.push_back(RecordKindName(file.kind, *record.kind) + " (" + std::to_string(*record.kind) +
                    ")");
    if (record.entry_id) row.push_back(FieldCell(*record.entry_id));
    if (record.luid) row.push_back(FieldCell(*record.luid));
    if (record.change_time) row.push_back(FieldCell(*record.change_time));
    if (record.change_number) row.push_back(std::to_string(*record.change_number));
    if (record.new_entry_id) row.push_back(FieldCell(*record.new_entry_id));
    rows.push_back(std::move(row));
  }
  if (!file.records.empty()) out += RenderTable(rows);
  for (const std::string& damage : file.damage) out += "  damaged: " + damage + "\n";
  for (const std::string& note : file.notes) out += "  note: " + note + "\n";
  return out;
}

int RunInspect(const InspectOptions& options, std::ostream& out, std::ostream& err) {
  std::vector<fs::path> files;
  bool listing = options.paths.size() != 1;  // more than one file: a JSON array
  std::vector<fs::path> roots;
  if (options.paths.empty()) {
    fs::path folder = LibrarySyncFolder();
    if (folder.empty()) {
      err << "zelsync inspect: the library's sync folder is unknown (no home folder); name a file\n";
      return 1;
    }
    roots.push_back(folder);
  }
  for (const std::string& text : options.paths) roots.push_back(PathFromUtf8(text));

  int status = 0;
  for (const fs::path& root : roots) {
    std::error_code ec;
    if (fs::is_directory(root, ec)) {
      listing = true;
      std::vector<fs::path> found;
      for (const auto& entry : fs::directory_iterator(root, ec)) {
        std::error_code type_ec;
        const std::string name = PathToUtf8(entry.path().filename());
        if (entry.is_regular_file(type_ec) && AsciiLower(PathToUtf8(entry.path().extension())) == ".dat" &&
            !IsScratchFileName(name))
          found.push_back(entry.path());
      }
      if (ec) {
        err << "zelsync inspect: " << PathToUtf8(root) << ": cannot list the folder (" << ec.message() << ")\n";
        status = 1;
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.push_back(root);
    }
  }

  json all = json::array();
  bool first = true;
  for (const fs::path& path : files) {
    const std::string shown = PathToUtf8(path);
    Bytes bytes;
    std::error_code ec;
    if (!fs::exists(path, ec)) {
      err << "zelsync inspect: " << shown << ": no such file or folder\n";
      status = 1;
      continue;
    }
    std::string reason;
    if (!ReadWholeFile(path, &bytes, &reason)) {
      err << "zelsync inspect: " << shown << ": cannot read the file: " << reason << "\n";
      status = 1;
      continue;
    }
    std::optional<FileKind> kind = options.kind;
    bool guessed = false;
    if (!kind) kind = KindFromFileName(PathToUtf8(path.filename()));
    if (!kind) {
      kind = KindFromSize(bytes.size());
      guessed = kind.has_value();
    }
    if (!kind) {
      err << "zelsync inspect: " << shown
          << ": neither its name nor its size tells which bookkeeping file it is; "
             "name the kind with --type\n";
      status = 1;
      continue;
    }
    DecodedFile decoded = DecodeBookkeepingFile(*kind, bytes);
    if (guessed) decoded.notes.push_back("the kind was guessed from the file's size");
    if (!decoded.damage.empty()) status = 1;
    if (options.json) {
      json one = DecodedFileToJson(decoded);
      one["file"] = shown;
      all.push_back(std::move(one));
    } else {
      if (!first) out << "\n";
      out << shown << ": " << DecodedFileToText(decoded);
    }
    first = false;
  }
  if (options.json) {
    const json& shown = listing || all.size() != 1 ? all : all[0];
    out << shown.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
  } else if (files.empty() && status == 0) {
    out << "no bookkeeping files\n";
  }
  return status;
}

}  // namespace zelsync_tool
