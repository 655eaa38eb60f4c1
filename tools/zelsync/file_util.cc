#include "file_util.h"

#include <fstream>

#include "platform/platform.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

bool ReadWholeFile(const fs::path& path, Bytes* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

namespace {
// The path as the library's platform layer takes it.
zelsync::WString PlatformPath(const fs::path& path) {
#ifdef _WIN32
  const std::wstring& native = path.native();
  return zelsync::WString(native.begin(), native.end());
#else
  return zelsync::PathFromNative(path.native());
#endif
}
}  // namespace

bool WriteFileReplacing(const fs::path& path, const Bytes& bytes) {
  // A name starting with "." is a scratch file to the store and the phone.
  fs::path name(".");
  name += path.filename();
  name += ".tmp";
  return zelsync::WriteFileAtomically(PlatformPath(path), PlatformPath(path.parent_path() / name), bytes.data(),
                                      bytes.size());
}

bool CopyWholeFile(const fs::path& from, const fs::path& to) {
  Bytes bytes;
  return ReadWholeFile(from, &bytes) && WriteFileReplacing(to, bytes);
}

}  // namespace zelsync_tool
