#include "file_util.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

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

bool WriteFileReplacing(const fs::path& path, const Bytes& bytes, std::string* reason) {
  // A name starting with "." is a scratch file to the store and the phone.
  fs::path name(".");
  name += path.filename();
  name += ".tmp";
  const fs::path scratch = path.parent_path() / name;
  errno = 0;
  {
    std::ofstream out(scratch, std::ios::binary | std::ios::trunc);
    if (!out) {
      if (reason) *reason = errno ? LastOsReason() : "cannot be written";
      return false;
    }
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      if (reason) *reason = errno ? LastOsReason() : "cannot be written";
      out.close();
      std::error_code ignored;
      fs::remove(scratch, ignored);
      return false;
    }
  }
  std::error_code ec;
  fs::rename(scratch, path, ec);
  if (ec) {
    if (reason) *reason = ec.message();
    fs::remove(scratch, ec);
    return false;
  }
  return true;
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
