// The host's session driver against a library that misbehaves, which only a
// fake can show, and the host's private scratch folder; the end-to-end
// scripts drive the real library.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <type_traits>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "file_util.h"
#include "host_temp.h"
#include "phone.h"
#include "session.h"
#include "support/scratch.h"
#include "text.h"

namespace zelsync_tool {
namespace {
namespace fs = std::filesystem;

// An export that succeeds and writes nothing.
template <typename F>
struct Succeeds;
template <typename R, typename... A>
struct Succeeds<R (*)(A...)> {
  static R Call(A...) { return static_cast<R>(std::is_void_v<R> ? 0 : 1); }
};

fs::path pc_temp;
int new_record_calls = 0;

void ToWide(ZS_WCHAR* buffer, const std::string& text) {
  const std::u16string wide = Utf8ToUtf16(text);
  for (size_t i = 0; i <= wide.size(); ++i)
    buffer[i] = i < wide.size() ? static_cast<ZS_WCHAR>(wide[i]) : 0;
}

// Hands out the same new contact every time it is asked.
int GetNewRepeating(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entry, ZS_WCHAR* path) {
  if (type != 2) return 0;
  ++new_record_calls;
  const fs::path file = pc_temp / "E1.vcf";
  std::ofstream(file, std::ios::binary)
      << "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Alice\r\nEND:VCARD\r\n";
  ToWide(entry, "E1");
  ToWide(path, PathToUtf8(file));
  return 1;
}

class MisbehavingLibraryTest : public ::testing::TestWithParam<Road> {};

// The host asks again only until the library repeats itself: the phone gets
// the item once, and the session reports the fault instead of looping.
TEST_P(MisbehavingLibraryTest, ALibraryThatRepeatsANewItemIsStopped) {
  zelsync::testing::ScratchFolder scratch;
  pc_temp = scratch.path() / "pc-temp";
  fs::create_directories(pc_temp);
  new_record_calls = 0;
  Exports e;
#define ZELSYNC_TEST_SUCCEEDS(name) e.name = &Succeeds<decltype(e.name)>::Call;
  ZELSYNC_TOOL_EXPORTS(ZELSYNC_TEST_SUCCEEDS)
#undef ZELSYNC_TEST_SUCCEEDS
  e.IsDeviceIDKnown = [] { return 0; };
  e.SyncMLGetLastSyncAnchor = [](uint64_t, _SYNCML_SYNCANCHOR_RECORD*) { return 0; };
  e.GetModifiedRecord = e.SyncMLGetModifiedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, ZS_WCHAR*,
                                                       ZS_WCHAR*) { return 0; };
  e.GetDeletedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, int32_t*) { return 0; };
  e.SyncMLGetDeletedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, ZS_WCHAR*, int32_t*) { return 0; };
  e.GetNewRecord = e.SyncMLGetNewRecord = GetNewRepeating;

  Phone phone;
  std::string error;
  ASSERT_TRUE(Phone::Open(scratch.path() / "phone", &phone, &error)) << error;
  phone.device_id = "dev";
  phone.address = "0002a1b2c3d4";
  SessionOptions options;
  options.road = GetParam();
  options.anchor_time = "20260101T000000Z";
  const SessionReport report = RunSession(e, &phone, options, fs::path());
  EXPECT_TRUE(report.failed()) << ReportToText(report, true);
  EXPECT_EQ(report.counts.at(2).sent, 1);
  EXPECT_EQ(report.counts.at(2).failed, 1);
  EXPECT_EQ(new_record_calls, 2);
  EXPECT_EQ(phone.items().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Roads, MisbehavingLibraryTest,
                         ::testing::Values(Road::kIrmc, Road::kSyncML),
                         [](const ::testing::TestParamInfo<Road>& info) {
                           return std::string(RoadName(info.param));
                         });

#ifndef _WIN32
// The folder the phone's files pass through is closed to others from the
// start, its copies are the user's alone, and it goes with the session.
// Folders a dead host left behind are removed; a running host's, and
// folders of other names, are not.
TEST(HostTempFolder, PrivateGoneAfterwardsAndStaleOnesCleared) {
  zelsync::testing::ScratchFolder scratch;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", scratch.path().c_str(), 1);
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  // A folder's name, and whether it stays.
  const std::pair<std::string, bool> folders[] = {
      {"zelsync-host-" + std::to_string(gone) + "-0000abcd", false},
      {"zelsync-host-" + std::to_string(getppid()) + "-0000abcd", true},
      {"zelsync-host-" + std::to_string(gone), true},
      {"zelsync-hostile-" + std::to_string(gone) + "-1", true}};
  for (const auto& [name, kept] : folders) fs::create_directories(scratch.path() / name / "inner");
  std::ofstream(scratch.path() / "phone.vcf") << "BEGIN:VCARD\r\nEND:VCARD\r\n";
  fs::path made;
  {
    HostTempFolder temp;
    made = temp.path();
    ASSERT_EQ(made.parent_path(), scratch.path());
    EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all);
    ASSERT_TRUE(temp.CopyIn(scratch.path() / "phone.vcf", made / "copy.vcf"));
    EXPECT_EQ(fs::status(made / "copy.vcf").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    for (const auto& [name, kept] : folders)
      EXPECT_EQ(fs::exists(scratch.path() / name), kept) << name;
  }
  EXPECT_FALSE(fs::exists(made));
  if (old)
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
}
#endif

}  // namespace
}  // namespace zelsync_tool
