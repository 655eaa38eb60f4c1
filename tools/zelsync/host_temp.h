// The host's private scratch folder for the copies of phone files it hands
// to the library (which consumes them). Phone contacts and mail pass
// through it, so it is closed to everyone but the user.
#ifndef ZELSYNC_TOOL_HOST_TEMP_H
#define ZELSYNC_TOOL_HOST_TEMP_H

#include <filesystem>

namespace zelsync_tool {

// Made in the per-user runtime folder ($XDG_RUNTIME_DIR) when there is
// one, else in the temporary folder, as "zelsync-host-<pid>-<random>" with
// mode 0700; removed with its content when the object goes. Folders of the
// same user left behind by a host that died (its process is gone) are
// removed first.
class HostTempFolder {
 public:
  HostTempFolder();
  ~HostTempFolder();
  HostTempFolder(const HostTempFolder&) = delete;
  HostTempFolder& operator=(const HostTempFolder&) = delete;

  // Empty when no folder could be made.
  const std::filesystem::path& path() const { return path_; }

  // Copies `source` into the folder as `name`, readable by the user only.
  bool CopyIn(const std::filesystem::path& source, const std::filesystem::path& copy) const;

 private:
  std::filesystem::path path_;
};

// The folder HostTempFolder makes its folders in.
std::filesystem::path HostTempBase();

// Removes the scratch folders under `base` that belong to this user and to
// a process that no longer runs. Returns how many were removed.
int RemoveStaleHostTempFolders(const std::filesystem::path& base);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_HOST_TEMP_H
