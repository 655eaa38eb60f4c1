#include "library.h"

#ifndef _WIN32
#include "tracker/change_scanner.h"
#endif

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

namespace {
// Stores a looked-up symbol in a function-pointer slot. The copy keeps the
// conversion from an object pointer well defined on both platforms.
template <typename Function>
void Assign(Function* slot, void* symbol) {
  static_assert(sizeof(Function) == sizeof(void*), "function pointers are pointer-sized");
  std::memcpy(slot, &symbol, sizeof symbol);
}

#ifdef _WIN32
std::string LastErrorText() {
  wchar_t* message = nullptr;
  DWORD code = GetLastError();
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                     FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text = "Windows error " + std::to_string(code);
  if (message) {
    std::u16string wide(reinterpret_cast<const char16_t*>(message));
    while (!wide.empty() && (wide.back() == u'\n' || wide.back() == u'\r' || wide.back() == u' '))
      wide.pop_back();
    text += ": " + Utf16ToUtf8(wide);
    LocalFree(message);
  }
  return text;
}
#endif
}  // namespace

std::unique_ptr<Library> Library::Load(const fs::path& path, std::string* error) {
  std::unique_ptr<Library> library(new Library());
  std::error_code ec;
  // An absolute path, so the loader never searches its own folders for a
  // library of the same name.
  library->path_ = fs::absolute(path, ec);
  if (ec) library->path_ = path;
  const std::string shown = PathToUtf8(library->path_);
  if (!fs::is_regular_file(library->path_, ec)) {
    *error = shown + ": no library file there";
    return nullptr;
  }
#ifdef _WIN32
  library->handle_ = LoadLibraryExW(library->path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!library->handle_) {
    *error = shown + ": cannot be loaded (" + LastErrorText() + ")";
    return nullptr;
  }
#else
  library->handle_ = dlopen(library->path_.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library->handle_) {
    const char* reason = dlerror();
    *error = shown + ": cannot be loaded (" + (reason ? reason : "unknown reason") + ")";
    return nullptr;
  }
#endif
  Exports& table = library->exports_;
#define ZELSYNC_TOOL_LOOKUP(name)                                                \
  if (void* symbol = library->FindSymbol(#name)) {                               \
    Assign(&table.name, symbol);                                                 \
  } else {                                                                       \
    *error = shown + ": the export " #name " is missing; not a zelsync library"; \
    return nullptr;                                                              \
  }
  ZELSYNC_TOOL_EXPORTS(ZELSYNC_TOOL_LOOKUP)
#undef ZELSYNC_TOOL_LOOKUP
#ifndef _WIN32
  table.LocalStoreScan = [] { return zelsync::local::ScanStoreChanges().ok ? 1 : 0; };
#endif
  return library;
}

Library::~Library() {
  if (!handle_) return;
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* Library::FindSymbol(const char* name) const {
#ifdef _WIN32
  FARPROC symbol = GetProcAddress(static_cast<HMODULE>(handle_), name);
  void* result = nullptr;
  static_assert(sizeof symbol == sizeof result, "procedure addresses are pointer-sized");
  std::memcpy(&result, &symbol, sizeof result);
  return result;
#else
  return dlsym(handle_, name);
#endif
}

const char* LibraryFileName() {
#ifdef _WIN32
  return "zelsyncdll.dll";
#else
  return "libzelsyncdll.so";
#endif
}

fs::path ExecutableFolder() {
#ifdef _WIN32
  std::array<wchar_t, 32768> buffer{};
  DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  return fs::path(std::wstring(buffer.data(), length)).parent_path();
#else
  std::error_code ec;
  fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
#endif
}

std::vector<fs::path> DefaultLibraryCandidates() {
  std::vector<fs::path> candidates;
  fs::path here = ExecutableFolder();
  if (!here.empty()) candidates.push_back(here / LibraryFileName());
#if defined(ZELSYNC_TOOL_INSTALLED_LIBRARY_FOLDER) && !defined(_WIN32)
  if (!here.empty()) candidates.push_back(here / ZELSYNC_TOOL_INSTALLED_LIBRARY_FOLDER / LibraryFileName());
#endif
#ifdef ZELSYNC_TOOL_BUILD_LIBRARY
  candidates.push_back(PathFromUtf8(ZELSYNC_TOOL_BUILD_LIBRARY));
#endif
  return candidates;
}

bool WideBuffer::Text(std::u16string* text) const {
  for (size_t n = 0; n < units_.size(); ++n) {
    if (units_[n] == 0) {
      text->assign(reinterpret_cast<const char16_t*>(units_.data()), n);
      return true;
    }
  }
  return false;
}

WideArg::WideArg(const std::u16string& text) {
  fits_ = text.size() < units_.size() && text.find(u'\0') == std::u16string::npos;
  if (!fits_) return;
  for (size_t n = 0; n < text.size(); ++n) units_[n] = static_cast<ZS_WCHAR>(text[n]);
}

}  // namespace zelsync_tool
