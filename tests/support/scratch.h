// Test support: a scratch folder per test, an Env that puts the library's
// application-data and temporary folders inside it, fault injection, and
// byte images of files.
#ifndef ZELSYNC_TESTS_SUPPORT_SCRATCH_H
#define ZELSYNC_TESTS_SUPPORT_SCRATCH_H

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {

using Bytes = std::vector<unsigned char>;

// A fresh, empty folder removed again at destruction.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

WString ToWide(const std::filesystem::path& path);
// The names of the entries of a folder.
std::set<std::string> FileNames(const std::filesystem::path& folder);

// Forwards to the real Env but reports `appdata` as the local
// application-data folder and `temp` as the temporary folder. Any single
// call can be made to fail: FailNth("Replace", 1) fails the next Replace;
// FailNth("Open", 0, "B.vcf") every Open of a path holding "B.vcf" (a
// file's Write, Flush, Sync and Truncate count under the path it was
// opened with, Replace and Copy under either path).
class TestEnv : public EnvWrapper {
 public:
  TestEnv(const std::filesystem::path& appdata, const std::filesystem::path& temp);

  // Fails the nth (1-based) call of `operation` from now on: "Open",
  // "Write", "Read", "Replace", "Copy", "RemoveFile", "MakeFolder", "Flush", "Sync",
  // "Truncate";
  // n = 0 fails every call. Only calls on a path holding `part` count.
  void FailNth(const std::string& operation, int n, const std::string& part = std::string());
  void ClearFailures() { rules_.clear(); }
  // Makes the application-data folder unknown (the fallback root is used).
  void set_appdata_known(bool known) { appdata_known_ = known; }
  // The "MailAttachment" setting, 0 unless a test sets it.
  void set_mail_attachment(uint32_t value) { mail_attachment_ = value; }
  uint32_t MailAttachmentSetting() override { return mail_attachment_; }

  std::unique_ptr<File> Open(const WString& path, OpenMode mode, FsStatus* status) override;
  FsStatus MakeFolder(const WString& path) override {
    return Guard("MakeFolder", &Env::MakeFolder, path);
  }
  FsStatus RemoveFile(const WString& path) override {
    return Guard("RemoveFile", &Env::RemoveFile, path);
  }
  FsStatus Replace(const WString& from, const WString& to) override {
    return Guard("Replace", &Env::Replace, from, to);
  }
  FsStatus Copy(const WString& from, const WString& to) override {
    return Guard("Copy", &Env::Copy, from, to);
  }
  bool LocalAppDataFolder(WString* folder) override;
  bool TempFolder(WString* folder) override;
  WString FallbackRoot() override { return fallback_; }

  // True (and counted) when this call of `operation` on these paths is to fail.
  bool ShouldFail(const std::string& operation, const WString& path = WString(),
                  const WString& other = WString());

 private:
  std::filesystem::path appdata_, temp_;
  WString fallback_;
  bool appdata_known_ = true;
  uint32_t mail_attachment_ = 0;
  struct Rule {
    std::string operation;
    WString part;
    int n;         // 0: every matching call
    int seen = 0;  // matching calls since the rule was made
  };
  std::vector<Rule> rules_;

  // The real call unless this one is to fail.
  template <class... Params, class... Args>
  FsStatus Guard(const char* operation, FsStatus (Env::*call)(Params...), const Args&... args) {
    return ShouldFail(operation, args...) ? FsStatus::kOther : (target().*call)(args...);
  }
};

// A test with a scratch folder and the TestEnv installed. The library's
// session state is reset before and after.
class LibraryTest : public ::testing::Test {
 protected:
  LibraryTest();
  ~LibraryTest() override;

  // The sync folder, as the library builds it.
  std::filesystem::path SyncFolder() const {
    return scratch_.path() / "appdata" / "ZelBtOutlookSync";
  }
  std::filesystem::path InSync(const std::string& name) const { return SyncFolder() / name; }
  std::filesystem::path Temp() const { return scratch_.path() / "temp"; }
  // The temporary folder as the library spells it, with its separator.
  WString TempFolder() const { return ToWide(Temp()) + WString(1, kPathSeparator); }
  // The names in a folder: by default the temporary folder.
  std::set<std::string> TempFiles(const std::filesystem::path& folder = {}) const {
    return FileNames(folder.empty() ? Temp() : folder);
  }

  ScratchFolder scratch_;
  TestEnv env_;

 private:
  ScopedEnv scoped_;
};

Bytes ReadBytes(const std::filesystem::path& path);
// Writes `bytes` as the whole file, making its folder when missing.
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
bool Exists(const std::filesystem::path& path);

// Little-endian building blocks of byte images.
void PutU32(Bytes* out, uint32_t value);
// `text` as UTF-16LE in a zero-filled field of `units` code units.
void PutField(Bytes* out, const std::u16string& text, size_t units = 260);
// A type, then each text in a 260-unit field.
Bytes FieldsBytes(uint32_t type, std::initializer_list<std::u16string> fields);
Bytes DeviceRecordBytes(uint32_t type, const std::u16string& entry_id, const std::u16string& luid);
Bytes LogRecordBytes(uint32_t type, uint32_t kind, const std::u16string& entry_id);
Bytes SyncMLLogRecordBytes(uint32_t type, uint32_t kind, const std::u16string& entry_id,
                           const std::u16string& change_time = u"20260101T000000Z",
                           uint32_t change_number = 0);
Bytes Concat(std::initializer_list<Bytes> parts);
// A sync anchor {kind, time stamp, number}, and its 48 bytes as stored.
_SYNCML_SYNCANCHOR_RECORD MakeAnchor(uint32_t kind, const std::u16string& time,
                                     uint32_t number = 0);
Bytes AnchorBytes(uint32_t kind, const std::u16string& time, uint32_t number = 0);

// The interface's string type from a UTF-16 literal.
inline const ZS_WCHAR* W(const std::u16string& s) {
  return reinterpret_cast<const ZS_WCHAR*>(s.c_str());
}

}  // namespace testing
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_SUPPORT_SCRATCH_H
