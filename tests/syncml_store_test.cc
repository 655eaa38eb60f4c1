// The SyncML bookkeeping through the exports: device files named by the
// Bluetooth address, anchors in the database header, backups, rollback and
// the records of the session, checked as byte images.
#include <gtest/gtest.h>

#include <cstring>

#include "store/store_exports.h"
#include "store/session.h"
#include "support/scratch.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

constexpr uint64_t kAddress = 0x0000001122334455ull;

_SYNCML_SYNCANCHOR_RECORD TimeAnchor(const std::u16string& time, uint32_t number = 0) {
  return MakeAnchor(1, time, number);
}

_SYNCML_SYNCANCHOR_RECORD NumberAnchor(uint32_t number, const std::u16string& time = u"") {
  return MakeAnchor(0, time, number);
}

std::u16string Text(const ZS_WCHAR* buffer) { return reinterpret_cast<const char16_t*>(buffer); }

class SyncMLStoreTest : public LibraryTest {
 protected:
  std::filesystem::path Database() const { return InSync("001122334455_SyncMLDB.DAT"); }
  std::filesystem::path Log() const { return InSync("SyncMLModificationLog.DAT"); }
  std::filesystem::path NewRecords() const { return InSync("SyncMLTempNewDBRecords.DAT"); }
  std::filesystem::path Marker() const { return InSync("SyncMLSessionOpen.DAT"); }
  void Start(const _SYNCML_SYNCANCHOR_RECORD& anchor) {
    ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, anchor));
  }
  void Map(uint32_t type, const std::u16string& entry, const std::u16string& luid) {
    Bytes db = ReadBytes(Database());
    Bytes record = DeviceRecordBytes(type, entry, luid);
    db.insert(db.end(), record.begin(), record.end());
    WriteBytes(Database(), db);
  }
};

TEST(DeviceAddressName, TakesTheLow48BitsMostSignificantFirst) {
  EXPECT_EQ(u"0002a1b2c3d4", DeviceAddressName(0x0002A1B2C3D4ull));
  EXPECT_EQ(u"001122334455", DeviceAddressName(0x0000001122334455ull));
  EXPECT_EQ(u"001122334455", DeviceAddressName(0xFFFF001122334455ull));
  EXPECT_EQ(u"000000000000", DeviceAddressName(0));
}

TEST_F(SyncMLStoreTest, FirstContactStoresTheDevicesAnchorAsTheHeader) {
  _SYNCML_SYNCANCHOR_RECORD anchor = TimeAnchor(u"20260105T101010Z", 77);
  Start(anchor);
  EXPECT_EQ(AnchorBytes(1, u"20260105T101010Z", 77), ReadBytes(Database()));
  _SYNCML_SYNCANCHOR_RECORD stored{};
  ASSERT_EQ(1, ::SyncMLGetLastSyncAnchor(0xFFFF001122334455ull, &stored));
  EXPECT_EQ(0, memcmp(&anchor, &stored, sizeof anchor));
  EXPECT_EQ(0, ::SyncMLGetLastSyncAnchor(0x0000001122334456ull, &stored));
}

struct AnchorCase {
  const char* name;
  _SYNCML_SYNCANCHOR_RECORD stored;
  _SYNCML_SYNCANCHOR_RECORD given;
  Bytes header_after;
};

class AnchorComparisonTest : public SyncMLStoreTest,
                             public ::testing::WithParamInterface<AnchorCase> {};

TEST_P(AnchorComparisonTest, MismatchFallsBackToTheInitialAnchorAndKeepsTheRecords) {
  const AnchorCase& c = GetParam();
  Start(c.stored);
  Map(2, u"E1", u"L1");
  Start(c.given);
  EXPECT_EQ(Concat({c.header_after, DeviceRecordBytes(2, u"E1", u"L1")}), ReadBytes(Database()));
}

INSTANTIATE_TEST_SUITE_P(
    Anchors, AnchorComparisonTest,
    ::testing::Values(
        AnchorCase{"SameTime", TimeAnchor(u"20260105T101010Z", 3), TimeAnchor(u"20260105T101010Z", 9),
                   AnchorBytes(1, u"20260105T101010Z", 3)},
        AnchorCase{"OtherTime", TimeAnchor(u"20260105T101010Z", 3), TimeAnchor(u"20260106T000000Z", 9),
                   AnchorBytes(1, u"00000000T000000Z", 3)},
        AnchorCase{"SameNumber", NumberAnchor(5, u"20260105T101010Z"), NumberAnchor(5),
                   AnchorBytes(0, u"20260105T101010Z", 5)},
        AnchorCase{"OtherNumber", NumberAnchor(5, u"20260105T101010Z"), NumberAnchor(6),
                   AnchorBytes(0, u"20260105T101010Z", 0)}),
    [](const ::testing::TestParamInfo<AnchorCase>& info) { return info.param.name; });

TEST_F(SyncMLStoreTest, ShortHeaderCountsAsAMismatch) {
  std::filesystem::create_directories(SyncFolder());
  WriteBytes(Database(), {1, 0, 0});
  Start(TimeAnchor(u"20260105T101010Z"));
  EXPECT_EQ(AnchorBytes(1, u"00000000T000000Z", 0), ReadBytes(Database()));
}

TEST_F(SyncMLStoreTest, SyncCompleteStoresTheNewAnchorAndRewindsTheSession) {
  Start(TimeAnchor(u"20260105T101010Z"));
  CurrentSession().cursors[2] = {5, 9};
  _SYNCML_SYNCANCHOR_RECORD next = TimeAnchor(u"20260107T080000Z", 4);
  EXPECT_EQ(1, ::SyncMLSetSyncComplete(next));
  _SYNCML_SYNCANCHOR_RECORD stored{};
  ASSERT_EQ(1, ::SyncMLGetLastSyncAnchor(kAddress, &stored));
  EXPECT_EQ(0, memcmp(&next, &stored, sizeof next));
  EXPECT_EQ(1, CurrentSession().cursors[2].index);
  EXPECT_EQ(0, CurrentSession().cursors[2].count);
  const _SYNCML_SYNCANCHOR_RECORD empty{};
  EXPECT_EQ(0, memcmp(&empty, &CurrentSession().anchor, sizeof empty));
}

TEST_F(LibraryTest, SyncCompleteWithoutADeviceFailsButStillRewinds) {
  CurrentSession().cursors[1] = {3, 3};
  CurrentSession().anchor.AnchorKind = 1;
  _SYNCML_SYNCANCHOR_RECORD anchor{};
  EXPECT_EQ(0, ::SyncMLSetSyncComplete(anchor));
  EXPECT_EQ(1, CurrentSession().cursors[1].index);
  EXPECT_EQ(0u, CurrentSession().anchor.AnchorKind);
}

TEST_F(LibraryTest, CursorsStepBackOnlyAboveOne) {
  EXPECT_EQ(1, ::SyncMLResetCounters());
  EXPECT_EQ(0, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(1, CurrentSession().cursors[1].index);
  CurrentSession().cursors[1] = {3, 7};
  EXPECT_EQ(1, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(1, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(0, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(1, CurrentSession().cursors[1].index);
  EXPECT_EQ(7, CurrentSession().cursors[1].count);
  EXPECT_EQ(0, ::SyncMLDecrementSyncObjectIndex(static_cast<_SYNC_OBJECT_TYPE>(4)));
  EXPECT_EQ(1, ::SyncMLResetCounters());
  EXPECT_EQ(0, CurrentSession().cursors[1].count);
}

TEST_F(SyncMLStoreTest, RemapKeepsTheStoredEntryIdAndTakesTheLuid) {
  Start(NumberAnchor(1));
  Map(2, u"00AB00", u"UNDEFINED");
  Map(3, u"XY", u"L9");
  Map(2, u"CD", u"L9");
  EXPECT_EQ(1, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_CONTACT, W(u"AB"), W(u"L1")));
  // Matched by LUID when the entry ID is not contained.
  EXPECT_EQ(1, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_CONTACT, W(u"ZZ"), W(u"L9")));
  EXPECT_EQ(1, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_NOTE, W(u"Q"), W(u"L5")));  // no match
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"00AB00", u"L1"),
                    DeviceRecordBytes(3, u"XY", u"L9"), DeviceRecordBytes(2, u"CD", u"L9")}),
            ReadBytes(Database()));
  std::filesystem::remove(Database());
  EXPECT_EQ(0, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_CONTACT, W(u"AB"), W(u"L1")));
}

TEST_F(SyncMLStoreTest, DeletedRecordReportsEntryIdLuidAndFlag) {
  Start(NumberAnchor(1));
  Map(2, u"E1", u"L1");
  Map(2, u"E2", u"L2");
  WriteBytes(Log(), Concat({SyncMLLogRecordBytes(2, 1, u"E9"), SyncMLLogRecordBytes(2, 2, u"E1"),
                            SyncMLLogRecordBytes(2, 0, u"E2")}));
  ZS_WCHAR entry[260], luid[260];
  int32_t hard = 0;
  ASSERT_EQ(1, ::SyncMLGetDeletedRecord(SYNC_OBJECT_CONTACT, entry, luid, &hard));
  EXPECT_EQ(u"E1", Text(entry));
  EXPECT_EQ(u"L1", Text(luid));
  EXPECT_EQ(1, hard);
  EXPECT_EQ(SyncMLLogRecordBytes(2, 0, u"E2"), ReadBytes(Log()));
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"E2", u"L2")}), ReadBytes(Database()));
  EXPECT_EQ(0, ::SyncMLGetDeletedRecord(SYNC_OBJECT_CONTACT, entry, luid, &hard));
  EXPECT_EQ(0, hard);
}

TEST_F(SyncMLStoreTest, RemovalsDoNotConsumeTheBackups) {
  Start(NumberAnchor(1));
  Map(2, u"E1", u"L1");
  Map(2, u"E2", u"L2");
  WriteBytes(Log(), Concat({SyncMLLogRecordBytes(2, 1, u"E1"), SyncMLLogRecordBytes(2, 1, u"E2")}));
  const Bytes db = ReadBytes(Database()), log = ReadBytes(Log());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  EXPECT_EQ(db, ReadBytes(InSync("001122334455_SyncMLDB_Temp.DAT")));
  EXPECT_EQ(log, ReadBytes(InSync("SyncMLModificationLog_Temp.DAT")));
  ZS_WCHAR entry[260], luid[260];
  int32_t hard;
  ASSERT_EQ(1, ::SyncMLGetDeletedRecord(SYNC_OBJECT_CONTACT, entry, luid, &hard));
  ASSERT_EQ(1, ::SyncMLGetDeletedRecord(SYNC_OBJECT_CONTACT, entry, luid, &hard));
  EXPECT_EQ(AnchorBytes(0, u"", 1), ReadBytes(Database()));
  // The backups still hold the saved content, so the session can roll back.
  EXPECT_EQ(1, ::SyncMLRestoreDBFiles(kAddress));
  EXPECT_EQ(db, ReadBytes(Database()));
  EXPECT_EQ(log, ReadBytes(Log()));
  EXPECT_FALSE(Exists(InSync("001122334455_SyncMLDB_Temp.DAT")));
  EXPECT_FALSE(Exists(InSync("SyncMLModificationLog_Temp.DAT")));
}

// The rollback deletes the session's items while the database still knows
// their LUIDs, then puts the saved files back.
class RollbackTest : public SyncMLStoreTest {
 protected:
  std::vector<std::pair<uint32_t, WString>> deleted_;
  std::vector<Bytes> database_seen_;
  DeleteRecordFn Recorder() {
    return [this](uint32_t type, const WString& luid) {
      deleted_.push_back({type, luid});
      database_seen_.push_back(ReadBytes(Database()));
      return 1;
    };
  }
};

TEST_F(RollbackTest, WithBackupsDeletesCreatedItemsFirstThenRestores) {
  Start(NumberAnchor(1));
  Map(2, u"E1", u"L1");
  const Bytes saved = ReadBytes(Database());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  Map(2, u"NEW1", u"LN1");
  Map(3, u"NEW2", u"LN2");
  const Bytes session_db = ReadBytes(Database());
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CALENDAR, W(u"LN2")));
  Bytes listed = Concat({Bytes{2, 0, 0, 0}, Bytes(520, 0), Bytes{3, 0, 0, 0}, Bytes(520, 0)});
  listed[4] = 'L', listed[6] = 'N', listed[8] = '1';
  listed[528] = 'L', listed[530] = 'N', listed[532] = '2';
  EXPECT_EQ(listed, ReadBytes(NewRecords()));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  ASSERT_EQ(2u, deleted_.size());
  EXPECT_EQ(2u, deleted_[0].first);
  EXPECT_EQ(u"LN1", deleted_[0].second);
  EXPECT_EQ(u"LN2", deleted_[1].second);
  EXPECT_EQ(session_db, database_seen_[0]);
  EXPECT_EQ(saved, ReadBytes(Database()));
  EXPECT_FALSE(Exists(NewRecords()));
}

TEST_F(RollbackTest, WithoutBackupsDeletesItemsThenTheDeviceFiles) {
  std::filesystem::create_directories(SyncFolder());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));  // nothing to save yet
  Start(NumberAnchor(1));
  Map(2, u"NEW1", u"LN1");
  WriteBytes(Log(), SyncMLLogRecordBytes(2, 0, u"X"));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(1u, deleted_.size());
  EXPECT_FALSE(Exists(Database()));
  EXPECT_FALSE(Exists(Log()));
  EXPECT_FALSE(Exists(NewRecords()));
}

TEST_F(RollbackTest, UnreadableNewRecordsFileStillRestoresButReportsFailure) {
  Start(NumberAnchor(1));
  const Bytes saved = ReadBytes(Database());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  Map(2, u"NEW1", u"LN1");
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  env_.FailNth("Open", 2);  // the first open reads the session marker
  EXPECT_EQ(0, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_TRUE(deleted_.empty());
  EXPECT_EQ(saved, ReadBytes(Database()));
  // The session stays open, so a second attempt can finish the rollback.
  EXPECT_TRUE(Exists(Marker()));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(1u, deleted_.size());
  EXPECT_FALSE(Exists(Marker()));
}

Bytes MarkerBytes(uint64_t address, uint32_t flag) {
  Bytes out;
  PutU32(&out, static_cast<uint32_t>(address));
  PutU32(&out, static_cast<uint32_t>(address >> 32));
  PutU32(&out, flag);
  PutU32(&out, 0);
  return out;
}

Bytes UpdatedRecordBytes(uint32_t type, const std::u16string& luid, const std::u16string& old_entry,
                         const std::u16string& new_entry) {
  Bytes out;
  PutU32(&out, type);
  PutField(&out, luid);
  PutField(&out, old_entry);
  PutField(&out, new_entry);
  return out;
}

TEST_F(SyncMLStoreTest, SaveMarksTheSessionOpenUntilItEnds) {
  Start(NumberAnchor(1));
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  EXPECT_EQ(MarkerBytes(kAddress, 1), ReadBytes(Marker()));
  ::SyncMLDeleteTempFiles();
  EXPECT_FALSE(Exists(Marker()));
  // Nothing saved yet (first contact): the marker says so.
  std::filesystem::remove(Database());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(0xFFFFA1B2C3D4E5F6ull));
  EXPECT_EQ(MarkerBytes(0xFFFFA1B2C3D4E5F6ull, 0), ReadBytes(Marker()));
}

// The process that ran the session died: a new one finds only the files.
TEST_F(RollbackTest, ANewProcessRollsBackFromTheFilesOnDisk) {
  Start(NumberAnchor(1));
  Map(2, u"E1", u"L1");
  WriteBytes(Log(), SyncMLLogRecordBytes(2, 0, u"E1"));
  const Bytes saved = ReadBytes(Database()), saved_log = ReadBytes(Log());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  Map(2, u"NEW1", u"LN1");
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  WriteBytes(Log(), Bytes());
  const Bytes session_db = ReadBytes(Database());

  ResetSession();
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(0x99, NumberAnchor(1)));
  // The backups of the open session are not overwritten by a new save.
  EXPECT_EQ(0, ::SyncMLSaveDBFiles(0x99));
  EXPECT_EQ(saved, ReadBytes(InSync("001122334455_SyncMLDB_Temp.DAT")));
  EXPECT_FALSE(Exists(InSync("000000000099_SyncMLDB_Temp.DAT")));

  // The marker names the device: the address argument does not matter.
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(0x99, Recorder()));
  ASSERT_EQ(1u, deleted_.size());
  EXPECT_EQ(u"LN1", deleted_[0].second);
  EXPECT_EQ(session_db, database_seen_[0]);
  EXPECT_EQ(saved, ReadBytes(Database()));
  EXPECT_EQ(saved_log, ReadBytes(Log()));
  EXPECT_EQ(AnchorBytes(0, u"", 1), ReadBytes(InSync("000000000099_SyncMLDB.DAT")));
  for (const char* name : {"SyncMLSessionOpen.DAT", "SyncMLTempNewDBRecords.DAT",
                           "001122334455_SyncMLDB_Temp.DAT", "SyncMLModificationLog_Temp.DAT"}) {
    EXPECT_FALSE(Exists(InSync(name))) << name;
  }
  // Closed: a second rollback, or one with no session at all, changes nothing.
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(saved, ReadBytes(Database()));
  EXPECT_EQ(1u, deleted_.size());
  EXPECT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
}

// An update replaced the LUID's item; after the rollback the LUID names the
// item that exists, and a LUID the saved database did not know is mapped.
TEST_F(RollbackTest, UpdatedLuidsFollowTheirNewItems) {
  Start(NumberAnchor(1));
  Map(2, u"E1", u"L1");
  Map(3, u"E2", u"L2");
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  ASSERT_EQ(1, JournalSyncMLUpdate(2, u"L1", u"E1", u"E9"));
  ASSERT_EQ(1, JournalSyncMLUpdate(3, u"L7", u"", u"E8"));
  EXPECT_EQ(Concat({UpdatedRecordBytes(2, u"L1", u"E1", u"E9"),
                    UpdatedRecordBytes(3, u"L7", u"", u"E8")}),
            ReadBytes(InSync("SyncMLTempUpdatedRecords.DAT")));
  ResetSession();
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"E9", u"L1"),
                    DeviceRecordBytes(3, u"E2", u"L2"), DeviceRecordBytes(3, u"E8", u"L7")}),
            ReadBytes(Database()));
  EXPECT_FALSE(Exists(InSync("SyncMLTempUpdatedRecords.DAT")));
  // Outside a session there is nothing to note.
  EXPECT_EQ(0, JournalSyncMLUpdate(2, u"L1", u"E9", u"E10"));
}

// A saved file that cannot be put back leaves the session open for a later
// rollback to finish. The session created LN1 and then replaced its item:
// the rollback deletes the replacement, so LN1 is not tied to it again.
TEST_F(RollbackTest, FinishesLaterWhenARestoreFailsAndMapsNoDeletedLuid) {
  Start(NumberAnchor(1));
  Map(2, u"E1", u"L1");
  const Bytes saved = ReadBytes(Database());
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  Map(2, u"NEW1", u"LN1");
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  ASSERT_EQ(1, JournalSyncMLUpdate(2, u"LN1", u"NEW1", u"NEW2"));
  env_.FailNth("Copy", 1);
  EXPECT_EQ(0, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, Recorder()));
  EXPECT_EQ(saved, ReadBytes(Database()));
}

TEST_F(SyncMLStoreTest, TempFilesGoAndASecondCallFindsNothing) {
  Start(NumberAnchor(1));
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_NOTE, W(u"L")));
  ::SyncMLDeleteTempFiles();
  EXPECT_FALSE(Exists(InSync("001122334455_SyncMLDB_Temp.DAT")));
  EXPECT_FALSE(Exists(NewRecords()));
  ::SyncMLDeleteTempFiles();
  EXPECT_TRUE(Exists(Database()));
}

TEST_F(LibraryTest, SessionFilesNeedTheirPaths) {
  // Before any save the new-records path is empty.
  EXPECT_EQ(0, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_NOTE, W(u"L")));
  // Without a sync folder nothing is saved, and 1 is returned.
  EXPECT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  EXPECT_EQ(0, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_NOTE, W(u"L")));
  EXPECT_EQ(1, ::SyncMLRestoreDBFiles(kAddress));
  _SYNCML_SYNCANCHOR_RECORD anchor;
  EXPECT_EQ(0, ::SyncMLGetLastSyncAnchor(kAddress, nullptr));
  EXPECT_EQ(0, ::SyncMLGetLastSyncAnchor(kAddress, &anchor));
  // A rollback without an open session leaves the device's files alone.
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, NumberAnchor(1)));
  EXPECT_EQ(1, ::SyncMLRestoreDBFiles(kAddress));
  EXPECT_TRUE(Exists(InSync("001122334455_SyncMLDB.DAT")));
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
