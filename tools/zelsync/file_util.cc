#include "file_util.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "platform/platform.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

std::string LastOsReason() { return std::error_code(errno, std::generic_category()).message(); }

bool ReadWholeFile(const fs::path& path, Bytes* bytes, std::string* reason) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (reason) *reason = errno ? LastOsReason() : "cannot be opened";
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad() && reason) *reason = errno ? LastOsReason() : "cannot be read";
  return !in.bad();
}

bool WriteFileReplacing(const fs::path& path, const Bytes& bytes, std::string* reason, zelsync::Lasting lasting) {
  // A name starting with "." is a scratch file to the store and the phone.
  fs::path name(".");
  name += path.filename();
  name += ".tmp";
  errno = 0;
  if (zelsync::WriteFileAtomically(PathToUtf16(path), PathToUtf16(path.parent_path() / name), bytes.data(),
                                   bytes.size(), lasting)) {
    return true;
  }
  if (reason) *reason = errno ? LastOsReason() : "cannot be written";
  return false;
}

bool SetEnvironment(const char* name, const fs::path& value) {
#ifdef _WIN32
  return _wputenv_s(fs::path(name).c_str(), value.c_str()) == 0;
#else
  return setenv(name, value.c_str(), 1) == 0;
#endif
}

bool CopyWholeFile(const fs::path& from, const fs::path& to) {
  Bytes bytes;
  return ReadWholeFile(from, &bytes) && WriteFileReplacing(to, bytes);
}

}  // namespace zelsync_tool
