// The platform backend of this build, against the real operating system
// (under Wine for the Windows build): files, folders, replace and copy, the
// temporary and application-data folders, the setting, text mode;
// and the text conversions the object formats take from it: the digits of
// _fcvt_s, UTF-8 loose and strict, and the ANSI code page.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <list>
#include <optional>
#include <limits>

#include "platform/fcvt_emulation.h"
#include "support/scratch.h"
#include "support/text_files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zelsync {
namespace testing {
namespace {

Env& Real() { return Env::Default(); }

class PlatformTest : public ::testing::Test {
 protected:
  ScratchFolder scratch_;
};

// Each file operation, through the Env the library uses: its status
// (nullopt: any failure) and one file afterwards (nullopt: absent). An
// atomic write that fails leaves the target as it was and no scratch file;
// a lock file stays. (Text mode shows in the vNote and buffer tests.)
TEST_F(PlatformTest, OperationsGiveTheirStatusesAndLeaveTheFiles) {
  Env& env = Real();
  const auto folder = scratch_.path();
  auto path = [&](const char* name) { return ToWide(folder / name); };
  const std::pair<const char*, Bytes> kFiles[] = {
      {"old.dat", {1, 2, 3}}, {"new.dat", {9}}, {"other.dat", {7, 7}}, {"state.txt", {'o', 'l', 'd'}}};
  for (const auto& [name, bytes] : kFiles) WriteBytes(folder / name, bytes);
  auto atomic = [&](const char* scratch) {
    return WriteFileAtomically(path("state.txt"), path(scratch), "new", 3) ? FsStatus::kOk : FsStatus::kOther;
  };
  auto lock = [&](const char* name) {
    FsStatus result = FsStatus::kOther;
    const bool held = env.LockFile(path(name), &result) != nullptr;
    EXPECT_EQ(held, result == FsStatus::kOk) << name;
    return result;
  };
  const std::optional<FsStatus> failed;
  const std::optional<Bytes> absent, state_old = Bytes{'o', 'l', 'd'}, state_new = Bytes{'n', 'e', 'w'};
  const struct {
    std::function<FsStatus()> run;
    std::optional<FsStatus> status;
    const char* file;  // nullptr: no file to look at
    std::optional<Bytes> bytes;
  } cases[] = {
      {[&] { return env.FindFile(path("old.dat")); }, FsStatus::kOk, "old.dat", Bytes{1, 2, 3}},
      {[&] { return env.FindFile(path("b.dat")); }, FsStatus::kNotFound, "b.dat", absent},
      {[&] { return env.FindFile(path("nofolder/b.dat")); }, FsStatus::kPathNotFound, "b.dat", absent},
      {[&] { return env.Stat(path("b.dat")); }, failed, "b.dat", absent},
      {[&] { return env.Stat(ToWide(folder)); }, FsStatus::kOk, nullptr, absent},
      {[&] { return env.MakeFolder(path("sub")); }, FsStatus::kOk, nullptr, absent},
      {[&] { return env.MakeFolder(path("sub")); }, FsStatus::kExists, nullptr, absent},
      {[&] {
         FsStatus s = FsStatus::kOk;
         return env.Open(path("b.dat"), OpenMode::kUpdateBinary, &s) ? FsStatus::kOk : s;  // a file, or why not
       },
       FsStatus::kNotFound, "b.dat", absent},
      // Copy keeps the source; Replace moves it over the target.
      {[&] { return env.Copy(path("new.dat"), path("old.dat")); }, FsStatus::kOk, "old.dat", Bytes{9}},
      {[&] { return env.FindFile(path("new.dat")); }, FsStatus::kOk, "new.dat", Bytes{9}},
      {[&] { return env.Replace(path("other.dat"), path("old.dat")); }, FsStatus::kOk, "old.dat", Bytes{7, 7}},
      {[&] { return env.FindFile(path("other.dat")); }, FsStatus::kNotFound, "other.dat", absent},
      {[&] { return env.Replace(path("other.dat"), path("old.dat")); }, failed, "old.dat", Bytes{7, 7}},
      {[&] { return env.Copy(path("missing"), path("old.dat")); }, failed, "old.dat", Bytes{7, 7}},
      // (A failure at each step of an atomic write: the local store's tests.)
      {[&] { return atomic("nofolder/state.tmp"); }, failed, "state.txt", state_old},
      {[&] { return atomic("state.tmp"); }, FsStatus::kOk, "state.txt", state_new},
      {[&] { return lock("state.lock"); }, FsStatus::kOk, "state.lock", Bytes{}},
      {[&] { return lock("state.lock"); }, FsStatus::kOk, "state.lock", Bytes{}},  // released with the object
      {[&] { return lock("nofolder/state.lock"); }, failed, "nofolder", absent}};
  for (const auto& c : cases) {
    const auto row = &c - cases;
    const FsStatus result = c.run();
    EXPECT_TRUE(c.status ? result == *c.status : result != FsStatus::kOk)
        << row << ": status " << static_cast<int>(result);
    if (c.file) {
      EXPECT_EQ(c.bytes, Exists(folder / c.file) ? std::optional<Bytes>(ReadBytes(folder / c.file)) : absent) << row;
    }
    EXPECT_FALSE(Exists(folder / "state.tmp")) << row;
  }
}

// Text both ways; ill-formed input becomes replacement characters.
TEST(Utf8Conversion, BothWaysAndReplacement) {
  EXPECT_EQ("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac\xf0\x9f\x98\x80", Utf16ToUtf8(u"Gr\u00fc\u00dfe \u20ac\U0001F600"));
  EXPECT_EQ(u"Gr\u00fc\u00dfe \u20ac\U0001F600", Utf8ToUtf16("Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac\xf0\x9f\x98\x80"));
  EXPECT_EQ("a\xef\xbf\xbd" "b\xef\xbf\xbd", Utf16ToUtf8(std::u16string{u'a', 0xD800, u'b', 0xDC00}));
  EXPECT_EQ((std::u16string{u'a', 0xFFFD, u'b'}), Utf8ToUtf16("a\xff" "b"));
  EXPECT_EQ((std::u16string{0xFFFD, 0xFFFD}), Utf8ToUtf16("\xc0\xaf"));  // overlong
}

// The emulation, on every build: 17 significant digits, then "0", and at
// most 100 fraction digits. The platform's own digits agree wherever the
// value is exact.
TEST(Fcvt, GivesTheRuntimeDigits) {
  const struct {
    double value;
    std::string digits;
    bool exact;
    int fraction_digits = 14;
  } cases[] = {{39448.5, "3944850000000000000", true}, {-39448.5, "3944850000000000000", true},
               {0.0, "", true}, {1e-20, "", true}, {45292.541666666664, "4529254166666666400", false},
               {123456789.123456789, "12345678912345679000000", false}, {1e20, "1" + std::string(34, '0'), false},
               {0.001, "100000000000", false}, {39448.5, "39449", false, 0},
               // Rounding carries into a new leading digit.
               {0.999999999999995, "100000000000000", false}, {6e-15, "1", false}, {4e-15, "", false},
               {std::numeric_limits<double>::infinity(), "", false}, {std::nan(""), "", false},
               {39448.5, "394485" + std::string(99, '0'), false, 1000}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.digits, FcvtDigitsEmulated(c.value, c.fraction_digits)) << c.value;
    if (c.exact) {
      EXPECT_EQ(c.digits, FcvtDigits(c.value, c.fraction_digits)) << c.value;
    }
  }
}

TEST(Utf8ToUtf16Strict, RefusesIllFormedText) {
  WString out = u"kept";
  for (const char* bad : {"caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80"}) {
    EXPECT_FALSE(Utf8ToUtf16Strict(bad, &out)) << bad;
    EXPECT_EQ(u"kept", out);
  }
  EXPECT_TRUE(Utf8ToUtf16Strict("caf\xc3\xa9 \xe2\x82\xac\xef\xbf\xbd", &out));
  EXPECT_EQ(u"caf\u00e9 \u20ac\ufffd", out);
}

TEST(AnsiToUtf16, ReadsWindows1252) {
  EXPECT_EQ(u"caf\u00e9 \u20ac\u0081\u0178\u00ff", AnsiToUtf16("caf\xe9 \x80\x81\x9f\xff"));
  EXPECT_EQ(WString(u"a\0b", 3), AnsiToUtf16(std::string("a\0b", 3)));
}

#ifdef _WIN32

TEST(Win32Platform, ApplicationDataAndTemporaryFoldersExist) {
  WString appdata, temp;
  ASSERT_TRUE(Real().LocalAppDataFolder(&appdata));
  EXPECT_EQ(FsStatus::kOk, Real().Stat(appdata));
  ASSERT_TRUE(Real().TempFolder(&temp));
  EXPECT_EQ(u'\\', temp.back());
  EXPECT_EQ(u"D:\\", Real().FallbackRoot());
}

TEST(Win32Platform, MailAttachmentComesFromTheRegistry) {
  const wchar_t* key_path = L"SOFTWARE\\Tolvane\\Default\\PIMSettings";
  HKEY key;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr));
  RegDeleteValueW(key, L"MailAttachment");
  EXPECT_EQ(0u, Real().MailAttachmentSetting());
  DWORD one = 1;
  RegSetValueExW(key, L"MailAttachment", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one);
  EXPECT_EQ(1u, Real().MailAttachmentSetting());
  RegSetValueExW(key, L"MailAttachment", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 4);
  EXPECT_EQ(0u, Real().MailAttachmentSetting());
  RegDeleteValueW(key, L"MailAttachment");
  RegCloseKey(key);
}

#else

// Environment variables set for one test and put back afterwards.
class PosixPlatformTest : public PlatformTest {
 protected:
  void Set(const char* name, const char* value) { saved_.emplace_back(name, value); }
  ~PosixPlatformTest() override {
    while (!saved_.empty()) saved_.pop_back();  // the last set first
  }
  std::list<ScopedVariable> saved_;
};

// A file name another program gave, which need not be UTF-8, goes through a
// wide path and back to the same bytes; UTF-8 names are plain UTF-16.
TEST(PosixPaths, BytesRoundTripThroughWidePaths) {
  for (const std::string& bytes : {std::string("/latin1/K\xE4se.txt"), std::string("/cut/\xE2\x82"),
                                  std::string("/surrogate/\xED\xA0\x80")})
    EXPECT_EQ(bytes, NativePath(PathFromNative(bytes))) << bytes;
  EXPECT_EQ(u"/K\u00e4se", PathFromNative("/K\xC3\xA4se"));
  EXPECT_EQ(u"/K\xDCE4se", PathFromNative("/K\xE4se"));
}

TEST_F(PosixPlatformTest, ApplicationDataFollowsXdgThenHome) {
  Set("XDG_DATA_HOME", (scratch_.path() / "data/home/").c_str());
  WString folder;
  ASSERT_TRUE(Real().LocalAppDataFolder(&folder));
  EXPECT_EQ(ToWide(scratch_.path() / "data/home"), folder);
  Set("XDG_DATA_HOME", "relative/path");
  Set("HOME", scratch_.path().c_str());
  ASSERT_TRUE(Real().LocalAppDataFolder(&folder));
  EXPECT_EQ(ToWide(scratch_.path() / ".local/share"), folder);
  // Made on a fresh account, as the shell makes it on Windows.
  EXPECT_TRUE(std::filesystem::is_directory(scratch_.path() / ".local/share"));
  Set("HOME", nullptr);
  EXPECT_FALSE(Real().LocalAppDataFolder(&folder));
  EXPECT_EQ(u"/", Real().FallbackRoot());
}

TEST_F(PosixPlatformTest, TemporaryFolderIsPrivateAndRefusedOtherwise) {
  Set("XDG_RUNTIME_DIR", nullptr);
  Set("TMPDIR", scratch_.path().c_str());
  WString temp;
  ASSERT_TRUE(Real().TempFolder(&temp));
  EXPECT_EQ(u'/', temp.back());
  std::string folder = Utf16ToUtf8(temp);
  folder.pop_back();
  struct stat st;
  ASSERT_EQ(0, lstat(folder.c_str(), &st));
  EXPECT_EQ(0700u, st.st_mode & 0777);
  chmod(folder.c_str(), 0755);
  EXPECT_FALSE(Real().TempFolder(&temp));
  rmdir(folder.c_str());
  ASSERT_EQ(0, symlink(scratch_.path().c_str(), folder.c_str()));
  EXPECT_FALSE(Real().TempFolder(&temp));
  unlink(folder.c_str());
  Set("XDG_RUNTIME_DIR", scratch_.path().c_str());
  ASSERT_TRUE(Real().TempFolder(&temp));
  EXPECT_EQ(ToWide(scratch_.path() / "zelsync/"), temp);
}

// What a killed process left in the library's own folder goes once it is
// old enough that no running session can own it; a file moved in with an
// old modification time is as young as its arrival; folders stay.
TEST_F(PosixPlatformTest, TemporaryFolderDropsOldLeftoversOnFirstUse) {
  const std::filesystem::path run = scratch_.path() / "run", folder = run / "zelsync";
  std::filesystem::create_directories(folder / "old-folder");
  chmod(folder.c_str(), 0700);
  for (const char* name : {"moved-in.vcf", "young.vcf"})
    std::ofstream(folder / name) << "BEGIN:VCARD";
  const auto hour_ago = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
  std::filesystem::last_write_time(folder / "moved-in.vcf", hour_ago);
  std::filesystem::last_write_time(folder / "old-folder", hour_ago);
  Set("XDG_RUNTIME_DIR", run.c_str());
  WString temp;
  ASSERT_TRUE(Real().TempFolder(&temp));
  EXPECT_EQ((std::set<std::string>{"moved-in.vcf", "old-folder", "young.vcf"}), FileNames(folder));
  // Eleven minutes on, both files are leftovers.
  RemoveOldFiles(folder.string(), time(nullptr) + 11 * 60);
  EXPECT_EQ(std::set<std::string>{"old-folder"}, FileNames(folder));
}

TEST_F(PosixPlatformTest, MailAttachmentComesFromTheSettingsFile) {
  Set("XDG_CONFIG_HOME", scratch_.path().c_str());
  EXPECT_EQ(0u, Real().MailAttachmentSetting());
  const std::pair<std::string, uint32_t> cases[] = {
      {"Other=5\r\nMailAttachment=7\r\n", 7}, {"MailAttachment=x\n", 0}, {"MailAttachment=99999999999\n", 0}};
  for (const auto& [text, value] : cases) {
    WriteText(scratch_.path() / "Tolvane/Default/PIMSettings", text);
    EXPECT_EQ(value, Real().MailAttachmentSetting()) << text;
  }
}

#endif

}  // namespace
}  // namespace testing
}  // namespace zelsync
