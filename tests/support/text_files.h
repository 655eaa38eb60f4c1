// Test support: files as byte strings, and environment variables set for
// the lifetime of an object.
#ifndef ZELSYNC_TESTS_SUPPORT_TEXT_FILES_H
#define ZELSYNC_TESTS_SUPPORT_TEXT_FILES_H

#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

namespace zelsync {
namespace testing {

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Writes `text` as the whole file, making its folder when missing.
inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

#ifndef _WIN32
// Sets (or, with nullptr, removes) an environment variable until the object
// goes; the time zone is read again both times.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
    tzset();
  }
  ScopedVariable(const char* name, const std::string& value) : ScopedVariable(name, value.c_str()) {}
  ~ScopedVariable() {
    old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_);
    tzset();
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};
#endif

}  // namespace testing
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_SUPPORT_TEXT_FILES_H
