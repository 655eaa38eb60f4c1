// The IrMC bookkeeping through the exports: device session paths, the change
// counter, the device record database and the modification log, checked as
// byte images of the files.
#include <gtest/gtest.h>

#include "store/device_database.h"
#include "support/scratch.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

const Bytes kCounterZero = {0, 0, 0, 0};

class IrmcStoreTest : public LibraryTest {
 protected:
  void SetUp() override { ASSERT_EQ(1, SetDeviceIDDatabaseID(W(u"dev1"), W(u"db2"))); }
  std::filesystem::path Database() const { return InSync("dev1_db2.DAT"); }
  std::filesystem::path Log() const { return InSync("SyncModificationLog.DAT"); }
  void Map(uint32_t type, const std::u16string& entry, const std::u16string& luid) {
    Bytes db = Exists(Database()) ? ReadBytes(Database()) : kCounterZero;
    Bytes record = DeviceRecordBytes(type, entry, luid);
    db.insert(db.end(), record.begin(), record.end());
    WriteBytes(Database(), db);
  }
};

TEST_F(IrmcStoreTest, SessionNamesTheDatabaseAndCountsNothingUntilTheFirstRecord) {
  EXPECT_EQ(0, IsDeviceIDKnown());
  uint32_t counter = 99;
  EXPECT_EQ(0, GetChangeCounter(&counter));
  EXPECT_EQ(0u, counter);
  EXPECT_EQ(0, UpdateChangeCounter(5));
  EXPECT_FALSE(Exists(Database()));
  // Calling again with the folder present is fine.
  EXPECT_EQ(1, SetDeviceIDDatabaseID(W(u"dev1"), W(u"db2")));
  const WString folder = ToWide(SyncFolder());
  EXPECT_EQ(1, FileExists(W(folder)));
  EXPECT_EQ(0, FileExists(W(folder + u"-missing")));
}

TEST_F(IrmcStoreTest, FirstAppendMakesA1048ByteFileAndTheCounterIsKept) {
  // The LUID update of an unknown database fails; the first append creates it.
  EXPECT_EQ(0, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, W(u"E1"), W(u"L1")));
  ASSERT_EQ(1, AppendDeviceRecord(MakeDeviceRecord(1, u"E1", u"UNDEFINED")));
  EXPECT_EQ(1u * 1048, ReadBytes(Database()).size());
  EXPECT_EQ(1, IsDeviceIDKnown());
  uint32_t counter = 1;
  EXPECT_EQ(1, GetChangeCounter(&counter));
  EXPECT_EQ(0u, counter);
  EXPECT_EQ(1, UpdateChangeCounter(7));
  EXPECT_EQ(1, GetChangeCounter(&counter));
  EXPECT_EQ(7u, counter);
  EXPECT_EQ(Concat({{7, 0, 0, 0}, DeviceRecordBytes(1, u"E1", u"UNDEFINED")}),
            ReadBytes(Database()));
}

TEST_F(IrmcStoreTest, CounterOnAMissingFolderReadsZeroButStoresNothing) {
  std::filesystem::remove_all(SyncFolder());
  uint32_t counter = 3;
  EXPECT_EQ(1, GetChangeCounter(&counter));
  EXPECT_EQ(0u, counter);
  // Nothing is written, so nothing is reported as stored.
  EXPECT_EQ(0, UpdateChangeCounter(9));
  EXPECT_EQ(0, IsDeviceIDKnown());
  EXPECT_FALSE(Exists(SyncFolder()));
}

TEST_F(IrmcStoreTest, CounterOfADatabaseShorterThanItsHeader) {
  WriteBytes(Database(), {1, 2});
  uint32_t counter = 5;
  EXPECT_EQ(0, GetChangeCounter(&counter));
  EXPECT_EQ(0u, counter);
  EXPECT_EQ(0, UpdateChangeCounter(9));
  EXPECT_EQ((Bytes{1, 2}), ReadBytes(Database()));
  EXPECT_EQ(0, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, W(u"E"), W(u"L")));
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L")));  // nothing known to forget
  EXPECT_EQ((Bytes{1, 2}), ReadBytes(Database()));
}

TEST_F(IrmcStoreTest, FailedCounterWriteIsNotReportedAsStored) {
  Map(0, u"E", u"L");
  env_.FailNth("Write", 1);
  EXPECT_EQ(0, UpdateChangeCounter(4));
  uint32_t counter = 1;
  EXPECT_EQ(1, GetChangeCounter(&counter));
  EXPECT_EQ(0u, counter);
}

TEST_F(IrmcStoreTest, LuidUpdateReplacesOnlyTheFirstRecordOfTheItemUnderBothNames) {
  Map(2, u"E1", u"UNDEFINED");
  Map(3, u"E1", u"UNDEFINED");  // same entry ID, other type: untouched
  Map(2, u"E1", u"OLD");        // second record of the item: untouched
  EXPECT_EQ(1, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_CONTACT, W(u"E1"), W(u"L7")));
  const Bytes once = ReadBytes(Database());
  EXPECT_EQ(Concat({kCounterZero, DeviceRecordBytes(2, u"E1", u"L7"),
                    DeviceRecordBytes(3, u"E1", u"UNDEFINED"), DeviceRecordBytes(2, u"E1", u"OLD")}),
            once);
  // The second name is the same function.
  EXPECT_EQ(1, UpdateLUIDofPrevModifiedRecord(SYNC_OBJECT_CONTACT, W(u"E1"), W(u"L7")));
  EXPECT_EQ(once, ReadBytes(Database()));
  // No record of the item: 1 and nothing appended.
  EXPECT_EQ(1, UpdateLUIDofPrevModifiedRecord(SYNC_OBJECT_CONTACT, W(u"NOPE"), W(u"L8")));
  EXPECT_EQ(once, ReadBytes(Database()));
}

TEST_F(IrmcStoreTest, DeleteDBRecordDropsEveryEqualRecordAndKeepsHeaderAndOthers) {
  Map(1, u"E1", u"L1");
  Map(1, u"E2", u"L2");
  Map(1, u"E1", u"L1");
  Map(2, u"E9", u"L1");
  UpdateChangeCounter(0x01020304);
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L1")));
  EXPECT_EQ(Concat({{4, 3, 2, 1}, DeviceRecordBytes(1, u"E2", u"L2"), DeviceRecordBytes(2, u"E9", u"L1")}),
            ReadBytes(Database()));
  // A LUID known only under another type, or not at all: 1, file unchanged.
  const Bytes before = ReadBytes(Database());
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_CALENDAR, W(u"L2")));
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"missing")));
  EXPECT_EQ(before, ReadBytes(Database()));
}

TEST_F(IrmcStoreTest, RewriteDropsATrailingFragmentAndAnEmptyDatabaseStaysFourBytes) {
  WriteBytes(Database(), kCounterZero);
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L1")));
  EXPECT_EQ(kCounterZero, ReadBytes(Database()));
  Map(1, u"E1", u"L1");
  Map(1, u"E2", u"L2");
  Bytes db = ReadBytes(Database());
  db.resize(db.size() + 100, 0xAB);
  WriteBytes(Database(), db);
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L1")));
  EXPECT_EQ(Concat({kCounterZero, DeviceRecordBytes(1, u"E2", u"L2")}), ReadBytes(Database()));
}

// An append cut short leaves a fragment; the next append starts where the
// last whole record ends, so the records after it stay aligned. A header
// shorter than its size is damage: nothing is appended to it.
TEST_F(IrmcStoreTest, AnAppendAfterATornAppendKeepsTheRecordsAligned) {
  const Bytes first = DeviceRecordBytes(1, u"E1", u"L1"), next = DeviceRecordBytes(1, u"E2", u"UNDEFINED");
  const struct {
    Bytes before, after;
    int result;
  } cases[] = {{Concat({kCounterZero, first, Bytes(100, 0xAB)}), Concat({kCounterZero, first, next}), 1},
               {Concat({kCounterZero, Bytes(1043, 0xAB)}), Concat({kCounterZero, next}), 1},
               {Concat({kCounterZero, first}), Concat({kCounterZero, first, next}), 1},
               {{1, 2}, {1, 2}, 0},
               {{}, {}, 0}};
  for (const auto& c : cases) {
    WriteBytes(Database(), c.before);
    EXPECT_EQ(c.result, AppendDeviceRecord(MakeDeviceRecord(1, u"E2", u"UNDEFINED")));
    EXPECT_EQ(c.after, ReadBytes(Database()));
  }
  // A fragment that cannot be cut off is not appended after.
  WriteBytes(Database(), Concat({kCounterZero, Bytes(10, 0xAB)}));
  env_.FailNth("Truncate", 1);
  EXPECT_EQ(0, AppendDeviceRecord(MakeDeviceRecord(1, u"E2", u"UNDEFINED")));
  EXPECT_EQ(Concat({kCounterZero, Bytes(10, 0xAB)}), ReadBytes(Database()));
}

// A rewrite that fails anywhere leaves the database whole and no scratch file.
class FailedRewriteTest : public IrmcStoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedRewriteTest, LeavesTheDatabaseWhole) {
  Map(1, u"E1", u"L1");
  Map(1, u"E2", u"L2");
  const Bytes before = ReadBytes(Database());
  std::string operation = GetParam();
  // Open #1 is the caller's lookup stream, #2 the rewrite's; fail the
  // rewrite's own steps (its records go out in one write).
  env_.FailNth(operation, operation == "Open" ? 3 : 1);
  EXPECT_EQ(0, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L1")));
  EXPECT_EQ(before, ReadBytes(Database()));
  EXPECT_FALSE(Exists(InSync("TEMP.DAT")));
}

INSTANTIATE_TEST_SUITE_P(EachStep, FailedRewriteTest,
                         ::testing::Values("Open", "Write", "Sync", "Replace"));

TEST_F(IrmcStoreTest, DeletedRecordsAreReportedOnceWithTheirFlagAndStaleOnesDropped) {
  Map(2, u"C1", u"LC1");
  Map(2, u"C2", u"UNDEFINED");  // never confirmed by the device: stale
  Map(2, u"C3", u"LC3");
  Map(3, u"A1", u"LA1");
  WriteBytes(Log(), Concat({LogRecordBytes(3, 1, u"A1"), LogRecordBytes(2, 1, u"C2"),
                            LogRecordBytes(2, 0, u"C1"), LogRecordBytes(2, 2, u"C1"),
                            LogRecordBytes(2, 3, u"C3"), LogRecordBytes(1, 1, u"C1")}));
  ZS_WCHAR luid[260] = {0};
  int32_t hard = 7;
  ASSERT_EQ(1, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(u"LC1", std::u16string(reinterpret_cast<char16_t*>(luid)));
  EXPECT_EQ(1, hard);
  // The stale C2 entries and every C1 entry of type 2 are gone; the type-1
  // entry with the same entry ID survives.
  EXPECT_EQ(Concat({LogRecordBytes(3, 1, u"A1"), LogRecordBytes(2, 3, u"C3"), LogRecordBytes(1, 1, u"C1")}),
            ReadBytes(Log()));
  ASSERT_EQ(1, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(u"LC3", std::u16string(reinterpret_cast<char16_t*>(luid)));
  EXPECT_EQ(0, hard);
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(Concat({kCounterZero, DeviceRecordBytes(2, u"C2", u"UNDEFINED"), DeviceRecordBytes(3, u"A1", u"LA1")}),
            ReadBytes(Database()));
}

TEST_F(IrmcStoreTest, DeletedRecordWithoutLogOrWithOnlyStaleEntries) {
  ZS_WCHAR luid[260] = {'x', 0};
  int32_t hard = 5;
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_NOTE, luid, &hard));
  EXPECT_EQ(0, hard);
  EXPECT_EQ(u'x', luid[0]);
  WriteBytes(Log(), Concat({LogRecordBytes(1, 1, u"N1"), LogRecordBytes(1, 0, u"N2")}));
  Bytes log = ReadBytes(Log());
  log.resize(log.size() + 72, 0);  // a fragment is never a record
  WriteBytes(Log(), log);
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_NOTE, luid, &hard));
  EXPECT_EQ(LogRecordBytes(1, 0, u"N2"), ReadBytes(Log()));
}

TEST_F(IrmcStoreTest, AnEmptyLogStaysAnEmptyFile) {
  WriteBytes(Log(), {});
  ZS_WCHAR luid[260];
  int32_t hard;
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_NOTE, luid, &hard));
  EXPECT_TRUE(Exists(Log()));
  EXPECT_EQ(0u, ReadBytes(Log()).size());
}

// IDs that could reach outside the sync folder, or are no file names.
class UnsafeIdTest : public LibraryTest, public ::testing::WithParamInterface<std::u16string> {};

TEST_P(UnsafeIdTest, LeaveTheSessionWithoutADatabase) {
  EXPECT_EQ(0, SetDeviceIDDatabaseID(W(GetParam()), W(u"db")));
  EXPECT_EQ(0, SetDeviceIDDatabaseID(W(u"dev"), W(GetParam())));
  EXPECT_EQ(0, IsDeviceIDKnown());
  EXPECT_EQ(0, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, W(u"E"), W(u"L")));
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.path() / "appdata"))
    EXPECT_EQ("ZelBtOutlookSync", entry.path().filename().string());
}

INSTANTIATE_TEST_SUITE_P(Ids, UnsafeIdTest,
                         ::testing::Values(u"", u".", u"..", u"..\\..\\x", u"../x", u"a/b",
                                           u"C:x", u"a*b", u"a?b", u"a|b", u"a<b", u"a\"b",
                                           std::u16string(u"a\tb"), std::u16string(1, u'\x1f')));

TEST_F(LibraryTest, OverLongIdsGiveZeroAndNoDatabasePath) {
  std::u16string long_id(250, u'x');
  EXPECT_EQ(0, SetDeviceIDDatabaseID(W(long_id), W(u"db")));
  EXPECT_EQ(0, IsDeviceIDKnown());
  std::u16string too_long(300, u'y');  // longer than an interface buffer
  EXPECT_EQ(0, SetDeviceIDDatabaseID(W(too_long), W(u"db")));
  EXPECT_EQ(0, SetDeviceIDDatabaseID(nullptr, W(u"db")));
  // The shared log path is still set: a valid session afterwards works.
  EXPECT_EQ(1, SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
}

TEST_F(LibraryTest, UnknownApplicationDataFallsBackToTheFixedRoot) {
  env_.set_appdata_known(false);
  // The fallback root (a scratch folder here) does not exist: the sync
  // folder cannot be made.
  EXPECT_EQ(0, SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
  std::filesystem::create_directories(scratch_.path() / "fallback-root");
  EXPECT_EQ(1, SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
  EXPECT_TRUE(Exists(scratch_.path() / "fallback-root" / "ZelBtOutlookSync"));
}

TEST_F(LibraryTest, NullPointersAreRefused) {
  EXPECT_EQ(0, GetChangeCounter(nullptr));
  EXPECT_EQ(0, FileExists(nullptr));
  EXPECT_EQ(0, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, nullptr, W(u"L")));
  EXPECT_EQ(0, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, W(u"E"), nullptr));
  int32_t hard;
  ZS_WCHAR luid[260];
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_NOTE, nullptr, &hard));
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_NOTE, luid, nullptr));
  EXPECT_EQ(0, DeleteDBRecord(SYNC_OBJECT_NOTE, nullptr));
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
