#include "support/scratch.h"

#include <atomic>
#include <chrono>

#include "store/session.h"
#include "store/wide.h"
#include "support/text_files.h"

namespace zelsync {
namespace testing {
namespace fs = std::filesystem;

WString ToWide(const fs::path& path) {
#ifdef _WIN32
  return path.u16string();
#else
  return Utf8ToUtf16(path.string());
#endif
}

ScratchFolder::ScratchFolder() {
  static std::atomic<int> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = fs::temp_directory_path() /
          ("zelsync-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

namespace {
// A file whose reads, writes, flushes, syncs and truncations can be made to fail.
class FaultFile : public File {
 public:
  FaultFile(std::unique_ptr<File> file, TestEnv& env, const WString& path)
      : file_(std::move(file)), env_(env), path_(path) {}
  size_t Read(void* buffer, size_t size) override {
    return Fails("Read") ? 0 : file_->Read(buffer, size);
  }
  size_t Write(const void* data, size_t n) override {
    return Fails("Write") ? 0 : file_->Write(data, n);
  }
  bool Seek(int64_t offset, SeekFrom from) override { return file_->Seek(offset, from); }
  int64_t Tell() override { return file_->Tell(); }
  bool Flush() override { return !Fails("Flush") && file_->Flush(); }
  bool Sync() override { return !Fails("Sync") && file_->Sync(); }
  bool Truncate(int64_t size) override { return !Fails("Truncate") && file_->Truncate(size); }

 private:
  bool Fails(const char* operation) { return env_.ShouldFail(operation, path_); }
  std::unique_ptr<File> file_;
  TestEnv& env_;
  const WString path_;
};
}  // namespace

TestEnv::TestEnv(const fs::path& appdata, const fs::path& temp)
    : EnvWrapper(Env::Default()), appdata_(appdata), temp_(temp) {
  fs::create_directories(appdata_);
  fs::create_directories(temp_);
  // A root that exists but holds no sync folder, so tests of the fallback
  // never touch the real file system's root.
  fallback_ = ToWide(appdata_.parent_path() / "fallback-root");
  fallback_.push_back(kPathSeparator);
}

void TestEnv::FailNth(const std::string& operation, int n, const std::string& part) {
  rules_.push_back({operation, Utf8ToUtf16(part), n});
}

// Every rule sees the calls of its operation on its paths, counted from
// when the rule was made.
bool TestEnv::ShouldFail(const std::string& operation, const WString& path, const WString& other) {
  bool fail = false;
  for (Rule& rule : rules_) {
    if (rule.operation != operation ||
        (path.find(rule.part) == WString::npos && other.find(rule.part) == WString::npos))
      continue;
    ++rule.seen;
    fail = fail || rule.n == 0 || rule.n == rule.seen;
  }
  return fail;
}

std::unique_ptr<File> TestEnv::Open(const WString& path, OpenMode mode, FsStatus* status) {
  if (ShouldFail("Open", path)) {
    if (status) *status = FsStatus::kOther;
    return nullptr;
  }
  auto file = EnvWrapper::Open(path, mode, status);
  return file ? std::make_unique<FaultFile>(std::move(file), *this, path) : nullptr;
}

bool TestEnv::LocalAppDataFolder(WString* folder) {
  if (!appdata_known_) return false;
  *folder = ToWide(appdata_);
  return true;
}

bool TestEnv::TempFolder(WString* folder) {
  *folder = ToWide(temp_);
  folder->push_back(kPathSeparator);
  return true;
}

LibraryTest::LibraryTest()
    : env_(scratch_.path() / "appdata", scratch_.path() / "temp"), scoped_(env_) {
  ResetSession();
}

LibraryTest::~LibraryTest() { ResetSession(); }

Bytes ReadBytes(const fs::path& path) {
  const std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  WriteText(path, std::string(bytes.begin(), bytes.end()));
}

bool Exists(const fs::path& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

std::set<std::string> FileNames(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

void PutU32(Bytes* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<unsigned char>(value >> (8 * i)));
}

void PutField(Bytes* out, const std::u16string& text, size_t units) {
  for (size_t i = 0; i < units; ++i) {
    const char16_t unit = i < text.size() ? text[i] : 0;
    out->insert(out->end(),
                {static_cast<unsigned char>(unit & 0xFF), static_cast<unsigned char>(unit >> 8)});
  }
}

Bytes FieldsBytes(uint32_t type, std::initializer_list<std::u16string> fields) {
  Bytes out;
  PutU32(&out, type);
  for (const std::u16string& field : fields) PutField(&out, field);
  return out;
}

Bytes DeviceRecordBytes(uint32_t type, const std::u16string& entry_id, const std::u16string& luid) {
  return FieldsBytes(type, {entry_id, luid});
}

Bytes LogRecordBytes(uint32_t type, uint32_t kind, const std::u16string& entry_id) {
  Bytes out;
  PutU32(&out, type), PutU32(&out, kind), PutField(&out, entry_id);
  return out;
}

Bytes SyncMLLogRecordBytes(uint32_t type, uint32_t kind, const std::u16string& entry_id,
                           const std::u16string& change_time, uint32_t change_number) {
  Bytes out = LogRecordBytes(type, kind, entry_id);
  PutField(&out, change_time, 20), PutU32(&out, change_number);
  return out;
}

_SYNCML_SYNCANCHOR_RECORD MakeAnchor(uint32_t kind, const std::u16string& time, uint32_t number) {
  _SYNCML_SYNCANCHOR_RECORD anchor{};
  anchor.AnchorKind = kind;
  CopyBounded(reinterpret_cast<char16_t*>(anchor.TimeAnchor), 20, time);
  anchor.NumericAnchor = number;
  return anchor;
}

Bytes AnchorBytes(uint32_t kind, const std::u16string& time, uint32_t number) {
  Bytes out;
  PutU32(&out, kind), PutField(&out, time, 20), PutU32(&out, number);
  return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace testing
}  // namespace zelsync
