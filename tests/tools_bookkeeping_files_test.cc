// The host's decoders of the bookkeeping files and its text helpers.
#include <gtest/gtest.h>

#include "bookkeeping_files.h"
#include "file_report.h"
#include "support/scratch.h"
#include "text.h"

namespace zelsync_tool {
namespace {

using zelsync::testing::AnchorBytes;
using zelsync::testing::Concat;
using zelsync::testing::DeviceRecordBytes;
using zelsync::testing::FieldsBytes;
using zelsync::testing::LogRecordBytes;
using zelsync::testing::PutU32;

Bytes Counter(uint32_t value) {
  Bytes out;
  PutU32(&out, value);
  return out;
}

Bytes Filler(size_t size) { return Bytes(size, 0xAB); }

struct DecodeCase {
  const char* name;
  FileKind kind;
  Bytes bytes;
  size_t records;
  uint64_t fragment;
  size_t damage;
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, RecordsFragmentsAndDamage) {
  const DecodeCase& c = GetParam();
  DecodedFile file = DecodeBookkeepingFile(c.kind, c.bytes);
  EXPECT_EQ(file.records.size(), c.records);
  EXPECT_EQ(file.fragment_size, c.fragment);
  EXPECT_EQ(file.damage.size(), c.damage);
  for (size_t i = 0; i < file.records.size(); ++i) EXPECT_EQ(file.records[i].index, i + 1);
}

// The end-to-end script decodes a file of each kind and the short ones
// through `zelsync inspect`; these are the other sizes.
INSTANTIATE_TEST_SUITE_P(
    Images, DecodeTest,
    ::testing::Values(
        DecodeCase{"EmptyDatabase", FileKind::kDeviceDatabase, Bytes{}, 0, 0, 1},
        DecodeCase{"RecordAndFragment", FileKind::kDeviceDatabase,
                   Concat({Counter(1), DeviceRecordBytes(2, u"E1", u"L1"), Filler(100)}), 1, 100,
                   1},
        DecodeCase{"AnchorRecordFragment", FileKind::kSyncMLDatabase,
                   Concat({AnchorBytes(0, u"", 9), DeviceRecordBytes(1, u"N", u"5"), Filler(1043)}),
                   1, 1043, 1},
        DecodeCase{"EmptyLog", FileKind::kIrmcLog, Bytes{}, 0, 0, 0},
        DecodeCase{"SyncMLLogRead528", FileKind::kSyncMLLog, LogRecordBytes(2, 0, u"A"), 0, 528, 1},
        DecodeCase{"MarkerCutShort", FileKind::kSessionMarker, Filler(12), 0, 12, 1},
        DecodeCase{"MarkerWithTail", FileKind::kSessionMarker, Filler(20), 0, 4, 1},
        DecodeCase{"UnterminatedUpdatedRecordAndFragment", FileKind::kUpdatedRecords,
                   Filler(1564 + 7), 1, 7, 4}),
    [](const ::testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

// Offsets, non-ASCII IDs and the values the end-to-end script does not see.
TEST(DecodeFields, ValuesOfEachFile) {
  DecodedFile db = DecodeBookkeepingFile(
      FileKind::kDeviceDatabase, Concat({Counter(7), DeviceRecordBytes(3, u"entr\u00e9e", u"L")}));
  ASSERT_EQ(db.records.size(), 1u);
  EXPECT_EQ(db.records[0].offset, 4u);
  EXPECT_EQ(db.records[0].entry_id->text, "entr\xc3\xa9" "e");
  DecodedFile syncml = DecodeBookkeepingFile(
      FileKind::kSyncMLDatabase, Concat({AnchorBytes(1, u"20260301T101500Z", 44), DeviceRecordBytes(1, u"N1", u"5")}));
  EXPECT_EQ(syncml.anchor->number, 44u);
  EXPECT_EQ(syncml.records[0].offset, 48u);
  Bytes marker = Concat({Counter(0x22334455), Counter(0x0011), Counter(1), Counter(0)});
  DecodedFile open = DecodeBookkeepingFile(FileKind::kSessionMarker, marker);
  EXPECT_EQ(open.session_address, 0x001122334455ull);
  EXPECT_EQ(open.backup_flag, 1u);
  EXPECT_TRUE(open.damage.empty());
  DecodedFile journal = DecodeBookkeepingFile(FileKind::kUpdatedRecords, FieldsBytes(2, {u"L1", u"E1", u"E9"}));
  ASSERT_EQ(journal.records.size(), 1u);
  EXPECT_EQ(journal.records[0].luid->text, "L1");
  EXPECT_EQ(journal.records[0].entry_id->text, "E1");
  EXPECT_EQ(journal.records[0].new_entry_id->text, "E9");
  Bytes pending = Concat({Counter(2), Counter(1)});
  for (const char16_t* field : {u"L1", u"E1", u"E9"}) zelsync::testing::PutField(&pending, field);
  DecodedFile update = DecodeBookkeepingFile(FileKind::kPendingChange, pending);
  ASSERT_EQ(update.records.size(), 1u);
  EXPECT_EQ(RecordKindName(update.kind, *update.records[0].kind), "update");
  EXPECT_EQ(update.records[0].luid->text, "L1");
  EXPECT_EQ(update.records[0].entry_id->text, "E1");
  EXPECT_EQ(update.records[0].new_entry_id->text, "E9");
}

// The end-to-end script sees an unterminated LUID of an unknown type noted;
// here the damage names the field and the note the type.
TEST(DecodeFields, UnterminatedStringsAndOddValuesAreReported) {
  // No such object type, and a LUID that fills its field: no terminator.
  const Bytes record = FieldsBytes(9, {u"E", std::u16string(260, u'x')});
  DecodedFile file = DecodeBookkeepingFile(FileKind::kDeviceDatabase, Concat({Counter(0), record}));
  ASSERT_EQ(file.records.size(), 1u);
  EXPECT_EQ(file.records[0].luid->text.size(), 260u);
  ASSERT_EQ(file.damage.size(), 1u);
  EXPECT_NE(file.damage[0].find("LUID"), std::string::npos);
  ASSERT_EQ(file.notes.size(), 1u);
  EXPECT_NE(file.notes[0].find("object type 9"), std::string::npos);
  // A time anchor that is no time stamp is noted, undamaged; a numeric
  // anchor's time field is not in use.
  DecodedFile anchor = DecodeBookkeepingFile(FileKind::kSyncMLDatabase, AnchorBytes(1, u"yesterday", 0));
  EXPECT_TRUE(anchor.damage.empty());
  EXPECT_EQ(anchor.notes.size(), 1u);
  EXPECT_TRUE(DecodeBookkeepingFile(FileKind::kSyncMLDatabase, AnchorBytes(0, u"", 5)).notes.empty());
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
  for (FileKind kind : {FileKind::kDeviceDatabase, FileKind::kIrmcLog, FileKind::kSyncMLDatabase,
                        FileKind::kSyncMLLog, FileKind::kNewRecords, FileKind::kPendingChange}) {
    EXPECT_EQ(ParseFileKind(FileKindName(kind)), kind);
  }
  EXPECT_TRUE(IsTimeStamp("20260101T000000Z"));
  for (const char* bad : {"", "20260101T000000", "2026010AT000000Z", "20260101X000000Z", "20260101T000000ZZ"})
    EXPECT_FALSE(IsTimeStamp(bad)) << bad;
}

// The text conversions are the platform layer's (tested there); the host
// adds paths.
TEST(Text, Utf16AndUtf8) {
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(u"a\u00e9\U0001F600")), u"a\u00e9\U0001F600");
#ifndef _WIN32
  // A POSIX path that is not UTF-8 goes to the library and back intact.
  const std::filesystem::path raw("phone/\xff\xfe.vcf");
  EXPECT_EQ(PathFromUtf16(PathToUtf16(raw)), raw);
#endif
}

}  // namespace
}  // namespace zelsync_tool
