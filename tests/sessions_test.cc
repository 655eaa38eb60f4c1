// Whole synchronisations as the service drives them, against the fake item
// store: an IrMC session and a SyncML session (completed, and interrupted
// and rolled back), with the bookkeeping files checked byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "support/fake_outlook.h"
#include "support/scratch.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;
std::u16string Text(const ZS_WCHAR* buffer) { return reinterpret_cast<const char16_t*>(buffer); }

const char kVCard[] = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Roe;Al\r\nFN:Al Roe\r\nEND:VCARD\r\n";
const char kVNote[] = "BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:From the phone\r\nEND:VNOTE\r\n";

class SessionTest : public LibraryTest {
 protected:
  void TearDown() override { EXPECT_EQ(0, fake_.live_objects()) << fake_.DescribeLiveObjects(); }
  fs::path Temp(const std::string& name) const { return scratch_.path() / "temp" / name; }
  WString Received(const std::string& name, const std::string& content) {
    std::ofstream(Temp(name), std::ios::binary) << content;
    return ToWide(Temp(name));
  }
  // Every new item of the type goes to the "device", which answers with a
  // LUID; returns {entry ID, LUID} in delivery order.
  std::vector<std::pair<WString, WString>> SendNew(_SYNC_OBJECT_TYPE type, bool syncml) {
    std::vector<std::pair<WString, WString>> sent;
    ZS_WCHAR entry[260], path[260];
    while ((syncml ? SyncMLGetNewRecord(type, entry, path) : GetNewRecord(type, entry, path)) ==
           1) {
      EXPECT_TRUE(Exists(fs::path(Utf16ToUtf8(Text(path)))));
      WString luid = u"L" + std::u16string(1, char16_t(u'0' + type)) + char16_t(u'a' + sent.size());
      EXPECT_EQ(1, syncml ? SyncMLUpdateEntryIDLUIDMapping(type, entry, W(luid))
                          : UpdateLUIDofPrevGetNewRecord(type, entry, W(luid)));
      sent.push_back({Text(entry), luid});
    }
    return sent;
  }

  FakeOutlook fake_;
  outlook::ScopedObjectModel use_{fake_};
};

TEST_F(SessionTest, IrmcRoadCarriesChangesBothWays) {
  const WString ann = fake_.Add(ContactData{.full_name = u"Ann"});
  const WString bo = fake_.Add(ContactData{.full_name = u"Bo"});
  const WString note = fake_.Add(NoteData{.body = u"Buy milk"});
  ASSERT_EQ(1, SetDeviceIDDatabaseID(W(u"phone"), W(u"pb")));
  EXPECT_EQ(0, IsDeviceIDKnown());

  // First contact: every item goes to the device and gets its LUID.
  auto contacts = SendNew(SYNC_OBJECT_CONTACT, false);
  auto notes = SendNew(SYNC_OBJECT_NOTE, false);
  ASSERT_EQ(2u, contacts.size());
  ASSERT_EQ(1u, notes.size());
  EXPECT_EQ(1, IsDeviceIDKnown());
  EXPECT_EQ(Concat({Bytes(4, 0), DeviceRecordBytes(2, ann, u"L2a"),
                    DeviceRecordBytes(2, bo, u"L2b"), DeviceRecordBytes(1, note, u"L1a")}),
            ReadBytes(InSync("phone_pb.DAT")));
  EXPECT_EQ(1, UpdateChangeCounter(1));

  // On the PC, Ann changes and Bo is deleted (as the change tracker logs it).
  fake_.Find<ContactData>(ann)->full_name = u"Ann Lee";
  fake_.Remove(bo);
  ZS_WCHAR entry[260], luid[260], path[260];
  int32_t hard = 0;
  WriteBytes(InSync("SyncModificationLog.DAT"),
             Concat({LogRecordBytes(2, 0, ann), LogRecordBytes(2, 2, bo)}));
  ASSERT_EQ(1, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry, luid, path));
  EXPECT_EQ(u"L2a", Text(luid));
  EXPECT_NE(std::string::npos, [&] {
    Bytes vcf = ReadBytes(fs::path(Utf16ToUtf8(Text(path))));
    return std::string(vcf.begin(), vcf.end()).find("Ann Lee");
  }());
  ASSERT_EQ(1, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));
  EXPECT_EQ(u"L2b", Text(luid));
  EXPECT_EQ(1, hard);
  EXPECT_EQ(0, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry, luid, path));
  EXPECT_EQ(0, GetDeletedRecord(SYNC_OBJECT_CONTACT, luid, &hard));

  // From the device: a new note, Ann replaced, the old note deleted.
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_NOTE, W(u"DN1"), W(Received("n.vnt", kVNote))));
  ASSERT_EQ(1, UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L2a"), W(Received("c.vcf", kVCard))));
  ASSERT_EQ(1, DeleteRecord(SYNC_OBJECT_NOTE, W(u"L1a")));
  EXPECT_EQ(1, UpdateChangeCounter(2));

  const std::vector<WString> contacts_now = fake_.EntryIds(outlook::kFolderContacts);
  const std::vector<WString> notes_now = fake_.EntryIds(outlook::kFolderNotes);
  ASSERT_EQ(1u, contacts_now.size());
  ASSERT_EQ(1u, notes_now.size());
  EXPECT_EQ(u"Al Roe", fake_.Find<ContactData>(contacts_now[0])->full_name);
  EXPECT_EQ(u"From the phone", fake_.Find<NoteData>(notes_now[0])->body);
  EXPECT_EQ(Concat({Bytes{2, 0, 0, 0}, DeviceRecordBytes(1, notes_now[0], u"DN1"),
                    DeviceRecordBytes(2, contacts_now[0], u"L2a")}),
            ReadBytes(InSync("phone_pb.DAT")));
  EXPECT_EQ(0u, ReadBytes(InSync("SyncModificationLog.DAT")).size());
  uint32_t counter = 0;
  EXPECT_EQ(1, GetChangeCounter(&counter));
  EXPECT_EQ(2u, counter);
  // A second session right after moves nothing: what the device made or
  // replaced is not offered back to it.
  EXPECT_TRUE(SendNew(SYNC_OBJECT_CONTACT, false).empty());
  EXPECT_TRUE(SendNew(SYNC_OBJECT_NOTE, false).empty());
}

_SYNCML_SYNCANCHOR_RECORD Anchor(const std::u16string& time) { return MakeAnchor(1, time); }

class SyncMLSessionTest : public SessionTest {
 protected:
  static constexpr uint64_t kPhone = 0x00001A2B3C4D5E6Full;
  fs::path Database() const { return InSync("1a2b3c4d5e6f_SyncMLDB.DAT"); }

  // Starts a session and brings the device up to date with the PC.
  void StartSession(const std::u16string& anchor) {
    ASSERT_EQ(1, SyncMLResetCounters());
    ASSERT_EQ(1, SyncMLSetBDAddrLastSyncAnchor(kPhone, Anchor(anchor)));
    ASSERT_EQ(1, SyncMLSaveDBFiles(kPhone));
  }
  // The device sends a new contact; the service lists it for a rollback.
  void DeviceCreatesContact(const std::u16string& luid, const std::string& file) {
    ASSERT_EQ(1, SyncMLCreateNewRecord(SYNC_OBJECT_CONTACT, W(Received(file, kVCard)), W(luid)));
    ASSERT_EQ(1, SyncMLAddNewRecToTempDBFile(SYNC_OBJECT_CONTACT, W(luid)));
  }
};

TEST_F(SyncMLSessionTest, ACompletedSessionStaysAndAnInterruptedOneRollsBackWithoutOrphans) {
  const WString ann = fake_.Add(ContactData{.full_name = u"Ann"});
  StartSession(u"20260101T000000Z");
  ASSERT_EQ(1u, SendNew(SYNC_OBJECT_CONTACT, true).size());
  DeviceCreatesContact(u"P0", "p0.vcf");
  ASSERT_EQ(1, SyncMLSetSyncComplete(Anchor(u"20260102T000000Z")));
  SyncMLDeleteTempFiles();
  const std::vector<WString> before = fake_.EntryIds(outlook::kFolderContacts);
  ASSERT_EQ(2u, before.size());
  const Bytes saved = ReadBytes(Database());
  EXPECT_EQ(Concat({AnchorBytes(1, u"20260102T000000Z"), DeviceRecordBytes(2, ann, u"L2a"),
                    DeviceRecordBytes(2, before[1], u"P0")}),
            saved);

  StartSession(u"20260102T000000Z");
  DeviceCreatesContact(u"P1", "p1.vcf");
  // The service died before it could list P2: the library listed it itself.
  ASSERT_EQ(1, SyncMLCreateNewRecord(SYNC_OBJECT_CONTACT, W(Received("p2.vcf", kVCard)), W(u"P2")));
  EXPECT_EQ(4u, fake_.EntryIds(outlook::kFolderContacts).size());
  // The link drops: the service rolls back.
  ASSERT_EQ(1, SyncMLRestoreDBFiles(kPhone));
  EXPECT_EQ(before, fake_.EntryIds(outlook::kFolderContacts));
  EXPECT_EQ(saved, ReadBytes(Database()));
  EXPECT_FALSE(Exists(InSync("SyncMLTempNewDBRecords.DAT")));
  // The next session offers nothing twice.
  StartSession(u"20260102T000000Z");
  EXPECT_TRUE(SendNew(SYNC_OBJECT_CONTACT, true).empty());
}

// An update made a new item under the same LUID; the rolled-back database
// maps the LUID to it, so nothing is offered back as new and the device's
// next update replaces that item.
TEST_F(SyncMLSessionTest, RolledBackUpdateLeavesNoDuplicate) {
  fake_.Add(ContactData{.full_name = u"Ann"});
  StartSession(u"20260101T000000Z");
  ASSERT_EQ(1u, SendNew(SYNC_OBJECT_CONTACT, true).size());
  ASSERT_EQ(1, SyncMLSetSyncComplete(Anchor(u"20260102T000000Z")));
  SyncMLDeleteTempFiles();

  StartSession(u"20260102T000000Z");
  ASSERT_EQ(1, SyncMLUpdateRecord(SYNC_OBJECT_CONTACT, W(u"L2a"), W(Received("a.vcf", kVCard))));
  const std::vector<WString> updated = fake_.EntryIds(outlook::kFolderContacts);
  ASSERT_EQ(1u, updated.size());
  ASSERT_EQ(1, SyncMLRestoreDBFiles(kPhone));
  EXPECT_EQ(Concat({AnchorBytes(1, u"20260102T000000Z"), DeviceRecordBytes(2, updated[0], u"L2a")}),
            ReadBytes(Database()));

  StartSession(u"20260102T000000Z");
  EXPECT_TRUE(SendNew(SYNC_OBJECT_CONTACT, true).empty());
  ASSERT_EQ(1, SyncMLUpdateRecord(SYNC_OBJECT_CONTACT, W(u"L2a"), W(Received("b.vcf", kVCard))));
  EXPECT_EQ(1u, fake_.EntryIds(outlook::kFolderContacts).size());
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
