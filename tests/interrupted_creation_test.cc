// A process killed between a new item appearing in the local store and the
// record that ties the device's LUID to it: the next call of the scheme
// (or the rollback of the SyncML session) finishes or undoes the work, so
// the LUID names exactly one item and no item goes back to the device as
// new. The kill is real: the creation runs in a child process that ends at
// a chosen file access.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "store/session.h"
#include "support/scratch.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kAddress = 0x0011223344aaULL;
constexpr int kKilled = 42;

const char kCard[] = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Ann\r\nFN:Ann Lee\r\nEND:VCARD\r\n";
const char kEdited[] = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Lee;Anna\r\nFN:Anna Lee\r\nEND:VCARD\r\n";

// Ends the process, as a kill would, at the first opening of a file whose
// name ends with `suffix` while the store's contacts folder holds `items`
// contacts.
class KillingEnv : public EnvWrapper {
 public:
  KillingEnv(Env& target, fs::path contacts, std::string suffix, size_t items)
      : EnvWrapper(target),
        contacts_(std::move(contacts)),
        suffix_(std::move(suffix)),
        items_(items) {}

  std::unique_ptr<File> Open(const WString& path, OpenMode mode, FsStatus* status) override {
    const std::string name = Utf16ToUtf8(path);
    if (name.size() >= suffix_.size() &&
        name.compare(name.size() - suffix_.size(), suffix_.size(), suffix_) == 0 &&
        Contacts(contacts_).size() == items_) {
      _exit(kKilled);
    }
    return EnvWrapper::Open(path, mode, status);
  }

  // The stems of the contact files in `folder` (scratch files left out).
  static std::vector<std::string> Contacts(const fs::path& folder) {
    std::vector<std::string> stems;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
      const fs::path name = entry.path().filename();
      if (name.extension() == ".vcf" && name.string()[0] != '.')
        stems.push_back(name.stem().string());
    }
    return stems;
  }

 private:
  fs::path contacts_;
  std::string suffix_;
  size_t items_;
};

struct KillCase {
  const char* name;
  bool syncml;
  bool update;          // an update of the LUID's item, else a creation
  const char* kill_at;  // the file whose opening ends the process
  size_t items_then;    // the contacts the store holds at that moment
  size_t items_after;   // the contacts left once the next call is done
};

class InterruptedCreationTest : public LibraryTest, public ::testing::WithParamInterface<KillCase> {
 protected:
  fs::path Root() const { return scratch_.path() / "store"; }
  std::vector<std::string> Contacts() const { return KillingEnv::Contacts(Root() / "contacts"); }

  WString Received(const char* text) {
    const fs::path path = scratch_.path() / "received.vcf";
    std::ofstream(path, std::ios::binary) << text;
    return ToWide(path);
  }

  // Selects the device of the scheme, as a session starts.
  void Select(bool syncml) {
    if (syncml) {
      ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, MakeAnchor(1, u"20260102T000000Z")));
    } else {
      ASSERT_EQ(1, ::SetDeviceIDDatabaseID(W(u"D1"), W(u"DB")));
    }
  }

  fs::path Database(bool syncml) const {
    return InSync(syncml ? "0011223344aa_SyncMLDB.DAT" : "D1_DB.DAT");
  }
  Bytes Header(bool syncml) const {
    return syncml ? AnchorBytes(1, u"20260102T000000Z") : Bytes(4, 0);
  }

  // Runs `call` in a child process that `env` ends; true when it was ended
  // there, not before or after.
  bool KilledDuring(const std::function<void()>& call, const char* suffix, size_t items) {
    const pid_t child = fork();
    if (child == 0) {
      KillingEnv killing(Env::Current(), Root() / "contacts", suffix, items);
      ScopedEnv scoped(killing);
      call();
      _exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == kKilled;
  }

  // The store in the scratch folder for the test's lifetime.
  struct StoreRoot {
    explicit StoreRoot(const fs::path& root) { setenv("ZELSYNC_STORE", root.c_str(), 1); }
    ~StoreRoot() { unsetenv("ZELSYNC_STORE"); }
  } store_{Root()};
};

TEST_P(InterruptedCreationTest, LeavesOneItemForTheLuid) {
  const KillCase& c = GetParam();
  Select(c.syncml);
  WString old_id;
  if (c.update) {
    // The item the device's L1 names, from a completed creation.
    ASSERT_EQ(1, c.syncml
                     ? ::SyncMLCreateNewRecord(SYNC_OBJECT_CONTACT, W(Received(kCard)), W(u"L1"))
                     : ::CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received(kCard))));
    ASSERT_EQ(1u, Contacts().size());
    old_id = u"contacts/" + Utf8ToUtf16(Contacts()[0]);
  }
  if (c.syncml) {
    ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  }
  const Bytes before = Exists(Database(c.syncml)) ? ReadBytes(Database(c.syncml)) : Bytes();
  const WString file = Received(c.update ? kEdited : kCard);
  const bool killed = KilledDuring(
      [&] {
        if (c.update) {
          c.syncml ? ::SyncMLUpdateRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(file))
                   : ::UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(file));
        } else {
          c.syncml ? ::SyncMLCreateNewRecord(SYNC_OBJECT_CONTACT, W(file), W(u"L1"))
                   : ::CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(file));
        }
      },
      c.kill_at, c.items_then);
  ASSERT_TRUE(killed) << "the call never reached " << c.kill_at;

  // A new process: a SyncML session is rolled back; the IrMC phone sends
  // its object again.
  ResetSession();
  if (c.syncml) {
    ASSERT_EQ(1, ::SyncMLRestoreDBFiles(kAddress));
  } else {
    Select(false);
    const WString again = Received(c.update ? kEdited : kCard);
    ASSERT_EQ(1, c.update ? ::UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(again))
                          : ::CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(again)));
  }
  const std::vector<std::string> left = Contacts();
  ASSERT_EQ(c.items_after, left.size());
  if (left.empty()) {
    EXPECT_EQ(before, ReadBytes(Database(c.syncml)));  // the creation rolled back
  } else {
    const WString id = u"contacts/" + Utf8ToUtf16(left[0]);
    if (c.update) {
      EXPECT_NE(old_id, id);  // the device's version replaced the old one
    }
    EXPECT_EQ(Concat({Header(c.syncml), DeviceRecordBytes(SYNC_OBJECT_CONTACT, id, u"L1")}),
              ReadBytes(Database(c.syncml)));
  }
  for (const char* pending : {"D1_DB_PendingChange.DAT", "0011223344aa_SyncMLPendingChange.DAT"}) {
    EXPECT_FALSE(Exists(InSync(pending))) << pending;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kills, InterruptedCreationTest,
    ::testing::Values(
        // Saved, not recorded: the resent object finds the item recorded.
        KillCase{"IrmcCreation", false, false, "D1_DB.DAT", 1, 1},
        // Saved, not recorded: the rollback still finds and deletes it.
        KillCase{"SyncMLCreationRolledBack", true, false, "_SyncMLDB.DAT", 1, 0},
        // The new item saved beside the old one, or the old one gone and
        // the update not yet journaled: the LUID ends on the new item.
        KillCase{"SyncMLUpdateRolledBack", true, true, "_SyncMLDB.DAT", 2, 1},
        KillCase{"SyncMLUpdateUnjournaledRolledBack", true, true, "SyncMLTempUpdatedRecords.DAT", 1,
                 1},
        // Saved beside the old one: the resent update replaces it once.
        KillCase{"IrmcUpdate", false, true, "D1_DB.DAT", 2, 1}),
    [](const ::testing::TestParamInfo<KillCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
