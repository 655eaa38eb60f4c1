#include "device_files.h"

#include "bookkeeping_files.h"
#include "file_util.h"
#include "object_types.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

struct SessionFile {
  fs::path path;
  FileKind kind;
  bool shared;
};

std::vector<SessionFile> SessionFiles(const fs::path& folder, Road road, const Phone& phone) {
  std::vector<SessionFile> files;
  if (road == Road::kSyncML) {
    if (!phone.address.empty()) files.push_back({folder / (phone.address + "_SyncMLDB.DAT"), FileKind::kSyncMLDatabase, false});
    files.push_back({folder / "SyncMLModificationLog.DAT", FileKind::kSyncMLLog, true});
  } else {
    if (!phone.device_id.empty()) {
      for (const TypeInfo& type : ObjectTypes())
        files.push_back({folder / (phone.device_id + "_" + type.irmc_database + ".DAT"), FileKind::kDeviceDatabase, false});
    }
    files.push_back({folder / "SyncModificationLog.DAT", FileKind::kIrmcLog, true});
  }
  return files;
}

}  // namespace

std::vector<fs::path> PhoneDatabaseFiles(const fs::path& sync_folder, Road road, const Phone& phone) {
  std::vector<fs::path> files;
  for (const SessionFile& file : SessionFiles(sync_folder, road, phone))
    if (!file.shared) files.push_back(file.path);
  if (road == Road::kSyncML && !phone.address.empty()) {
    files.push_back(sync_folder / (phone.address + "_SyncMLDB_Temp.DAT"));
    files.push_back(sync_folder / (phone.address + "_SyncMLDB_Scratch.DAT"));
  }
  return files;
}

std::vector<FileFault> CheckSessionFiles(const fs::path& sync_folder, Road road, const Phone& phone) {
  std::vector<FileFault> faults;
  if (sync_folder.empty()) return faults;
  for (const SessionFile& file : SessionFiles(sync_folder, road, phone)) {
    std::error_code ec;
    const fs::file_status status = fs::status(file.path, ec);
    if (status.type() == fs::file_type::not_found) continue;
    if (ec || status.type() != fs::file_type::regular) {
      faults.push_back({file.path, ec ? ec.message() : "not a regular file", file.shared});
      continue;
    }
    Bytes bytes;
    std::string reason;
    if (!ReadWholeFile(file.path, &bytes, &reason)) {
      faults.push_back({file.path, "cannot be read: " + reason, file.shared});
      continue;
    }
    const DecodedFile decoded = DecodeBookkeepingFile(file.kind, bytes);
    if (decoded.damage.empty()) continue;
    std::string what = "damaged";
    for (size_t i = 0; i < decoded.damage.size(); ++i) what += (i ? "; " : ": ") + decoded.damage[i];
    faults.push_back({file.path, what, file.shared});
  }
  return faults;
}

std::string DescribeFault(const FileFault& fault, const std::string& device_folder) {
  std::string text = PathToUtf8(fault.file) + ": " + fault.what + ". Nothing was changed.\n  ";
  if (fault.shared) {
    return text +
           "Restore the file from a backup; or move it aside, which forgets the PC changes it holds, and\n"
           "  run `zelsync reset --device DIR` for each phone so that its next session starts over.";
  }
  return text + "Restore the file from a backup, or start this phone over with\n    zelsync reset --device " +
         device_folder + "\n  (its next session pairs the phone's objects with the PC's items by content).";
}

}  // namespace zelsync_tool
