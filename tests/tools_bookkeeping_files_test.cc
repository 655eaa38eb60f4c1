// The host's decoders of the bookkeeping files.
#include <gtest/gtest.h>

#include "bookkeeping_files.h"
#include "file_report.h"
#include "support/scratch.h"

namespace zelsync_tool {
namespace {

using zelsync::testing::AnchorBytes;
using zelsync::testing::Concat;
using zelsync::testing::DeviceRecordBytes;
using zelsync::testing::FieldsBytes;
using zelsync::testing::LogRecordBytes;

// A file's leading 32-bit counter, or any lone 32-bit value.
Bytes Counter(uint32_t value) { return FieldsBytes(value, {}); }

Bytes Filler(size_t size) { return Bytes(size, 0xAB); }

// The end-to-end script decodes a file of each kind, a short one and an
// unterminated LUID of an unknown type through `zelsync inspect`; these are
// the other sizes: records, the trailing fragment and the damage found, and
// the notes on odd values. A record the library marked removed is no odd
// type; an anchor time that is no time stamp is noted, undamaged (a numeric
// anchor's time field is not in use).
TEST(DecodeBookkeepingFile, RecordsFragmentsDamageAndNotes) {
  const struct {
    FileKind kind;
    Bytes bytes;
    size_t records;
    uint64_t fragment;
    size_t damage, notes = 0;
  } cases[] = {
      {FileKind::kDeviceDatabase, Bytes{}, 0, 0, 1},
      {FileKind::kDeviceDatabase, Concat({Counter(1), DeviceRecordBytes(2, u"E1", u"L1"), Filler(100)}), 1, 100, 1},
      {FileKind::kSyncMLDatabase, Concat({AnchorBytes(0, u"", 9), DeviceRecordBytes(1, u"N", u"5"), Filler(1043)}), 1,
       1043, 1},
      {FileKind::kSyncMLDatabase, Filler(30), 0, 30, 1},  // shorter than the anchor
      {FileKind::kIrmcLog, Bytes{}, 0, 0, 0},
      {FileKind::kSyncMLLog, LogRecordBytes(2, 0, u"A"), 0, 528, 1},
      {FileKind::kSessionMarker, Filler(12), 0, 12, 1},
      {FileKind::kSessionMarker, Filler(20), 0, 4, 1},
      // Unterminated fields, a fragment, and an unknown object type and operation.
      {FileKind::kUpdatedRecords, Filler(1564 + 7), 1, 7, 4, 1},
      {FileKind::kPendingChange, Filler(1568 + 3), 1, 3, 4, 2},
      {FileKind::kIrmcLog, LogRecordBytes(zelsync::kRemovedRecordType, 1, u"A"), 1, 0, 0, 0},
      {FileKind::kSyncMLDatabase, AnchorBytes(1, u"yesterday", 0), 0, 0, 0, 1},
      {FileKind::kSyncMLDatabase, AnchorBytes(0, u"", 5), 0, 0, 0, 0}};
  for (const auto& c : cases) {
    const DecodedFile file = DecodeBookkeepingFile(c.kind, c.bytes);
    const auto row = &c - cases;
    EXPECT_EQ(file.records.size(), c.records) << row;
    EXPECT_EQ(file.fragment_size, c.fragment) << row;
    EXPECT_EQ(file.damage.size(), c.damage) << row;
    EXPECT_EQ(file.notes.size(), c.notes) << row;
    for (size_t i = 0; i < file.records.size(); ++i) EXPECT_EQ(file.records[i].index, i + 1);
  }
}

// A removed record shows as such; a pending change names its operation and items.
TEST(DecodeFields, RemovedRecordsAndPendingChanges) {
  const DecodedFile removed = DecodeBookkeepingFile(
      FileKind::kIrmcLog, LogRecordBytes(zelsync::kRemovedRecordType, 1, u"A"));
  EXPECT_EQ(true, DecodedFileToJson(removed)["records"][0]["removed"]);
  const DecodedFile file = DecodeBookkeepingFile(
      FileKind::kPendingChange, Concat({Counter(2), FieldsBytes(1, {u"L1", u"E1", u"E9"})}));
  ASSERT_EQ(file.records.size(), 1u);
  EXPECT_EQ(RecordKindName(file.kind, *file.records[0].kind), "update");
  EXPECT_EQ(file.records[0].luid->text + " " + file.records[0].entry_id->text + " " +
                file.records[0].new_entry_id->text,
            "L1 E1 E9");
}

TEST(FileKinds, FromNamesAndSizes) {
  const std::pair<const char*, std::optional<FileKind>> cases[] = {
      {"TEMP.DAT", FileKind::kDeviceDatabase}, {"tempmodify.dat", FileKind::kIrmcLog},
      {"0002a1b2c3d4_SyncMLDB_Temp.DAT", FileKind::kSyncMLDatabase},
      {"SyncMLModificationLog_Temp.DAT", FileKind::kSyncMLLog}, {"notes.txt", std::nullopt}, {"plain.DAT", std::nullopt},
      {"D1_DB_PendingChange.DAT", FileKind::kPendingChange},
      {"0002a1b2c3d4_SyncMLPendingChange.DAT", FileKind::kPendingChange}};
  for (const auto& [name, kind] : cases) EXPECT_EQ(KindFromFileName(name), kind) << name;

  EXPECT_EQ(KindFromSize(4 + 2 * 1044), FileKind::kDeviceDatabase);
  EXPECT_EQ(KindFromSize(48 + 1044), FileKind::kSyncMLDatabase);
  EXPECT_EQ(KindFromSize(3 * 572), FileKind::kSyncMLLog);
  EXPECT_EQ(KindFromSize(0), std::nullopt);  // every log fits
  // The names `inspect --type` takes, from either list of kinds.
  EXPECT_EQ(ParseFileKind("updated-records"), FileKind::kUpdatedRecords);
  EXPECT_EQ(ParseFileKind("pending-change"), FileKind::kPendingChange);
  EXPECT_TRUE(IsTimeStamp("20260101T000000Z"));
  for (const char* bad : {"", "20260101T000000", "2026010AT000000Z", "20260101X000000Z", "20260101T000000ZZ"})
    EXPECT_FALSE(IsTimeStamp(bad)) << bad;
}

}  // namespace
}  // namespace zelsync_tool
