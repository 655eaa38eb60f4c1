// The bookkeeping files through the exports, checked as byte images: the
// layout of every file, torn appends and short headers, rewrites that fail
// part way, the SyncML anchors, deletions and the rollback of a session.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "store/device_database.h"
#include "store/log_writer.h"
#include "store/modification_log.h"
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

std::u16string Text(const ZS_WCHAR* buffer) { return reinterpret_cast<const char16_t*>(buffer); }

class StoreTest : public LibraryTest {
 protected:
  void SetUp() override { ASSERT_EQ(1, ::SetDeviceIDDatabaseID(W(u"dev1"), W(u"db2"))); }
  std::filesystem::path Irmc() const { return InSync("dev1_db2.DAT"); }
  std::filesystem::path SyncML() const { return InSync("001122334455_SyncMLDB.DAT"); }
  std::filesystem::path SyncMLLog() const { return InSync("SyncMLModificationLog.DAT"); }
  std::filesystem::path Marker() const { return InSync("SyncMLSessionOpen.DAT"); }
  void StartSyncML() {
    ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, MakeAnchor(0, u"", 1)));
  }
  // Another program appends a record to the device's SyncML database.
  void MapSyncML(uint32_t type, const std::u16string& entry, const std::u16string& luid) {
    WriteBytes(SyncML(), Concat({ReadBytes(SyncML()), DeviceRecordBytes(type, entry, luid)}));
  }
};

// Every file as the library writes it: little-endian numbers and UTF-16LE
// strings in zero-filled fields of 260 units (20 for a time stamp).
TEST_F(StoreTest, EveryFileHasItsByteLayout) {
  ASSERT_EQ(1, AppendDeviceRecord(MakeDeviceRecord(1, u"E1", u"UNDEFINED")));
  ASSERT_EQ(1, ::UpdateChangeCounter(0x01020304));
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, MakeAnchor(1, u"20260105T101010Z", 77)));
  ASSERT_EQ(1, AppendRecord(SyncMLDatabase(), MakeDeviceRecord(2, u"E2", u"L2")));
  uint32_t number = 6;
  const WString folder = ToWide(SyncFolder()) + WString(1, kPathSeparator);
  ASSERT_TRUE(AppendToModificationLogs(folder, {{3, 1, u"E3"}}, u"20260301T101500Z", &number));
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CALENDAR, W(u"LN")));
  ASSERT_EQ(1, JournalSyncMLUpdate(2, u"L2", u"E2", u"E9"));
  const Bytes syncml = Concat({AnchorBytes(1, u"20260105T101010Z", 77), DeviceRecordBytes(2, u"E2", u"L2")});
  const Bytes syncml_log = SyncMLLogRecordBytes(3, 1, u"E3", u"20260301T101500Z", 7);
  const std::pair<const char*, Bytes> files[] = {{"dev1_db2.DAT", Concat({{4, 3, 2, 1}, DeviceRecordBytes(1, u"E1", u"UNDEFINED")})},
               {"SyncModificationLog.DAT", LogRecordBytes(3, 1, u"E3")},
               {"001122334455_SyncMLDB.DAT", syncml},
               {"SyncMLModificationLog.DAT", syncml_log},
               {"001122334455_SyncMLDB_Temp.DAT", syncml},
               {"SyncMLModificationLog_Temp.DAT", syncml_log},
               // Address low and high words, then "backups were made".
               {"SyncMLSessionOpen.DAT", {0x55, 0x44, 0x33, 0x22, 0x11, 0, 0xFF, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0}},
               {"SyncMLTempNewDBRecords.DAT", FieldsBytes(3, {u"LN"})},
               {"SyncMLTempUpdatedRecords.DAT", FieldsBytes(2, {u"L2", u"E2", u"E9"})}};
  for (const auto& [name, bytes] : files) EXPECT_EQ(bytes, ReadBytes(InSync(name))) << name;
  _SYNCML_SYNCANCHOR_RECORD stored{};
  ASSERT_EQ(1, ::SyncMLGetLastSyncAnchor(0x0000001122334455ull, &stored));
  const _SYNCML_SYNCANCHOR_RECORD given = MakeAnchor(1, u"20260105T101010Z", 77);
  EXPECT_EQ(0, memcmp(&given, &stored, sizeof given));
  EXPECT_EQ(0, ::SyncMLGetLastSyncAnchor(0x0000001122334456ull, &stored));
  // The end of the session takes every file of it, and only those.
  ::SyncMLDeleteTempFiles();
  for (size_t i = 4; i < std::size(files); ++i) EXPECT_FALSE(Exists(InSync(files[i].first))) << files[i].first;
  EXPECT_EQ(syncml, ReadBytes(SyncML()));
}

// Each change to a record database as byte images before and after, with
// the call's result, optionally with one platform call failing. Appends cut
// a torn append back to the last whole record; a header shorter than its
// size is damage and nothing is written; rewrites either replace the whole
// file or leave it as it was, and never leave their scratch file.
TEST_F(StoreTest, ChangesAsByteImages) {
  StartSyncML();
  const Bytes c0 = kCounterZero, c4 = {4, 3, 2, 1}, torn = Bytes(100, 0xAB);
  const Bytes e1 = DeviceRecordBytes(1, u"E1", u"L1"), e2 = DeviceRecordBytes(1, u"E2", u"L2");
  const Bytes next = DeviceRecordBytes(1, u"E2", u"UNDEFINED");
  const Bytes c_e1 = DeviceRecordBytes(2, u"E1", u"UNDEFINED"), a_e1 = DeviceRecordBytes(3, u"E1", u"UNDEFINED");
  const Bytes old = DeviceRecordBytes(2, u"E1", u"OLD"), e9 = DeviceRecordBytes(2, u"E9", u"L1");
  const Bytes r1 = DeviceRecordBytes(2, u"E1", u"L1"), t3 = AnchorBytes(1, u"20260105T101010Z", 3);
  const Bytes n5 = AnchorBytes(0, u"20260105T101010Z", 5), a0 = AnchorBytes(0, u"", 1);
  const Bytes xy = DeviceRecordBytes(3, u"XY", u"L9"), cd = DeviceRecordBytes(2, u"CD", u"L9");
  const Bytes remapped = Concat({a0, DeviceRecordBytes(2, u"00AB00", u"L1"), xy, cd});
  auto append = [] { return AppendDeviceRecord(MakeDeviceRecord(1, u"E2", u"UNDEFINED")); };
  auto delete_l1 = [] { return ::DeleteDBRecord(SYNC_OBJECT_NOTE, W(u"L1")); };
  auto anchor = [](_SYNCML_SYNCANCHOR_RECORD given) {
    return [given] { return ::SyncMLSetBDAddrLastSyncAnchor(kAddress, given); };
  };
  // A call of `update` with a type, an entry ID and a LUID.
  auto call = [](auto update, _SYNC_OBJECT_TYPE type, const char16_t* entry, const char16_t* luid) {
    return [=] { return update(type, W(entry), W(luid)); };
  };
  const bool irmc = true, syncml = false;
  const struct {
    bool irmc;
    Bytes before;
    std::function<int()> change;
    int result;
    Bytes after;
    std::pair<const char*, int> fault = {"", 0};
  } cases[] = {
      {irmc, Concat({c0, e1, torn}), append, 1, Concat({c0, e1, next})},
      {irmc, Concat({c0, Bytes(1043, 0xAB)}), append, 1, Concat({c0, next})},
      {irmc, {1, 2}, append, 0, {1, 2}},
      {irmc, Concat({c0, Bytes(10, 0xAB)}), append, 0, Concat({c0, Bytes(10, 0xAB)}), {"Truncate", 1}},
      {irmc, {1, 2}, [] { return ::UpdateChangeCounter(9); }, 0, {1, 2}},
      {irmc, c0, [] { return ::UpdateChangeCounter(4); }, 0, c0, {"Write", 1}},
      {irmc, {1, 2}, call(::UpdateLUIDofPrevGetNewRecord, SYNC_OBJECT_NOTE, u"E", u"L"), 0, {1, 2}},
      {irmc, {1, 2}, delete_l1, 1, {1, 2}},  // nothing known to forget
      // Only the first record of the item, of its type, takes the LUID.
      {irmc, Concat({c0, c_e1, a_e1, old}), call(::UpdateLUIDofPrevGetNewRecord, SYNC_OBJECT_CONTACT, u"E1", u"L7"),
       1, Concat({c0, DeviceRecordBytes(2, u"E1", u"L7"), a_e1, old})},
      {irmc, Concat({c0, c_e1, a_e1}), call(::UpdateLUIDofPrevModifiedRecord, SYNC_OBJECT_CALENDAR, u"E1", u"L8"),
       1, Concat({c0, c_e1, DeviceRecordBytes(3, u"E1", u"L8")})},
      {irmc, Concat({c0, c_e1}), call(::UpdateLUIDofPrevModifiedRecord, SYNC_OBJECT_CONTACT, u"NO", u"L8"), 1,
       Concat({c0, c_e1})},
      // Every equal record goes, and a trailing fragment; the header stays.
      {irmc, Concat({c4, e1, e2, e1, e9, torn}), delete_l1, 1, Concat({c4, e2, e9})},
      {irmc, Concat({c0, e1, e2}), delete_l1, 0, Concat({c0, e1, e2}), {"Write", 1}},
      {irmc, Concat({c0, e1, e2}), delete_l1, 0, Concat({c0, e1, e2}), {"Sync", 1}},
      {irmc, Concat({c0, e1, e2}), delete_l1, 0, Concat({c0, e1, e2}), {"Replace", 1}},
      // A stored anchor that differs from the device's falls back to the
      // initial one; the records stay. A short header is a mismatch.
      {syncml, Concat({t3, r1}), anchor(MakeAnchor(1, u"20260105T101010Z", 9)), 1, Concat({t3, r1})},
      {syncml, Concat({t3, r1}), anchor(MakeAnchor(1, u"20260106T000000Z", 9)), 1,
       Concat({AnchorBytes(1, u"00000000T000000Z", 3), r1})},
      {syncml, Concat({n5, r1}), anchor(MakeAnchor(0, u"", 5)), 1, Concat({n5, r1})},
      {syncml, Concat({n5, r1}), anchor(MakeAnchor(0, u"", 6)), 1,
       Concat({AnchorBytes(0, u"20260105T101010Z", 0), r1})},
      {syncml, {1, 0, 0}, anchor(MakeAnchor(1, u"20260105T101010Z")), 1, AnchorBytes(1, u"00000000T000000Z", 0)},
      // A remap keeps the stored entry ID that contains the given one, else
      // matches by LUID, and takes the LUID.
      {syncml, Concat({a0, DeviceRecordBytes(2, u"00AB00", u"UNDEFINED"), xy, cd}),
       call(::SyncMLUpdateEntryIDLUIDMapping, SYNC_OBJECT_CONTACT, u"AB", u"L1"), 1, remapped},
      {syncml, remapped, call(::SyncMLUpdateEntryIDLUIDMapping, SYNC_OBJECT_CONTACT, u"ZZ", u"L9"), 1, remapped},
      {syncml, remapped, call(::SyncMLUpdateEntryIDLUIDMapping, SYNC_OBJECT_NOTE, u"Q", u"L5"), 1, remapped}};
  for (const auto& c : cases) {
    const auto file = c.irmc ? Irmc() : SyncML();
    WriteBytes(file, c.before);
    if (*c.fault.first) env_.FailNth(c.fault.first, c.fault.second);
    EXPECT_EQ(c.result, c.change()) << &c - cases;
    EXPECT_EQ(c.after, ReadBytes(file)) << &c - cases;
    EXPECT_FALSE(Exists(InSync("TEMP.DAT")));
  }
  // Without a database, or a sync folder, nothing is read or stored.
  EXPECT_EQ(1, ::FileExists(W(ToWide(SyncML()))));
  std::filesystem::remove(SyncML());
  EXPECT_EQ(0, ::FileExists(W(ToWide(SyncML()))));
  EXPECT_EQ(0, ::SyncMLUpdateEntryIDLUIDMapping(SYNC_OBJECT_CONTACT, W(u"AB"), W(u"L1")));
  std::filesystem::remove(Irmc());
  uint32_t counter = 99;
  EXPECT_EQ(0, ::GetChangeCounter(&counter));
  EXPECT_EQ(0u, counter);
  EXPECT_EQ(0, ::UpdateChangeCounter(5));
  EXPECT_FALSE(Exists(Irmc()));
  std::filesystem::remove_all(SyncFolder());
  EXPECT_EQ(0, ::UpdateChangeCounter(9));
  EXPECT_FALSE(Exists(SyncFolder()));
}

// A removal marks its records in place (their type becomes the marker)
// until half of the file's records would be marked; then, and at the end of
// a session, the file is rewritten without them. Marks that a killed
// process left are passed over by every call, whatever type it is given.
TEST_F(StoreTest, DeletionsAreReportedOnceAndMarksPassedOverUntilCompacted) {
  constexpr uint32_t kGone = kRemovedRecordType;
  const Bytes c3 = DeviceRecordBytes(2, u"C3", u"LC3"), a1 = DeviceRecordBytes(3, u"A1", u"LA1"),
              c6 = DeviceRecordBytes(2, u"C6", u"UNDEFINED"),
              c1_gone = DeviceRecordBytes(kGone, u"C1", u"LC1");
  // As a killed session left them: C1's record and log entry are marked.
  // C6 was never confirmed by the device: its deletion is stale.
  const Bytes db = Concat({kCounterZero, c1_gone, DeviceRecordBytes(2, u"C2", u"LC2"), c6, c3, a1});
  const Bytes log = Concat({LogRecordBytes(kGone, 1, u"C1"), LogRecordBytes(2, 1, u"C6"),
                            LogRecordBytes(2, 2, u"C2"), LogRecordBytes(2, 0, u"C3"),
                            LogRecordBytes(3, 1, u"A1"), LogRecordBytes(1, 1, u"C2")});
  WriteBytes(Irmc(), db);
  WriteBytes(InSync("SyncModificationLog.DAT"), Concat({log, Bytes(72, 0)}));
  const auto gone = static_cast<_SYNC_OBJECT_TYPE>(-1);  // 0xFFFFFFFF, as a caller passes it
  ZS_WCHAR luid[260] = {0};
  int32_t hard = 7;
  EXPECT_EQ(0, ::GetDeletedRecord(gone, luid, &hard));
  // Nothing known: the marked record is no record of LC1.
  for (auto type : {gone, SYNC_OBJECT_CONTACT}) EXPECT_EQ(1, ::DeleteDBRecord(type, W(u"LC1")));
  EXPECT_EQ(1, ::UpdateLUIDofPrevGetNewRecord(gone, W(u"C1"), W(u"LX")));
  EXPECT_EQ(0, AppendDeviceRecord(MakeDeviceRecord(kGone, u"C9", u"L9")));
  EXPECT_EQ(db, ReadBytes(Irmc()));
  // C2's record is marked (2 of 5); the log reaches half its records
  // marked (C1, the stale C6, C2) and is rewritten, without the fragment.
  ASSERT_EQ(1, ::GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(std::make_pair(WString(u"LC2"), 1), std::make_pair(Text(luid), hard));
  EXPECT_EQ(Concat({kCounterZero, c1_gone, DeviceRecordBytes(kGone, u"C2", u"LC2"), c6, c3, a1}),
            ReadBytes(Irmc()));
  EXPECT_EQ(Bytes(log.begin() + 3 * 528, log.end()), ReadBytes(InSync("SyncModificationLog.DAT")));  // C3 on
  EXPECT_EQ(0, ::GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  ASSERT_EQ(1, AppendDeviceRecord(MakeDeviceRecord(2, u"C5", u"L5")));
  ASSERT_EQ(1, ::UpdateChangeCounter(5));  // the end of the session
  EXPECT_EQ(Concat({{5, 0, 0, 0}, c6, c3, a1, DeviceRecordBytes(2, u"C5", u"L5")}),
            ReadBytes(Irmc()));
}

// IDs that could reach outside the sync folder, are no file names, or make
// a path too long.
class UnsafeIdTest : public LibraryTest, public ::testing::WithParamInterface<std::u16string> {};

TEST_P(UnsafeIdTest, LeaveTheSessionWithoutADatabase) {
  EXPECT_EQ(0, ::SetDeviceIDDatabaseID(W(GetParam()), W(u"db")));
  EXPECT_EQ(0, ::SetDeviceIDDatabaseID(W(u"dev"), W(GetParam())));
  EXPECT_EQ(0, ::IsDeviceIDKnown());
  EXPECT_EQ(0, ::UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, W(u"E"), W(u"L")));
  for (const auto& entry : std::filesystem::directory_iterator(scratch_.path() / "appdata"))
    EXPECT_EQ("ZelBtOutlookSync", entry.path().filename().string());
}

INSTANTIATE_TEST_SUITE_P(Ids, UnsafeIdTest,
                         ::testing::Values(u"", u"..", u"..\\..\\x", u"a/b", u"C:x", u"a*b", u"a\tb",
                                           std::u16string(250, u'x')));

TEST_F(LibraryTest, UnknownApplicationDataFallsBackToTheFixedRoot) {
  env_.set_appdata_known(false);
  EXPECT_EQ(0, ::SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));  // the root does not exist
  std::filesystem::create_directories(scratch_.path() / "fallback-root");
  EXPECT_EQ(1, ::SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
  EXPECT_TRUE(Exists(scratch_.path() / "fallback-root" / "ZelBtOutlookSync"));
}

// Stepping back never goes below the first object. Completion stores the
// anchor, rewinds the cursors and rewrites the database and the log without
// their marked records; a marked last log entry keeps its change number for
// the next one.
TEST_F(StoreTest, SyncCompleteStoresTheAnchorCompactsAndRewindsTheSession) {
  constexpr uint32_t kGone = kRemovedRecordType;
  EXPECT_EQ(0, ::SyncMLSetSyncComplete(MakeAnchor(1, u"20260107T080000Z", 4)));  // no device
  StartSyncML();
  MapSyncML(kGone, u"E2", u"L2");
  MapSyncML(2, u"E4", u"L4");
  const Bytes e1 = SyncMLLogRecordBytes(2, 0, u"E1", u"20260101T000000Z", 5);
  const Bytes e2_gone = SyncMLLogRecordBytes(kGone, 1, u"E2", u"20260101T000000Z", 6);
  WriteBytes(SyncMLLog(), Concat({e1, e2_gone}));
  EXPECT_EQ(0, AppendLogEntry(SyncMLModificationLog(), kGone, 1, u"E3"));
  ASSERT_EQ(1, AppendLogEntry(SyncMLModificationLog(), 2, 1, u"E3"));
  CurrentSession().cursors[1] = {2, 7};
  EXPECT_EQ(1, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(0, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_NOTE));
  EXPECT_EQ(0, ::SyncMLDecrementSyncObjectIndex(static_cast<_SYNC_OBJECT_TYPE>(4)));
  ASSERT_EQ(1, ::SyncMLSetSyncComplete(MakeAnchor(1, u"20260107T080000Z", 4)));
  EXPECT_EQ(Concat({AnchorBytes(1, u"20260107T080000Z", 4), DeviceRecordBytes(2, u"E4", u"L4")}),
            ReadBytes(SyncML()));
  EXPECT_EQ(std::make_pair(1, 0), std::make_pair(CurrentSession().cursors[1].index, CurrentSession().cursors[1].count));
  const Bytes compacted = ReadBytes(SyncMLLog());
  ASSERT_EQ(2 * sizeof(SyncMLModificationLogRecord), compacted.size());
  EXPECT_EQ(e1, Bytes(compacted.begin(), compacted.begin() + 572));
  EXPECT_EQ(7, compacted[572 + 568]);
}

TEST_F(LibraryTest, NullPointersAreRefused) {
  ZS_WCHAR luid[260];
  int32_t hard = 0;
  EXPECT_EQ(0, ::GetDeletedRecord(SYNC_OBJECT_CONTACT, nullptr, &hard));
  EXPECT_EQ(0, ::GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, nullptr));
  EXPECT_EQ(0, ::GetChangeCounter(nullptr));
  EXPECT_EQ(0, ::FileExists(nullptr));
  EXPECT_EQ(0, ::SetDeviceIDDatabaseID(nullptr, W(u"db")));
  EXPECT_EQ(0, ::UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, nullptr, W(u"L")));
  EXPECT_EQ(0, ::UpdateLUIDofPrevGetNewRecord(SYNC_OBJECT_NOTE, W(u"E"), nullptr));
  EXPECT_EQ(0, ::DeleteDBRecord(SYNC_OBJECT_NOTE, nullptr));
}

// The rollback deletes the session's items while the database still knows
// their LUIDs, then puts the saved files back.
class RollbackTest : public StoreTest {
 protected:
  std::vector<std::pair<uint32_t, WString>> deleted_;
  const DeleteRecordFn recorder_ = [this](uint32_t type, const WString& luid) {
    deleted_.push_back({type, luid});
    return 1;
  };
};

TEST_F(RollbackTest, WithoutBackupsDeletesItemsThenTheDeviceFiles) {
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));  // first contact: nothing to save
  EXPECT_EQ(0, ReadBytes(Marker())[8]);
  StartSyncML();
  MapSyncML(2, u"NEW1", u"LN1");
  WriteBytes(SyncMLLog(), SyncMLLogRecordBytes(2, 0, u"X"));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, recorder_));
  EXPECT_EQ(1u, deleted_.size());
  for (const auto& gone : {SyncML(), SyncMLLog(), InSync("SyncMLTempNewDBRecords.DAT"), Marker()}) EXPECT_FALSE(Exists(gone)) << gone;
}

// A created item the rollback could not delete (the list unread, or the
// deletion failed) keeps the session's database, which alone maps its
// LUID, so that the next rollback finds and deletes it.
TEST_F(RollbackTest, AnItemNotDeletedRestoresNothingAndStaysOpen) {
  for (const bool list_unread : {true, false}) {
    SCOPED_TRACE(list_unread);
    ResetSession();
    deleted_.clear();
    StartSyncML();
    const Bytes saved = ReadBytes(SyncML());
    ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
    MapSyncML(2, u"NEW1", u"LN1");
    const Bytes session_db = ReadBytes(SyncML());
    ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
    if (list_unread) env_.FailNth("Open", 2);  // the first open reads the session marker
    const DeleteRecordFn failing = [](uint32_t, const WString&) { return 0; };
    EXPECT_EQ(0, zelsync::SyncMLRestoreDBFiles(kAddress, list_unread ? recorder_ : failing));
    EXPECT_TRUE(deleted_.empty());
    EXPECT_EQ(session_db, ReadBytes(SyncML()));
    EXPECT_TRUE(Exists(Marker()));
    EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, recorder_));
    EXPECT_EQ(1u, deleted_.size());
    EXPECT_EQ(saved, ReadBytes(SyncML()));
    EXPECT_FALSE(Exists(Marker()));
  }
}

// SyncML deletions consume the log and the database, never the backups, so
// the session can still roll back. A saved file that cannot be put back
// leaves the session open for a later rollback to finish. The session
// created LN1 and then replaced its item: the rollback deletes the
// replacement, so LN1 is not tied to it again.
TEST_F(RollbackTest, DeletionsKeepTheBackupsAndAFailedRestoreFinishesLater) {
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
  EXPECT_EQ(std::make_tuple(WString(u"E1"), WString(u"L1"), 1), std::make_tuple(Text(entry), Text(luid), hard));
  EXPECT_EQ(SyncMLLogRecordBytes(2, 0, u"E2"), ReadBytes(SyncMLLog()));
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"E2", u"L2")}), ReadBytes(SyncML()));
  EXPECT_EQ(0, ::SyncMLGetDeletedRecord(SYNC_OBJECT_CONTACT, entry, luid, &hard));
  MapSyncML(2, u"NEW1", u"LN1");
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  ASSERT_EQ(1, JournalSyncMLUpdate(2, u"LN1", u"NEW1", u"NEW2"));
  env_.FailNth("Copy", 1);
  EXPECT_EQ(0, zelsync::SyncMLRestoreDBFiles(kAddress, recorder_));
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, recorder_));
  EXPECT_EQ(db, ReadBytes(SyncML()));
  EXPECT_EQ(log, ReadBytes(SyncMLLog()));
  EXPECT_FALSE(Exists(InSync("001122334455_SyncMLDB_Temp.DAT")));
}

// The process that ran the session died: a new one finds only the files.
// (That the items go before the files come back, the interrupted creation
// tests show.)
TEST_F(RollbackTest, ANewProcessRollsBackFromTheFilesOnDisk) {
  StartSyncML();
  MapSyncML(2, u"E1", u"L1");
  MapSyncML(3, u"E2", u"L2");
  ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  MapSyncML(2, u"NEW1", u"LN1");
  MapSyncML(3, u"NEW2", u"LN2");
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(u"LN1")));
  ASSERT_EQ(1, ::SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CALENDAR, W(u"LN2")));
  // An update replaced L1's item; L7 was not mapped before the session.
  ASSERT_EQ(1, JournalSyncMLUpdate(2, u"L1", u"E1", u"E9"));
  ASSERT_EQ(1, JournalSyncMLUpdate(3, u"L7", u"", u"E8"));

  ResetSession();
  ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(0x99, MakeAnchor(0, u"", 1)));
  // The backups of the unfinished session are not overwritten by a new save.
  EXPECT_EQ(0, ::SyncMLSaveDBFiles(0x99));
  EXPECT_FALSE(Exists(InSync("000000000099_SyncMLDB_Temp.DAT")));
  // The marker names the device: the address argument does not matter.
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(0x99, recorder_));
  EXPECT_EQ((std::vector<std::pair<uint32_t, WString>>{{2, u"LN1"}, {3, u"LN2"}}), deleted_);
  // The saved database, with each updated LUID naming the item that exists.
  EXPECT_EQ(Concat({AnchorBytes(0, u"", 1), DeviceRecordBytes(2, u"E9", u"L1"), DeviceRecordBytes(3, u"E2", u"L2"),
                    DeviceRecordBytes(3, u"E8", u"L7")}),
            ReadBytes(SyncML()));
  for (const char* name : {"SyncMLSessionOpen.DAT", "SyncMLTempUpdatedRecords.DAT", "001122334455_SyncMLDB_Temp.DAT"})
    EXPECT_FALSE(Exists(InSync(name))) << name;
  // Closed: a second rollback deletes nothing, and a new session may save.
  EXPECT_EQ(1, zelsync::SyncMLRestoreDBFiles(kAddress, recorder_));
  EXPECT_EQ(2u, deleted_.size());
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
