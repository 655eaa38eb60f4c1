// The bookkeeping files through the exports, checked as byte images: the
// layout of every file, torn appends and short headers, rewrites that fail
// part way, the SyncML anchors, deletions and the rollback of a session.
#include <gtest/gtest.h>

#include <cstring>

#include "store/device_database.h"
#include "store/log_writer.h"
#include "store/session.h"
#include "store/store_exports.h"
#include "support/scratch.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

// The top 16 bits are no part of a Bluetooth address.
constexpr uint64_t kAddress = 0xFFFF001122334455ull;
const Bytes kCounterZero = {0, 0, 0, 0};

// A type, then zero-filled 260-unit UTF-16LE fields.
Bytes Fields(uint32_t type, std::initializer_list<std::u16string> fields) {
  Bytes out;
  PutU32(&out, type);
  for (const std::u16string& field : fields) PutField(&out, field);
  return out;
}

std::u16string Text(const ZS_WCHAR* buffer) { return reinterpret_cast<const char16_t*>(buffer); }

class StoreTest : public LibraryTest {
 protected:
  void SetUp() override { ASSERT_EQ(1, SetDeviceIDDatabaseID(W(u"dev1"), W(u"db2"))); }
  std::filesystem::path Irmc() const { return InSync("dev1_db2.DAT"); }
  std::filesystem::path IrmcLog() const { return InSync("SyncModificationLog.DAT"); }
  std::filesystem::path SyncML() const { return InSync("001122334455_SyncMLDB.DAT"); }
  std::filesystem::path SyncMLLog() const { return InSync("SyncMLModificationLog.DAT"); }
  std::filesystem::path Marker() const { return InSync("SyncMLSessionOpen.DAT"); }
  std::filesystem::path NewRecords() const { return InSync("SyncMLTempNewDBRecords.DAT"); }
  // Another program appends `bytes` to `file`.
  void Append(const std::filesystem::path& file, const Bytes& bytes, const Bytes& empty = {}) {
    WriteBytes(file, Concat({Exists(file) ? ReadBytes(file) : empty, bytes}));
  }
  void MapIrmc(uint32_t type, const std::u16string& entry, const std::u16string& luid) {
    Append(Irmc(), DeviceRecordBytes(type, entry, luid), kCounterZero);
  }
  void StartSyncML(uint32_t number = 1) {
    ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, MakeAnchor(0, u"", number)));
  }
  void MapSyncML(uint32_t type, const std::u16string& entry, const std::u16string& luid) {
    Append(SyncML(), DeviceRecordBytes(type, entry, luid));
  }
};

// Every file as the library writes it: little-endian numbers and UTF-16LE
// strings in zero-filled fields of 260 units (20 for a time stamp).
TEST_F(StoreTest, EveryFileHasItsByteLayout) {
  ASSERT_EQ(1, AppendDeviceRecord(MakeDeviceRecord(1, u"E1", u"UNDEFINED")));
  ASSERT_EQ(1, UpdateChangeCounter(0x01020304));
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, MakeAnchor(1, u"20260105T101010Z", 77)));
  ASSERT_EQ(1, AppendRecord(SyncMLDatabase(), MakeDeviceRecord(2, u"E2", u"L2")));
  uint32_t number = 6;
  WString folder = ToWide(SyncFolder());
  folder.push_back(kPathSeparator);
  ASSERT_TRUE(AppendToModificationLogs(folder, {{3, 1, u"E3"}}, u"20260301T101500Z", &number));
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CALENDAR, W(u"LN")));
  ASSERT_EQ(1, JournalSyncMLUpdate(2, u"L2", u"E2", u"E9"));
  const Bytes syncml = Concat({AnchorBytes(1, u"20260105T101010Z", 77), DeviceRecordBytes(2, u"E2", u"L2")});
  const Bytes syncml_log = SyncMLLogRecordBytes(3, 1, u"E3", u"20260301T101500Z", 7);
  const struct {
    const char* name;
    Bytes bytes;
  } files[] = {{"dev1_db2.DAT", Concat({{4, 3, 2, 1}, DeviceRecordBytes(1, u"E1", u"UNDEFINED")})},
               {"SyncModificationLog.DAT", LogRecordBytes(3, 1, u"E3")},
               {"001122334455_SyncMLDB.DAT", syncml},
               {"SyncMLModificationLog.DAT", syncml_log},
               {"001122334455_SyncMLDB_Temp.DAT", syncml},
               {"SyncMLModificationLog_Temp.DAT", syncml_log},
               // Address low and high words, then "backups were made".
               {"SyncMLSessionOpen.DAT", {0x55, 0x44, 0x33, 0x22, 0x11, 0, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0}},
               {"SyncMLTempNewDBRecords.DAT", Fields(3, {u"LN"})},
               {"SyncMLTempUpdatedRecords.DAT", Fields(2, {u"L2", u"E2", u"E9"})}};
  for (const auto& file : files) EXPECT_EQ(file.bytes, ReadBytes(InSync(file.name))) << file.name;
  _SYNCML_SYNCANCHOR_RECORD stored{};
  ASSERT_EQ(1, ::SyncMLGetLastSyncAnchor(0x0000001122334455ull, &stored));
  EXPECT_EQ(77u, stored.NumericAnchor);
  EXPECT_EQ(0, ::SyncMLGetLastSyncAnchor(0x0000001122334456ull, &stored));
  // The end of the session takes every file of it, and only those.
  ::SyncMLDeleteTempFiles();
  for (size_t i = 4; i < std::size(files); ++i) EXPECT_FALSE(Exists(InSync(files[i].name))) << files[i].name;
  EXPECT_EQ(syncml, ReadBytes(SyncML()));
}

// The change counter is read and stored only in a whole header, and a
// store that did not reach the file is not reported.
TEST_F(StoreTest, ChangeCounterNeedsAWholeHeader) {
  uint32_t counter = 99;
  EXPECT_EQ(0, GetChangeCounter(&counter));  // no database yet
  EXPECT_EQ(0u, counter);
  EXPECT_EQ(0, UpdateChangeCounter(5));
  EXPECT_FALSE(Exists(Irmc()));
  WriteBytes(Irmc(), {1, 2});
  EXPECT_EQ(0, GetChangeCounter(&counter));
  EXPECT_EQ(0, UpdateChangeCounter(9));
  EXPECT_EQ(0, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, W(u"E"), W(u"L")));
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L")));  // nothing known to forget
  EXPECT_EQ((Bytes{1, 2}), ReadBytes(Irmc()));
  WriteBytes(Irmc(), kCounterZero);
  env_.FailNth("Write", 1);
  EXPECT_EQ(0, UpdateChangeCounter(4));
  EXPECT_EQ(kCounterZero, ReadBytes(Irmc()));
  // Without a sync folder the counter reads zero and nothing is stored.
  std::filesystem::remove_all(SyncFolder());
  EXPECT_EQ(1, GetChangeCounter(&counter));
  EXPECT_EQ(0, UpdateChangeCounter(9));
  EXPECT_FALSE(Exists(SyncFolder()));
}

// An append cut short leaves a fragment; the next append starts where the
// last whole record ends. A header shorter than its size is damage.
TEST_F(StoreTest, AppendsCutATornAppendBackAndRefuseAShortHeader) {
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
    WriteBytes(Irmc(), c.before);
    EXPECT_EQ(c.result, AppendDeviceRecord(MakeDeviceRecord(1, u"E2", u"UNDEFINED")));
    EXPECT_EQ(c.after, ReadBytes(Irmc()));
  }
  // A fragment that cannot be cut off is not appended after.
  WriteBytes(Irmc(), Concat({kCounterZero, Bytes(10, 0xAB)}));
  env_.FailNth("Truncate", 1);
  EXPECT_EQ(0, AppendDeviceRecord(MakeDeviceRecord(1, u"E2", u"UNDEFINED")));
  EXPECT_EQ(Concat({kCounterZero, Bytes(10, 0xAB)}), ReadBytes(Irmc()));
}

TEST_F(StoreTest, LuidUpdateTakesOnlyTheFirstRecordOfTheItem) {
  MapIrmc(2, u"E1", u"UNDEFINED");
  MapIrmc(3, u"E1", u"UNDEFINED");  // same entry ID, other type
  MapIrmc(2, u"E1", u"OLD");        // second record of the item
  EXPECT_EQ(1, UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_CONTACT, W(u"E1"), W(u"L7")));
  const Bytes once = Concat({kCounterZero, DeviceRecordBytes(2, u"E1", u"L7"),
                             DeviceRecordBytes(3, u"E1", u"UNDEFINED"), DeviceRecordBytes(2, u"E1", u"OLD")});
  EXPECT_EQ(once, ReadBytes(Irmc()));
  EXPECT_EQ(1, UpdateLUIDofPrevModifiedRecord(SYNC_OBJECT_CONTACT, W(u"NOPE"), W(u"L8")));
  EXPECT_EQ(once, ReadBytes(Irmc()));
}

TEST_F(StoreTest, DeleteDropsEveryEqualRecordAndATrailingFragment) {
  MapIrmc(1, u"E1", u"L1");
  MapIrmc(1, u"E2", u"L2");
  MapIrmc(1, u"E1", u"L1");
  MapIrmc(2, u"E9", u"L1");
  UpdateChangeCounter(0x01020304);
  Append(Irmc(), Bytes(100, 0xAB));
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L1")));
  const Bytes after = Concat({{4, 3, 2, 1}, DeviceRecordBytes(1, u"E2", u"L2"), DeviceRecordBytes(2, u"E9", u"L1")});
  EXPECT_EQ(after, ReadBytes(Irmc()));
  EXPECT_EQ(1, DeleteDBRecord(SYNC_OBJECT_CALENDAR, W(u"L2")));  // known under another type only
  EXPECT_EQ(after, ReadBytes(Irmc()));
}

// A rewrite that fails at any step leaves the database whole and no scratch file.
class FailedRewriteTest : public StoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FailedRewriteTest, LeavesTheDatabaseWhole) {
  MapIrmc(1, u"E1", u"L1");
  MapIrmc(1, u"E2", u"L2");
  const Bytes before = ReadBytes(Irmc());
  const std::string operation = GetParam();
  // Open #1 is the caller's lookup stream, #2 the rewrite's.
  env_.FailNth(operation, operation == "Open" ? 3 : 1);
  EXPECT_EQ(0, DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L1")));
  EXPECT_EQ(before, ReadBytes(Irmc()));
  EXPECT_FALSE(Exists(InSync("TEMP.DAT")));
}

INSTANTIATE_TEST_SUITE_P(EachStep, FailedRewriteTest, ::testing::Values("Open", "Write", "Sync", "Replace"));

TEST_F(StoreTest, IrmcDeletionsAreReportedOnceAndStaleOnesDropped) {
  MapIrmc(2, u"C1", u"LC1");
  MapIrmc(2, u"C2", u"UNDEFINED");  // never confirmed by the device: stale
  MapIrmc(2, u"C3", u"LC3");
  MapIrmc(3, u"A1", u"LA1");
  WriteBytes(IrmcLog(), Concat({LogRecordBytes(3, 1, u"A1"), LogRecordBytes(2, 1, u"C2"), LogRecordBytes(2, 0, u"C1"),
                                LogRecordBytes(2, 2, u"C1"), LogRecordBytes(2, 3, u"C3"), LogRecordBytes(1, 1, u"C1"),
                                Bytes(72, 0)}));
  ZS_WCHAR luid[260] = {0};
  int32_t hard = 7;
  ASSERT_EQ(1, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(u"LC1", Text(luid));
  EXPECT_EQ(1, hard);
  // The stale C2 entries, every C1 entry of type 2 and the fragment are gone.
  EXPECT_EQ(Concat({LogRecordBytes(3, 1, u"A1"), LogRecordBytes(2, 3, u"C3"), LogRecordBytes(1, 1, u"C1")}),
            ReadBytes(IrmcLog()));
  ASSERT_EQ(1, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(u"LC3", Text(luid));
  EXPECT_EQ(0, hard);
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(Concat({kCounterZero, DeviceRecordBytes(2, u"C2", u"UNDEFINED"), DeviceRecordBytes(3, u"A1", u"LA1")}),
            ReadBytes(Irmc()));
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_CONTACT, nullptr, &hard));
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, nullptr));
}

// IDs that could reach outside the sync folder, are no file names, or make
// a path too long.
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
                         ::testing::Values(u"", u"..", u"..\\..\\x", u"../x", u"C:x", u"a*b", u"a|b",
                                           std::u16string(1, u'\x1f'), std::u16string(250, u'x'),
                                           std::u16string(300, u'y')));

TEST_F(LibraryTest, UnknownApplicationDataFallsBackToTheFixedRoot) {
  env_.set_appdata_known(false);
  EXPECT_EQ(0, SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));  // the root does not exist
  std::filesystem::create_directories(scratch_.path() / "fallback-root");
  EXPECT_EQ(1, SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
  EXPECT_TRUE(Exists(scratch_.path() / "fallback-root" / "ZelBtOutlookSync"));
}

// A stored anchor that differs from the device's falls back to the initial
// one; the records stay. A header shorter than an anchor is a mismatch.
TEST_F(StoreTest, AnchorMismatchFallsBackToTheInitialAnchor) {
  const Bytes record = DeviceRecordBytes(2, u"E1", u"L1");
  const struct {
    Bytes before;
    _SYNCML_SYNCANCHOR_RECORD given;
    Bytes after;
  } cases[] = {
      {Concat({AnchorBytes(1, u"20260105T101010Z", 3), record}), MakeAnchor(1, u"20260105T101010Z", 9),
       Concat({AnchorBytes(1, u"20260105T101010Z", 3), record})},
      {Concat({AnchorBytes(1, u"20260105T101010Z", 3), record}), MakeAnchor(1, u"20260106T000000Z", 9),
       Concat({AnchorBytes(1, u"00000000T000000Z", 3), record})},
      {Concat({AnchorBytes(0, u"20260105T101010Z", 5), record}), MakeAnchor(0, u"", 5),
       Concat({AnchorBytes(0, u"20260105T101010Z", 5), record})},
      {Concat({AnchorBytes(0, u"20260105T101010Z", 5), record}), MakeAnchor(0, u"", 6),
       Concat({AnchorBytes(0, u"20260105T101010Z", 0), record})},
      {{1, 0, 0}, MakeAnchor(1, u"20260105T101010Z"), AnchorBytes(1, u"00000000T000000Z", 0)}};
  for (const auto& c : cases) {
    WriteBytes(SyncML(), c.before);
    ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, c.given));
    EXPECT_EQ(c.after, ReadBytes(SyncML()));
  }
}

TEST_F(StoreTest, SyncCompleteStoresTheAnchorAndRewindsTheSession) {
  CurrentSession().cursors[2] = {5, 9};
  EXPECT_EQ(0, ::SyncMLSetSyncComplete(MakeAnchor(1, u"20260107T080000Z", 4)));  // no device
  EXPECT_EQ(1, CurrentSession().cursors[2].index);
  StartSyncML();
  CurrentSession().cursors[1] = {3, 7};
  EXPECT_EQ(1, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(1, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(0, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));  // never below one
  EXPECT_EQ(1, CurrentSession().cursors[1].index);
  EXPECT_EQ(1, ::SyncMLSetSyncComplete(MakeAnchor(1, u"20260107T080000Z", 4)));
  EXPECT_EQ(AnchorBytes(1, u"20260107T080000Z", 4), ReadBytes(SyncML()));
  EXPECT_EQ(0, CurrentSession().cursors[1].count);
  EXPECT_EQ(0u, CurrentSession().anchor.AnchorKind);
}

TEST_F(StoreTest, RemapKeepsTheStoredEntryIdAndTakesTheLuid) {
  StartSyncML();
  MapSyncML(2, u"00AB00", u"UNDEFINED");
  MapSyncML(3, u"XY", u"L9");
  MapSyncML(2, u"CD", u"L9");
  EXPECT_EQ(1, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_CONTACT, W(u"AB"), W(u"L1")));
  // Matched by LUID when the entry ID is not contained.
  EXPECT_EQ(1, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_CONTACT, W(u"ZZ"), W(u"L9")));
  EXPECT_EQ(1, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_NOTE, W(u"Q"), W(u"L5")));  // no match
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"00AB00", u"L1"), DeviceRecordBytes(3, u"XY", u"L9"),
                    DeviceRecordBytes(2, u"CD", u"L9")}),
            ReadBytes(SyncML()));
  std::filesystem::remove(SyncML());
  EXPECT_EQ(0, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_CONTACT, W(u"AB"), W(u"L1")));
}

// Deletions consume the log and the database, never the backups, so the
// session can still roll back.
TEST_F(StoreTest, SyncMLDeletionsLeaveTheBackupsForARollback) {
  StartSyncML();
  MapSyncML(2, u"E1", u"L1");
  MapSyncML(2, u"E2", u"L2");
  WriteBytes(SyncMLLog(), Concat({SyncMLLogRecordBytes(2, 1, u"E9"), SyncMLLogRecordBytes(2, 2, u"E1"),
                                  SyncMLLogRecordBytes(2, 0, u"E2")}));
  const Bytes db = ReadBytes(SyncML()), log = ReadBytes(SyncMLLog());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  ZS_WCHAR entry[260], luid[260];
  int32_t hard = 0;
  ASSERT_EQ(1, ::SyncMLGetDeletedRecord(SYNC_OBJECT_CONTACT, entry, luid, &hard));
  EXPECT_EQ(u"E1", Text(entry));
  EXPECT_EQ(u"L1", Text(luid));
  EXPECT_EQ(1, hard);
  EXPECT_EQ(SyncMLLogRecordBytes(2, 0, u"E2"), ReadBytes(SyncMLLog()));
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"E2", u"L2")}), ReadBytes(SyncML()));
  EXPECT_EQ(0, ::SyncMLGetDeletedRecord(SYNC_OBJECT_CONTACT, entry, luid, &hard));
  EXPECT_EQ(1, ::SyncMLRestoreDBFiles(kAddress));
  EXPECT_EQ(db, ReadBytes(SyncML()));
  EXPECT_EQ(log, ReadBytes(SyncMLLog()));
  EXPECT_FALSE(Exists(InSync("001122334455_SyncMLDB_Temp.DAT")));
  EXPECT_FALSE(Exists(InSync("SyncMLModificationLog_Temp.DAT")));
}

// The rollback deletes the session's items while the database still knows
// their LUIDs, then puts the saved files back.
class RollbackTest : public StoreTest {
 protected:
  std::vector<std::pair<uint32_t, WString>> deleted_;
  std::vector<Bytes> database_seen_;
  DeleteRecordFn Recorder() {
    return [this](uint32_t type, const WString& luid) {
      deleted_.push_back({type, luid});
      database_seen_.push_back(ReadBytes(SyncML()));
      return 1;
    };
  }
};

TEST_F(RollbackTest, WithoutBackupsDeletesItemsThenTheDeviceFiles) {
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));  // first contact: nothing to save
  EXPECT_EQ(0, ReadBytes(Marker())[8]);
  StartSyncML();
  MapSyncML(2, u"NEW1", u"LN1");
  WriteBytes(SyncMLLog(), SyncMLLogRecordBytes(2, 0, u"X"));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(1u, deleted_.size());
  for (const auto& gone : {SyncML(), SyncMLLog(), NewRecords(), Marker()}) EXPECT_FALSE(Exists(gone)) << gone;
}

TEST_F(RollbackTest, UnreadableNewRecordsFileRestoresButReportsFailureAndStaysOpen) {
  StartSyncML();
  const Bytes saved = ReadBytes(SyncML());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  MapSyncML(2, u"NEW1", u"LN1");
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  env_.FailNth("Open", 2);  // the first open reads the session marker
  EXPECT_EQ(0, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_TRUE(deleted_.empty());
  EXPECT_EQ(saved, ReadBytes(SyncML()));
  EXPECT_TRUE(Exists(Marker()));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(1u, deleted_.size());
  EXPECT_FALSE(Exists(Marker()));
}

// The process that ran the session died: a new one finds only the files.
TEST_F(RollbackTest, ANewProcessRollsBackFromTheFilesOnDisk) {
  StartSyncML();
  MapSyncML(2, u"E1", u"L1");
  MapSyncML(3, u"E2", u"L2");
  WriteBytes(SyncMLLog(), SyncMLLogRecordBytes(2, 0, u"E1"));
  const Bytes saved_log = ReadBytes(SyncMLLog());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  MapSyncML(2, u"NEW1", u"LN1");
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  // An update replaced L1's item; L7 was not mapped before the session.
  ASSERT_EQ(1, JournalSyncMLUpdate(2, u"L1", u"E1", u"E9"));
  ASSERT_EQ(1, JournalSyncMLUpdate(3, u"L7", u"", u"E8"));
  WriteBytes(SyncMLLog(), Bytes());
  const Bytes session_db = ReadBytes(SyncML());

  ResetSession();
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(0x99, MakeAnchor(0, u"", 1)));
  // The backups of the unfinished session are not overwritten by a new save.
  EXPECT_EQ(0, ::SyncMLSaveDBFiles(0x99));
  EXPECT_FALSE(Exists(InSync("000000000099_SyncMLDB_Temp.DAT")));

  // The marker names the device: the address argument does not matter.
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(0x99, Recorder()));
  ASSERT_EQ(1u, deleted_.size());
  EXPECT_EQ(2u, deleted_[0].first);
  EXPECT_EQ(u"LN1", deleted_[0].second);
  EXPECT_EQ(session_db, database_seen_[0]);
  // The saved database, with each updated LUID naming the item that exists.
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"E9", u"L1"), DeviceRecordBytes(3, u"E2", u"L2"),
                    DeviceRecordBytes(3, u"E8", u"L7")}),
            ReadBytes(SyncML()));
  EXPECT_EQ(saved_log, ReadBytes(SyncMLLog()));
  EXPECT_EQ(AnchorBytes(0, u"", 1), ReadBytes(InSync("000000000099_SyncMLDB.DAT")));
  for (const char* name : {"SyncMLSessionOpen.DAT", "SyncMLTempNewDBRecords.DAT", "SyncMLTempUpdatedRecords.DAT",
                           "001122334455_SyncMLDB_Temp.DAT", "SyncMLModificationLog_Temp.DAT"}) {
    EXPECT_FALSE(Exists(InSync(name))) << name;
  }
  // Closed: a second rollback changes nothing, and a new session may save.
  const Bytes restored = ReadBytes(SyncML());
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(restored, ReadBytes(SyncML()));
  EXPECT_EQ(1u, deleted_.size());
  EXPECT_EQ(0, JournalSyncMLUpdate(2, u"L1", u"E9", u"E10"));  // outside a session
  EXPECT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
}

TEST_F(LibraryTest, SessionFilesNeedTheirPaths) {
  EXPECT_EQ(0, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_NOTE, W(u"L")));  // before any save
  EXPECT_EQ(1, ::SyncMLSaveDBFiles(kAddress));  // no sync folder: nothing to save
  EXPECT_EQ(0, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_NOTE, W(u"L")));
  EXPECT_EQ(0, ::SyncMLGetLastSyncAnchor(kAddress, nullptr));
  // A rollback without an open session leaves the device's files alone.
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, MakeAnchor(0, u"", 1)));
  EXPECT_EQ(1, ::SyncMLRestoreDBFiles(kAddress));
  EXPECT_TRUE(Exists(InSync("001122334455_SyncMLDB.DAT")));
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
