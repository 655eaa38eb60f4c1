// The host's session driver against a library that misbehaves, which only a
// fake can show, and the host's private scratch folder; the end-to-end
// scripts drive the real library.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <type_traits>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "host_temp.h"
#include "phone.h"
#include "session.h"
#include "support/scratch.h"
#include "support/text_files.h"

namespace zelsync_tool {
namespace {
namespace fs = std::filesystem;

constexpr auto& WriteAll = zelsync::testing::WriteText;
constexpr auto& ReadAll = zelsync::testing::ReadText;

// Every file under `folder` with its text.
std::map<fs::path, std::string> FolderImage(const fs::path& folder) {
  std::map<fs::path, std::string> image;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) image[entry.path()] = ReadAll(entry.path());
  return image;
}

// An export that succeeds and writes nothing.
template <typename F>
struct Succeeds;
template <typename R, typename... A>
struct Succeeds<R (*)(A...)> {
  static R Call(A...) { return static_cast<R>(std::is_void_v<R> ? 0 : 1); }
};

// A library with nothing to hand over, whose every export succeeds.
class MisbehavingLibraryTest : public ::testing::TestWithParam<Road> {
 protected:
  MisbehavingLibraryTest() {
#define ZELSYNC_TEST_SUCCEEDS(name) e_.name = &Succeeds<decltype(e_.name)>::Call;
    ZELSYNC_TOOL_EXPORTS(ZELSYNC_TEST_SUCCEEDS)
#undef ZELSYNC_TEST_SUCCEEDS
    e_.IsDeviceIDKnown = [] { return 0; };
    e_.SyncMLGetLastSyncAnchor = [](uint64_t, _SYNCML_SYNCANCHOR_RECORD*) { return 0; };
    e_.GetModifiedRecord = e_.SyncMLGetModifiedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, ZS_WCHAR*,
                                                           ZS_WCHAR*) { return 0; };
    e_.GetDeletedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, int32_t*) { return 0; };
    e_.SyncMLGetDeletedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, ZS_WCHAR*, int32_t*) { return 0; };
    e_.GetNewRecord = e_.SyncMLGetNewRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, ZS_WCHAR*) { return 0; };
  }
  SessionReport Run() {
    Phone phone;
    std::string error;
    EXPECT_TRUE(Phone::Open(scratch_.path() / "phone", &phone, &error)) << error;
    phone.NoticeNewFiles();
    phone.device_id = "dev";
    phone.address = "0002a1b2c3d4";
    SessionOptions options;
    options.road = GetParam();
    options.anchor_time = "20260101T000000Z";
    SessionReport report = RunSession(e_, &phone, options, fs::path());
    EXPECT_TRUE(phone.Save(&error)) << error;
    phone_items_ = phone.items().size();
    return report;
  }
  zelsync::testing::ScratchFolder scratch_;
  Exports e_;
  size_t phone_items_ = 0;
};

// A creation refused when nothing else reached the PC may have met a store
// out of reach: it is offered again. One whose text explains the refusal
// (an empty file) waits until it changes, and each session tells of it.
TEST_P(MisbehavingLibraryTest, AnUnexplainedRefusalIsOfferedAgainWhenNothingElseWentThrough) {
  e_.CreateNewRecord = e_.SyncMLCreateNewRecord = [](_SYNC_OBJECT_TYPE, const ZS_WCHAR*,
                                                     const ZS_WCHAR*) { return 0; };
  WriteAll(scratch_.path() / "phone" / "contacts" / "later.vcf", "BEGIN:VCARD\r\nFN:Later\r\nEND:VCARD\r\n");
  WriteAll(scratch_.path() / "phone" / "contacts" / "empty.vcf", "");
  EXPECT_EQ(Run().counts.at(2).failed, 2);
  const SessionReport next = Run();
  EXPECT_EQ(next.counts.at(2).failed, 1) << ReportToText(next, true);
  EXPECT_EQ(std::count_if(next.notes.begin(), next.notes.end(),
                          [](const std::string& note) { return note.find("sync --retry") != std::string::npos; }),
            1);
}

INSTANTIATE_TEST_SUITE_P(Roads, MisbehavingLibraryTest,
                         ::testing::Values(Road::kIrmc, Road::kSyncML),
                         [](const ::testing::TestParamInfo<Road>& info) {
                           return std::string(RoadName(info.param));
                         });

// What the phone committed object by object, erasures in the middle of its
// list included, is what it opens with after a kill, and the commits after
// the first leave the state file alone. A last line the kill cut short does
// not count, nor does a log left from an older state file.
TEST(PhoneState, CommitsOutlastAKill) {
  zelsync::testing::ScratchFolder scratch;
  const fs::path folder = scratch.path() / "phone";
  for (const char* name : {"a", "b", "c", "d"})
    WriteAll(folder / "notes" / (std::string(name) + ".vnt"), name);
  WriteAll(scratch.path() / "pc.vnt", "PC");
  const auto image = [](const Phone& phone) {
    std::string text = phone.anchor ? phone.anchor->time : "-";
    for (const PhoneItem& item : phone.items())
      text += " " + item.luid + ":" + item.file + ":" + item.hash.value_or("-") + ":" +
              item.refused_reason;
    return text;
  };
  Phone phone, reopened;
  std::string error;
  ASSERT_TRUE(Phone::Open(folder, &phone, &error)) << error;
  phone.NoticeNewFiles();
  ASSERT_TRUE(phone.Commit(&error)) << error;
  const std::string state = ReadAll(folder / kPhoneStateFile);
  bool own = false;
  for (const PhoneChange& change : phone.PendingChanges()) {
    if (change.file == "notes/d.vnt") phone.MarkRefused(change, "ffff", "empty");
    if (change.file != "notes/d.vnt") phone.MarkDelivered(change);
    ASSERT_TRUE(phone.Commit(&error)) << error;
  }
  ASSERT_TRUE(phone.ReceiveDeletion(1, phone.items()[1].luid, &own));
  ASSERT_TRUE(phone.Commit(&error)) << error;
  ASSERT_TRUE(phone.ReceiveChange(1, phone.items()[0].luid, scratch.path() / "pc.vnt", &own));
  ASSERT_FALSE(phone.ReceiveNew(1, scratch.path() / "pc.vnt").empty());
  phone.anchor = PhoneAnchor{1, "20260101T000000Z", 0};
  ASSERT_TRUE(phone.Commit(&error)) << error;
  EXPECT_EQ(ReadAll(folder / kPhoneStateFile), state);
  const std::string committed = image(phone), log = ReadAll(folder / kPhoneCommitLog);
  WriteAll(folder / kPhoneCommitLog, log + "{\"erased\":[[\"note\",\"1\"]]}");
  ASSERT_TRUE(Phone::Open(folder, &reopened, &error)) << error;
  EXPECT_EQ(image(reopened), committed);
  ASSERT_TRUE(reopened.Save(&error)) << error;
  EXPECT_FALSE(fs::exists(folder / kPhoneCommitLog));
  WriteAll(folder / kPhoneCommitLog, log + "{\"erased\":[[\"note\",\"1\"]]}\n");
  ASSERT_TRUE(Phone::Open(folder, &reopened, &error)) << error;
  EXPECT_EQ(image(reopened), committed);
}

// A change the phone cannot write (here: its source is gone) leaves the
// object as it was, also when the change would rename its file. An undo
// that fails part way (here: the state file cannot be replaced) is marked,
// so that the next session finishes it rather than keep the phone half put
// back. The undo puts back the objects as they were, also one the session
// replaced.
TEST(PhoneState, AFailedChangeLeavesTheObjectAndAnUndoCutShortIsMarked) {
  zelsync::testing::ScratchFolder scratch;
  WriteAll(scratch.path() / "calendar" / "a.vcs", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  WriteAll(scratch.path() / "notes" / "a.vnt", "A");
  WriteAll(scratch.path() / "notes" / "b.vnt", "B");
  WriteAll(scratch.path() / "pc.vnt", "PC");
  Phone phone;
  std::string error;
  ASSERT_TRUE(Phone::Open(scratch.path(), &phone, &error));
  phone.NoticeNewFiles();
  for (const PhoneChange& change : phone.PendingChanges()) phone.MarkDelivered(change);
  ASSERT_TRUE(phone.Save(&error)) << error;
  ASSERT_TRUE(phone.BeginJournal(&error)) << error;
  const auto before = FolderImage(scratch.path());
  bool own = false;
  for (const char* source : {"gone.vcs", "gone.ics"}) {
    EXPECT_FALSE(phone.ReceiveChange(3, phone.items()[0].luid, scratch.path() / source, &own));
    EXPECT_EQ(FolderImage(scratch.path()), before) << source;
    EXPECT_TRUE(phone.PendingChanges().empty()) << source;
  }
  ASSERT_TRUE(phone.ReceiveChange(1, phone.items()[2].luid, scratch.path() / "pc.vnt", &own));
  fs::remove(scratch.path() / "notes" / "a.vnt");
  fs::remove(scratch.path() / kPhoneStateFile);
  fs::create_directory(scratch.path() / kPhoneStateFile);
  EXPECT_FALSE(phone.UndoJournal(&error));
  EXPECT_TRUE(phone.UndoBegun());
  fs::remove(scratch.path() / kPhoneStateFile);
  ASSERT_TRUE(phone.UndoJournal(&error)) << error;
  EXPECT_FALSE(phone.UndoBegun());
  EXPECT_FALSE(phone.HasJournal());
  EXPECT_EQ(ReadAll(scratch.path() / "notes" / "a.vnt"), "A");
  EXPECT_EQ(ReadAll(scratch.path() / "notes" / "b.vnt"), "B");
}

#ifndef _WIN32
// The folder the phone's files pass through is closed to others from the
// start, its copies are the user's alone, and it goes with the session.
// Folders a dead host left behind are removed; a running host's, and
// folders of other names, are not.
TEST(HostTempFolder, PrivateGoneAfterwardsAndStaleOnesCleared) {
  zelsync::testing::ScratchFolder scratch;
  zelsync::testing::ScopedVariable runtime("XDG_RUNTIME_DIR", scratch.path().c_str());
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
  WriteAll(scratch.path() / "phone.vcf", "BEGIN:VCARD\r\nEND:VCARD\r\n");
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
}
#endif

}  // namespace
}  // namespace zelsync_tool
