// The library's files that belong to one phone, and the check a session
// makes of every file it is about to use, as `zelsync inspect` does: a
// session over a damaged file would make things worse (a database cut
// short makes the PC hand the phone's whole contents over again, and the
// copies grow with each session), so it does not start.
#ifndef ZELSYNC_TOOL_DEVICE_FILES_H
#define ZELSYNC_TOOL_DEVICE_FILES_H

#include <filesystem>
#include <string>
#include <vector>

#include "object_types.h"
#include "phone.h"
#include "session.h"

namespace zelsync_tool {

struct FileFault {
  std::filesystem::path file;
  std::string what;     // the damage, or the operating system's reason
  bool shared = false;  // a modification log, which every phone uses
};

// The phone's record database of `type` in `sync_folder` (on the SyncML
// road one database holds every type), and the road's modification log.
std::filesystem::path PhoneDatabaseFile(const std::filesystem::path& sync_folder, Road road,
                                        const Phone& phone, const TypeInfo& type);
std::filesystem::path ModificationLogFile(const std::filesystem::path& sync_folder, Road road);

// The files in `sync_folder` that hold this phone's bookkeeping: its IrMC
// device record databases, or its SyncML database with the copies a
// session keeps of it.
std::vector<std::filesystem::path> PhoneDatabaseFiles(const std::filesystem::path& sync_folder, Road road,
                                                      const Phone& phone);

// Reads every file a session with this phone will use (its databases and
// the modification log of the road, when they exist) and lists those that
// are damaged or cannot be read.
std::vector<FileFault> CheckSessionFiles(const std::filesystem::path& sync_folder, Road road, const Phone& phone);

// What to tell a person about a fault, with the next step to take.
std::string DescribeFault(const FileFault& fault, const std::string& device_folder);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_DEVICE_FILES_H
