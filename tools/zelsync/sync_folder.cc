#include "sync_folder.h"

#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#endif

namespace zelsync_tool {
namespace fs = std::filesystem;

fs::path LibrarySyncFolder() {
#ifdef _WIN32
  wchar_t buffer[MAX_PATH] = {0};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, buffer))) return {};
  buffer[MAX_PATH - 1] = 0;
  return fs::path(buffer) / "ZelBtOutlookSync";
#else
  // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
  auto absolute = [](const char* name) -> std::string {
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
  };
  std::string data = absolute("XDG_DATA_HOME");
  if (data.empty()) {
    std::string home = absolute("HOME");
    if (home.empty()) return {};
    data = home + "/.local/share";
  }
  return fs::path(data) / "ZelBtOutlookSync";
#endif
}

}  // namespace zelsync_tool
