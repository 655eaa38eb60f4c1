#include "device_files.h"

#include "bookkeeping_files.h"
#include "file_util.h"
#include "object_types.h"
#include "store/file_names.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {

struct SessionFile {
  fs::path path;
  FileKind kind;
  bool shared;
};

using zelsync::BookkeepingFile;

fs::path FileOf(const fs::path& folder, BookkeepingFile file, const std::string& device = std::string()) {
  return folder / PathFromUtf8(zelsync::BookkeepingFileName(file, device));
}

// The library names a device's SyncML files by its address in 12 lower-case
// hex digits, however the phone spells it.
std::string AddressName(const Phone& phone) {
  const std::optional<uint64_t> address = ParseAddress(phone.address);
  return address ? FormatAddress(*address) : phone.address;
}

std::vector<SessionFile> SessionFiles(const fs::path& folder, Road road, const Phone& phone) {
  std::vector<SessionFile> files;
  const bool syncml = road == Road::kSyncML;
  if (syncml && !phone.address.empty()) {
    // One database holds every type.
    files.push_back({PhoneDatabaseFile(folder, road, phone, ObjectTypes().front()),
                     FileKind::kSyncMLDatabase, false});
  } else if (!syncml && !phone.device_id.empty()) {
    for (const TypeInfo& type : ObjectTypes())
      files.push_back(
          {PhoneDatabaseFile(folder, road, phone, type), FileKind::kDeviceDatabase, false});
  }
  files.push_back({ModificationLogFile(folder, road),
                   syncml ? FileKind::kSyncMLLog : FileKind::kIrmcLog, true});
  return files;
}

}  // namespace

fs::path PhoneDatabaseFile(const fs::path& sync_folder, Road road, const Phone& phone,
                           const TypeInfo& type) {
  if (road == Road::kSyncML)
    return FileOf(sync_folder, BookkeepingFile::kSyncMLDatabase, AddressName(phone));
  return FileOf(sync_folder, BookkeepingFile::kIrmcDatabase,
                phone.device_id + "_" + type.irmc_database);
}

fs::path ModificationLogFile(const fs::path& sync_folder, Road road) {
  return FileOf(sync_folder,
                road == Road::kSyncML ? BookkeepingFile::kSyncMLLog : BookkeepingFile::kIrmcLog);
}

std::vector<fs::path> PhoneDatabaseFiles(const fs::path& sync_folder, Road road,
                                         const Phone& phone) {
  std::vector<fs::path> files;
  for (const SessionFile& file : SessionFiles(sync_folder, road, phone))
    if (!file.shared) files.push_back(file.path);
  if (road == Road::kSyncML && !phone.address.empty()) {
    files.push_back(FileOf(sync_folder, BookkeepingFile::kSyncMLDatabaseBackup, AddressName(phone)));
    files.push_back(FileOf(sync_folder, BookkeepingFile::kSyncMLDatabaseScratch, AddressName(phone)));
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
