// The device database's records kept in memory between calls: whatever the
// library or another program does to the file, every operation answers as
// a scan of the file would, and the file holds what a scan-based store
// would have written.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <random>

#include "store/device_database.h"
#include "store/record_index.h"
#include "support/scratch.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;

struct Stored {
  uint32_t type;
  std::u16string entry_id, luid;
};

class RecordIndexTest : public LibraryTest {
 protected:
  void SetUp() override { ASSERT_EQ(1, SetDeviceIDDatabaseID(W(u"dev"), W(u"db"))); }
  fs::path Database() const { return InSync("dev_db.DAT"); }
  Stream Open() const { return OpenForUpdate(ToWide(Database())); }
  Bytes Image() const {
    Bytes image = {0, 0, 0, 0};
    for (const Stored& r : model_) image = Concat({image, DeviceRecordBytes(r.type, r.entry_id, r.luid)});
    return image;
  }

  std::vector<Stored> model_;
};

// A long random walk of appends, LUID updates, removals and lookups, with
// rewrites by another program in between, against a plain list of records.
TEST_F(RecordIndexTest, AnswersAsAScanWouldThroughAnyMixOfChanges) {
  const std::u16string entries[] = {u"E0", u"E1", u"E2", u"E3"};
  const std::u16string luids[] = {u"L0", u"L1", u"L2", u"UNDEFINED"};
  std::mt19937 random(12);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  int outside_writes = 0;
  for (int step = 0; step < 400; ++step) {
    const uint32_t type = static_cast<uint32_t>(1 + pick(2));
    const std::u16string entry = entries[pick(4)], luid = luids[pick(4)];
    const DeviceRecord record = MakeDeviceRecord(type, entry, luid);
    auto same_item = [&](const Stored& r) { return r.type == type && r.entry_id == entry; };
    SCOPED_TRACE(step);
    switch (step == 0 ? 0 : pick(7)) {
      case 0:
        ASSERT_EQ(1, AppendDeviceRecord(record));
        model_.push_back({type, entry, luid});
        break;
      case 1: {
        ASSERT_EQ(1, ReplaceDeviceRecord(record, Open()));
        auto it = std::find_if(model_.begin(), model_.end(), same_item);
        if (it != model_.end()) it->luid = luid;
        break;
      }
      case 2: {
        // Marked in place, or every marked record goes once half are.
        ASSERT_EQ(1, RemoveDeviceRecord(record, Open()));
        size_t marks = 0;
        for (Stored& r : model_) {
          if (same_item(r) && r.luid == luid) r.type = kRemovedRecordType;
          marks += r.type == kRemovedRecordType;
        }
        auto marked = [](const Stored& r) { return r.type == kRemovedRecordType; };
        if (marks * 2 >= model_.size())
          model_.erase(std::remove_if(model_.begin(), model_.end(), marked), model_.end());
        break;
      }
      case 3:
        // Another program swaps two LUIDs, so the size stays; the file's time
        // is set in the past (a whole second apart for each write, as some
        // file systems keep only seconds), so what is read next may be kept.
        if (model_.size() >= 2) std::swap(model_.front().luid, model_.back().luid);
        WriteBytes(Database(), Image());
        fs::last_write_time(Database(), fs::file_time_type::clock::now() - std::chrono::hours(1) -
                                            std::chrono::seconds(++outside_writes));
        break;
      default: {
        const Stored* by_luid = nullptr;
        const Stored* mapped = nullptr;
        for (const Stored& r : model_) {
          if (!by_luid && r.type == type && r.luid == luid) by_luid = &r;
          if (!mapped && same_item(r) && r.luid != u"UNDEFINED") mapped = &r;
        }
        const bool by_entry = std::any_of(model_.begin(), model_.end(), same_item);
        EXPECT_EQ(by_entry ? 1 : 0, FindDeviceRecordByEntryID(MakeDeviceRecord(type, entry, u""), Open()));
        DeviceRecord found;
        ASSERT_EQ(by_luid ? 1 : 0, LookupDeviceRecordByLUID(type, luid, &found, Open()));
        if (by_luid) { EXPECT_EQ(by_luid->entry_id, FieldText(found.entry_id)); }
        ASSERT_EQ(mapped ? 1 : 0, LookupMappedRecord(IrmcDatabase(), type, entry, &found, Open()));
        if (mapped) { EXPECT_EQ(mapped->luid, FieldText(found.luid)); }
        // Enough lookups that both a fresh index's scans and its maps answer.
        for (const std::u16string& any : entries) {
          const bool mapped_any = std::any_of(model_.begin(), model_.end(), [&](const Stored& r) {
            return r.type != kRemovedRecordType && r.entry_id == any && r.luid != u"UNDEFINED";
          });
          EXPECT_EQ(mapped_any, IndexOf(IrmcDatabase().files, *Open())->HasMappedEntry(any)) << step;
        }
      }
    }
    ASSERT_EQ(Image(), ReadBytes(Database()));
  }
}

// Draining a database: each removal marks its record in place (the bytes
// of every other record, and a trailing fragment, stay), until the one that
// makes half the records marked rewrites the file without them, across
// read blocks of about 256 KiB (300 records span two).
TEST_F(RecordIndexTest, DrainMarksInPlaceUntilHalfThenCompacts) {
  for (int n = 0; n < 300; ++n) {
    const std::u16string entry = {u'E', static_cast<char16_t>(u'A' + n % 26), static_cast<char16_t>(u'a' + n / 26)};
    model_.push_back({2, entry, n % 2 ? u"odd" : u"even"});
  }
  const Bytes fragment(100, 0x55);
  WriteBytes(Database(), Concat({Image(), fragment}));
  DeviceRecord found;
  for (size_t n = 1; n < 299; n += 2) {
    ASSERT_EQ(1, RemoveDeviceRecord(MakeDeviceRecord(2, model_[n].entry_id, u"odd"), Open()));
    model_[n].type = kRemovedRecordType;
  }
  ASSERT_EQ(Concat({Image(), fragment}), ReadBytes(Database()));
  ASSERT_EQ(1, LookupDeviceRecordByLUID(2, u"odd", &found, Open()));
  EXPECT_EQ(model_[299].entry_id, FieldText(found.entry_id));
  EXPECT_EQ(0, LookupDeviceRecordByLUID(kRemovedRecordType, u"odd", &found, Open()));
  ASSERT_EQ(1, RemoveDeviceRecord(MakeDeviceRecord(2, model_[299].entry_id, u"odd"), Open()));
  model_.erase(std::remove_if(model_.begin(), model_.end(),
                              [](const Stored& r) { return r.luid == u"odd"; }),
               model_.end());
  EXPECT_EQ(Image(), ReadBytes(Database()));
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
