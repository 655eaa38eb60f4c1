// The record exports of both schemes against the fake item store: the
// enumeration, the modified-record reports, creation from received files,
// updates and deletions, with the bookkeeping files checked as bytes.
#include <gtest/gtest.h>

#include <fstream>

#include "store/session.h"
#include "support/fake_outlook.h"
#include "support/scratch.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

using outlook::ConnectResult;
namespace fs = std::filesystem;

std::u16string Text(const ZS_WCHAR* buffer) { return reinterpret_cast<const char16_t*>(buffer); }

constexpr uint64_t kAddress = 0x0000A1B2C3D4E5F6ull;

class RecordExportsTest : public LibraryTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, ::SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
    _SYNCML_SYNCANCHOR_RECORD anchor{};
    ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, anchor));
    ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  }
  void TearDown() override { EXPECT_EQ(0, fake_.live_objects()) << fake_.DescribeLiveObjects(); }

  fs::path Database() const { return InSync("dev_db.DAT"); }
  fs::path Log() const { return InSync("SyncModificationLog.DAT"); }
  fs::path SyncDatabase() const { return InSync("a1b2c3d4e5f6_SyncMLDB.DAT"); }
  fs::path SyncLog() const { return InSync("SyncMLModificationLog.DAT"); }
  fs::path Temp(const std::string& name = "") const { return scratch_.path() / "temp" / name; }
  WString TempW(const std::string& name) const { return ToWide(Temp(name)); }

  // A file received from the device, in the temporary folder.
  WString Received(const std::string& name, const std::string& content) {
    std::ofstream(Temp(name), std::ios::binary) << content;
    return TempW(name);
  }
  void Map(const fs::path& db, Bytes header, uint32_t type, const std::u16string& entry,
           const std::u16string& luid) {
    Bytes bytes = Exists(db) ? ReadBytes(db) : header;
    Bytes record = DeviceRecordBytes(type, entry, luid);
    bytes.insert(bytes.end(), record.begin(), record.end());
    WriteBytes(db, bytes);
  }
  void MapIrmc(uint32_t type, const std::u16string& entry, const std::u16string& luid) {
    Map(Database(), {0, 0, 0, 0}, type, entry, luid);
  }
  void MapSyncML(uint32_t type, const std::u16string& entry, const std::u16string& luid) {
    Map(SyncDatabase(), Bytes(48, 0), type, entry, luid);
  }
  Bytes IrmcRecords() const {
    Bytes bytes = ReadBytes(Database());
    return bytes.size() >= 4 ? Bytes(bytes.begin() + 4, bytes.end()) : Bytes();
  }
  Bytes SyncMLRecords() const {
    Bytes bytes = ReadBytes(SyncDatabase());
    return bytes.size() >= 48 ? Bytes(bytes.begin() + 48, bytes.end()) : Bytes();
  }

  FakeOutlook fake_;
  outlook::ScopedObjectModel use_{fake_};
  ZS_WCHAR entry_[260] = {0}, luid_[260] = {0}, path_[260] = {0};
};

// --- New records ----------------------------------------------------------

TEST_F(RecordExportsTest, InboxSkipsAMeetingRequestAndNamesTheFileAfterTheSender) {
  fake_.AddOther(outlook::kFolderInbox);
  const WString mail = fake_.AddMail(outlook::kFolderInbox, {.sender_name = u"Ann"});
  ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_MESSAGE, entry_, path_));
  EXPECT_EQ(mail, Text(entry_));
  EXPECT_EQ(TempW("Ann.vmg"), Text(path_));
  EXPECT_TRUE(Exists(Temp("Ann.vmg")));
  EXPECT_EQ(3, CurrentSession().cursors[0].index);
  EXPECT_EQ(DeviceRecordBytes(0, mail, u"UNDEFINED"), IrmcRecords());
}

TEST_F(RecordExportsTest, ContactsAreDeliveredInOrderThenTheCursorIsExhausted) {
  const WString a = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"A"});
  const WString b = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"B"});
  const WString c = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"C"});
  for (const WString& expected : {a, b, c}) {
    ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
    EXPECT_EQ(expected, Text(entry_));
  }
  EXPECT_EQ(TempW("C.vcf"), Text(path_));
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(0, fake_.Count("Items.Item", {"4"}));
  // A new contact lies beyond the cached count until the cursors are reset.
  fake_.AddContact(outlook::kFolderContacts, {.full_name = u"D"});
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(1, ::SyncMLResetCounters());
  ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(TempW("D.vcf"), Text(path_));
}

TEST_F(RecordExportsTest, AllKnownWalksPastTheEndAndRestsAtCountPlusOne) {
  for (const char16_t* name : {u"A", u"B"}) {
    MapIrmc(2, fake_.AddContact(outlook::kFolderContacts, {.full_name = name}), u"UNDEFINED");
  }
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(3, CurrentSession().cursors[2].index);
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
}

struct StemCase {
  const char* name;
  MailData mail;
  std::string file;
};

class MailStemTest : public RecordExportsTest, public ::testing::WithParamInterface<StemCase> {};

TEST_P(MailStemTest, NamesTheVMessage) {
  fake_.AddMail(outlook::kFolderInbox, GetParam().mail);
  ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_MESSAGE, entry_, path_));
  EXPECT_EQ(TempW(GetParam().file), Text(path_));
  // The vMessage is a real file in the temporary folder.
  EXPECT_FALSE(ReadBytes(Temp(GetParam().file)).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Stems, MailStemTest,
    ::testing::Values(StemCase{"Sender", {.sender_name = u"Bo", .sent_on_behalf_of_name = u"Cy"}, "Bo.vmg"},
                      StemCase{"OnBehalf", {.sent_on_behalf_of_name = u"Cy"}, "Cy.vmg"},
                      StemCase{"Unnamed", {}, "UnNamedMail.vmg"},
                      StemCase{"EmptySender", {.sender_name = u"", .sent_on_behalf_of_name = u"Cy"}, "UnNamedMail.vmg"},
                      StemCase{"Quoted", {.sender_name = u"\"ACME\" <support>"}, "_ACME_ _support_.vmg"}),
    [](const ::testing::TestParamInfo<StemCase>& info) { return info.param.name; });

TEST_F(RecordExportsTest, AppointmentsFallBackToICalendarAndNoSubjectIsNamed) {
  fake_.AddAppointment(outlook::kFolderCalendar, {});
  fake_.AddAppointment(outlook::kFolderCalendar, {.subject = u"Trip"});
  ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_CALENDAR, entry_, path_));
  EXPECT_EQ(TempW("NOSUBJECT.vcs"), Text(path_));
  fake_.FailOn("AppointmentItem.SaveAs", WithArg(1, "7"));
  ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_CALENDAR, entry_, path_));
  EXPECT_EQ(TempW("Trip.ics"), Text(path_));
  EXPECT_TRUE(Exists(Temp("Trip.ics")));
}

TEST_F(RecordExportsTest, NotesGetFreshUuidNamesAndVNotesOrTextByScheme) {
  fake_.AddNote(outlook::kFolderNotes, {.body = u"Buy milk"});
  fake_.AddNote(outlook::kFolderNotes, {.body = u"Call Bo"});
  ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_NOTE, entry_, path_));
  const std::u16string first = Text(path_);
  ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_NOTE, entry_, path_));
  EXPECT_NE(first, Text(path_));
  EXPECT_EQ(TempW("").size() + 36 + 4, first.size());
  EXPECT_EQ(u".vnt", first.substr(first.size() - 4));
  const Bytes vnote = ReadBytes(fs::path(Utf16ToUtf8(first)));
  EXPECT_NE(std::string::npos, std::string(vnote.begin(), vnote.end()).find("BEGIN:VNOTE"));
  // The SyncML twin sends the body text alone.
  ASSERT_EQ(1, ::SyncMLResetCounters());
  ASSERT_EQ(1, SyncMLGetNewRecord(SYNC_OBJECT_NOTE, entry_, path_));
  const Bytes text = ReadBytes(fs::path(Utf16ToUtf8(Text(path_))));
  EXPECT_EQ("Buy milk", std::string(text.begin(), text.end()));
}

TEST_F(RecordExportsTest, NoWindowQuitsAndBadTypesDeliverNothing) {
  fake_.AddContact(outlook::kFolderContacts, {.full_name = u"A"});
  fake_.SetWindow(false);
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(1, fake_.Count("Application.Quit"));
  fake_.SetWindow(true);
  EXPECT_EQ(0, GetNewRecord(static_cast<_SYNC_OBJECT_TYPE>(4), entry_, path_));
  fake_.FailOn("Connect", ConnectResult::kNotRegistered);
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_FALSE(Exists(Database()));
}

// Names as users give them become file names the platform can hold, in the
// temporary folder, without splitting a character.
TEST_F(RecordExportsTest, ItemNamesBecomeSafeFileNames) {
  const std::u16string cjk(90, u'\u4e2d'), emoji = std::u16string(200, u'x') + u"\U0001F600\U0001F600";
  const struct {
    std::u16string name;
    std::u16string file;  // empty: checked by its bounds only
  } cases[] = {{u"AC/DC", u"AC_DC.vcf"}, {u"Q3\\Q4 *review*", u"Q3_Q4 _review_.vcf"},
               {u"Lunch?|<>", u"Lunch____.vcf"}, {u"Call 10:30\t", u"Call 10_30_.vcf"},
               {u"..", u"UnNamedContact.vcf"}, {u"", u"UnNamedContact.vcf"}, {u"CON", u"UnNamedContact.vcf"},
               {u"lpt1.x", u"UnNamedContact.vcf"}, {u"../../escape", u".._.._escape.vcf"}, {cjk, u""},
               {emoji, u""}, {std::u16string(400, u'n'), u""}};
  for (const auto& c : cases) fake_.AddContact(outlook::kFolderContacts, {.full_name = c.name});
  for (const auto& c : cases) {
    ASSERT_EQ(1, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_)) << Utf16ToUtf8(c.name);
    const std::u16string path = Text(path_);
    ASSERT_EQ(TempW(""), path.substr(0, TempW("").size()));
    const std::u16string file = path.substr(TempW("").size());
    // From UTF-16: a narrow path means the ANSI code page on Windows.
    EXPECT_TRUE(Exists(fs::path(path)));
    if (!c.file.empty()) {
      EXPECT_EQ(c.file, file);
      continue;
    }
    // Cut to fit, at a character boundary.
    EXPECT_LE(path.size(), 259u);
    EXPECT_LE(FileNameLength(file), kMaxFileNameLength);
    EXPECT_EQ(c.name.substr(0, file.size() - 4), file.substr(0, file.size() - 4));
    EXPECT_FALSE(file[file.size() - 5] >= 0xD800 && file[file.size() - 5] <= 0xDBFF);
  }
}

// An item whose file cannot be made (a failed read of the store, a full
// disk) is passed over: the items after it are still handed out, it has no
// record, and the next session hands it out.
struct PassOver {
  const char* name;
  uint32_t type;
  const char* failing;  // the call that fails for the second item
};

class PassOverTest : public RecordExportsTest,
                     public ::testing::WithParamInterface<std::tuple<PassOver, bool>> {
 protected:
  WString Add(uint32_t type, const std::u16string& name) {
    switch (type) {
      case SYNC_OBJECT_MESSAGE:
        return fake_.AddMail(outlook::kFolderInbox, {.sender_name = name, .html_body = u"<p>hi</p>"});
      case SYNC_OBJECT_NOTE:
        return fake_.AddNote(outlook::kFolderNotes, {.body = name});
      case SYNC_OBJECT_CONTACT:
        return fake_.AddContact(outlook::kFolderContacts, {.full_name = name});
      default:
        return fake_.AddAppointment(outlook::kFolderCalendar, {.subject = name});
    }
  }
};

TEST_P(PassOverTest, AnItemWhoseFileCannotBeMadeDoesNotStopTheOthers) {
  const auto& [c, syncml] = GetParam();
  auto get_new = syncml ? SyncMLGetNewRecord : GetNewRecord;
  auto get_modified = syncml ? SyncMLGetModifiedRecord : GetModifiedRecord;
  const std::vector<WString> ids = {Add(c.type, u"A"), Add(c.type, u"B"), Add(c.type, u"C")};
  auto fail_for = [&](const WString& id) { return [id](const Call& call, int) { return call.entry_id == id; }; };
  fake_.FailOn(c.failing, fail_for(ids[1]));
  std::vector<WString> handed;
  while (get_new(static_cast<_SYNC_OBJECT_TYPE>(c.type), entry_, path_) == 1) {
    EXPECT_TRUE(Exists(fs::path(Utf16ToUtf8(Text(path_)))));
    handed.push_back(Text(entry_));
  }
  EXPECT_EQ((std::vector<WString>{ids[0], ids[2]}), handed);
  EXPECT_EQ(Concat({DeviceRecordBytes(c.type, ids[0], u"UNDEFINED"), DeviceRecordBytes(c.type, ids[2], u"UNDEFINED")}),
            syncml ? SyncMLRecords() : IrmcRecords());
  fake_.ClearFailures();
  ASSERT_EQ(1, ::SyncMLResetCounters());
  handed.clear();
  while (get_new(static_cast<_SYNC_OBJECT_TYPE>(c.type), entry_, path_) == 1) handed.push_back(Text(entry_));
  EXPECT_NE(handed.end(), std::find(handed.begin(), handed.end(), ids[1]));

  // The same for changes: the change whose file cannot be made stays in the
  // log, and the one after it is reported.
  const fs::path db = syncml ? SyncDatabase() : Database();
  WriteBytes(db, syncml ? Bytes(48, 0) : Bytes(4, 0));
  Bytes log;
  for (size_t i = 0; i < ids.size(); ++i) {
    Map(db, {}, c.type, ids[i], u"L" + std::u16string(1, u'0' + i));
    Bytes record = syncml ? SyncMLLogRecordBytes(c.type, 0, ids[i]) : LogRecordBytes(c.type, 0, ids[i]);
    log.insert(log.end(), record.begin(), record.end());
  }
  WriteBytes(syncml ? SyncLog() : Log(), log);
  fake_.FailOn(c.failing, fail_for(ids[0]));
  handed.clear();
  while (get_modified(static_cast<_SYNC_OBJECT_TYPE>(c.type), entry_, luid_, path_) == 1) handed.push_back(Text(entry_));
  EXPECT_EQ((std::vector<WString>{ids[1], ids[2]}), handed);
  EXPECT_EQ(syncml ? SyncMLLogRecordBytes(c.type, 0, ids[0]) : LogRecordBytes(c.type, 0, ids[0]),
            ReadBytes(syncml ? SyncLog() : Log()));
}

INSTANTIATE_TEST_SUITE_P(
    Types, PassOverTest,
    ::testing::Combine(::testing::Values(PassOver{"Mail", SYNC_OBJECT_MESSAGE, "MailItem.HTMLBody"},
                                         PassOver{"Note", SYNC_OBJECT_NOTE, "NoteItem.Body"},
                                         PassOver{"Contact", SYNC_OBJECT_CONTACT, "ContactItem.SaveAs"},
                                         PassOver{"Event", SYNC_OBJECT_CALENDAR, "AppointmentItem.Subject"}),
                       ::testing::Bool()),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "SyncML" : "Irmc");
    });

TEST_F(RecordExportsTest, AnItemWhoseRecordCannotBeWrittenIsNotReportedDelivered) {
  fake_.AddContact(outlook::kFolderContacts, {.full_name = u"A"});
  // The database is a folder: nothing can be appended.
  fs::create_directories(Database());
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(2, CurrentSession().cursors[2].index);
}

TEST_F(RecordExportsTest, SyncMLDeliversUnconfirmedItemsAgainAndSkipsMappedOnesOfAnyType) {
  const WString e1 = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"E1"});
  const WString e2 = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"E2"});
  MapSyncML(2, e1, u"UNDEFINED");
  MapSyncML(3, e2, u"L7");
  ASSERT_EQ(1, SyncMLGetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(e1, Text(entry_));
  EXPECT_EQ(0, SyncMLGetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(Concat({DeviceRecordBytes(2, e1, u"UNDEFINED"), DeviceRecordBytes(3, e2, u"L7"),
                    DeviceRecordBytes(2, e1, u"UNDEFINED")}),
            SyncMLRecords());
  // Stepping back offers the unconfirmed item again.
  EXPECT_EQ(1, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_CONTACT));
  EXPECT_EQ(1, ::SyncMLDecrementSyncObjectIndex(SYNC_OBJECT_CONTACT));
  ASSERT_EQ(1, SyncMLGetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  EXPECT_EQ(e1, Text(entry_));
}

// --- Modified records -----------------------------------------------------

TEST_F(RecordExportsTest, ModifiedContactIsReportedOnceWithItsLuidAndAllEntriesGo) {
  const WString c = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"Cy"});
  MapIrmc(2, c, u"LC");
  WriteBytes(Log(), Concat({LogRecordBytes(2, 1, u"gone"), LogRecordBytes(2, 0, c),
                            LogRecordBytes(2, 0, c), LogRecordBytes(2, 1, c), LogRecordBytes(1, 0, c)}));
  ASSERT_EQ(1, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, luid_, path_));
  EXPECT_EQ(c, Text(entry_));
  EXPECT_EQ(u"LC", Text(luid_));
  EXPECT_EQ(TempW("Cy.vcf"), Text(path_));
  EXPECT_EQ(Concat({LogRecordBytes(2, 1, u"gone"), LogRecordBytes(1, 0, c)}), ReadBytes(Log()));
  EXPECT_EQ(0, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, luid_, path_));
}

TEST_F(RecordExportsTest, IrmcPassesOverUnmappedChangesAndDropsItemsItCannotExport) {
  const WString unmapped = fake_.AddNote(outlook::kFolderNotes, {.body = u"x"});
  const WString mapped = fake_.AddNote(outlook::kFolderNotes, {.body = u"y"});
  MapIrmc(1, unmapped, u"UNDEFINED");
  MapIrmc(1, mapped, u"LN");
  MapIrmc(1, u"moved-away", u"LM");
  WriteBytes(Log(), Concat({LogRecordBytes(1, 0, unmapped), LogRecordBytes(1, 0, mapped),
                            LogRecordBytes(1, 0, u"moved-away")}));
  ASSERT_EQ(1, GetModifiedRecord(SYNC_OBJECT_NOTE, entry_, luid_, path_));
  EXPECT_EQ(u"LN", Text(luid_));
  EXPECT_EQ(0, GetModifiedRecord(SYNC_OBJECT_NOTE, entry_, luid_, path_));
  EXPECT_EQ(LogRecordBytes(1, 0, unmapped), ReadBytes(Log()));
}

TEST_F(RecordExportsTest, IrmcKeepsTheChangeWhenTheStoreCannotBeReached) {
  const WString c = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"Cy"});
  MapIrmc(2, c, u"LC");
  WriteBytes(Log(), LogRecordBytes(2, 0, c));
  fake_.SetWindow(false);
  EXPECT_EQ(0, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, luid_, path_));
  fake_.SetWindow(true);
  fake_.FailOn("Connect", ConnectResult::kCreationFailed);
  EXPECT_EQ(0, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, luid_, path_));
  EXPECT_EQ(LogRecordBytes(2, 0, c), ReadBytes(Log()));
  fake_.ClearFailures();
  EXPECT_EQ(1, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, luid_, path_));
}

struct AnchorFit {
  const char* name;
  uint32_t kind;
  std::u16string time;
  uint32_t number;
  std::vector<std::pair<std::u16string, uint32_t>> stamps;  // change time, number
  std::vector<bool> fits;
};

class AnchorFitTest : public RecordExportsTest, public ::testing::WithParamInterface<AnchorFit> {};

TEST_P(AnchorFitTest, OnlyChangesNotOlderThanTheSessionAnchorAreReported) {
  const AnchorFit& c = GetParam();
  std::vector<WString> ids;
  Bytes log;
  for (const auto& [time, number] : c.stamps) {
    ids.push_back(fake_.AddNote(outlook::kFolderNotes, {.body = u"n"}));
    MapSyncML(1, ids.back(), u"L" + ids.back());
    Bytes record = SyncMLLogRecordBytes(1, 0, ids.back(), time, number);
    log.insert(log.end(), record.begin(), record.end());
  }
  WriteBytes(SyncLog(), log);
  _SYNCML_SYNCANCHOR_RECORD& anchor = CurrentSession().anchor;
  anchor.AnchorKind = c.kind;
  std::copy(c.time.begin(), c.time.end(), reinterpret_cast<char16_t*>(anchor.TimeAnchor));
  anchor.NumericAnchor = c.number;
  std::vector<bool> reported(ids.size(), false);
  while (SyncMLGetModifiedRecord(SYNC_OBJECT_NOTE, entry_, luid_, path_) == 1) {
    for (size_t i = 0; i < ids.size(); ++i) reported[i] = reported[i] || ids[i] == Text(entry_);
  }
  EXPECT_EQ(c.fits, reported);
}

INSTANTIATE_TEST_SUITE_P(
    Anchors, AnchorFitTest,
    ::testing::Values(
        AnchorFit{"NumberZero", 0, u"", 0, {{u"", 0}, {u"", 5}}, {true, true}},
        AnchorFit{"Number7", 0, u"", 7, {{u"", 6}, {u"", 7}, {u"", 9}}, {false, true, true}},
        AnchorFit{"InitialTime", 1, u"00000000T000000Z", 0, {{u"", 0}, {u"20090315T120000Z", 0}}, {true, true}},
        AnchorFit{"Time", 1, u"20090315T143000Z", 0,
                  {{u"20090316T100000Z", 0}, {u"20090315T120000Z", 0}, {u"20090315T143000Z", 0}, {u"", 0}},
                  {true, false, true, false}}),
    [](const ::testing::TestParamInfo<AnchorFit>& info) { return info.param.name; });

TEST_F(RecordExportsTest, SyncMLDropsUnmappedChangesAndKeepsOnesItCannotExport) {
  const WString unmapped = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"U"});
  const WString mapped = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"M"});
  MapSyncML(2, mapped, u"LM");
  MapSyncML(3, u"deleted-appointment", u"LA");
  WriteBytes(SyncLog(), Concat({SyncMLLogRecordBytes(2, 0, unmapped), SyncMLLogRecordBytes(2, 0, mapped),
                                SyncMLLogRecordBytes(3, 0, u"deleted-appointment")}));
  ASSERT_EQ(1, SyncMLGetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, luid_, path_));
  EXPECT_EQ(mapped, Text(entry_));
  EXPECT_EQ(SyncMLLogRecordBytes(3, 0, u"deleted-appointment"), ReadBytes(SyncLog()));
  EXPECT_EQ(0, SyncMLGetModifiedRecord(SYNC_OBJECT_CALENDAR, entry_, luid_, path_));
  EXPECT_EQ(0, SyncMLGetModifiedRecord(SYNC_OBJECT_CALENDAR, entry_, luid_, path_));
  EXPECT_EQ(SyncMLLogRecordBytes(3, 0, u"deleted-appointment"), ReadBytes(SyncLog()));
}

// --- Creation ---------------------------------------------------------------

const char kVCard[] = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jo\r\nFN:Jo Doe\r\nEND:VCARD\r\n";
const char kAllDayVCal[] =
    "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Fair\r\n"
    "DESCRIPTION:X-BLUETOOTH-ALLDAYEVENT:TRUE\r\nDTSTART:20260105T000000\r\n"
    "DTEND:20260106T000000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
const char kVNote[] = "BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:Buy milk\r\nEND:VNOTE\r\n";

TEST_F(RecordExportsTest, ContactImportRecordsTheLuidAndADuplicateCreatesNothing) {
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("a.vcf", kVCard))));
  EXPECT_FALSE(Exists(Temp("a.vcf")));
  const std::vector<WString> contacts = fake_.EntryIds(outlook::kFolderContacts);
  ASSERT_EQ(1u, contacts.size());
  EXPECT_EQ(u"Jo Doe", *fake_.FindContact(contacts[0])->full_name);
  EXPECT_EQ(DeviceRecordBytes(2, contacts[0], u"L1"), IrmcRecords());
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("b.vcf", kVCard))));
  EXPECT_FALSE(Exists(Temp("b.vcf")));
  EXPECT_EQ(1u, fake_.EntryIds(outlook::kFolderContacts).size());
}

TEST_F(RecordExportsTest, UnknownExtensionsAreConsumedWithoutAnItem) {
  for (const char* name : {"x.VCF", "x.doc", "noextension"}) {
    ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L"), W(Received(name, kVCard)))) << name;
    EXPECT_FALSE(Exists(Temp(name))) << name;
  }
  EXPECT_TRUE(fake_.EntryIds(outlook::kFolderContacts).empty());
  EXPECT_FALSE(Exists(Database()));
}

// Both schemes keep an all-day event all-day, on creation and on update.
TEST_F(RecordExportsTest, AllDayMarkerAppliesToCalendarImportsOfBothSchemes) {
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CALENDAR, W(u"L1"), W(Received("a.vcs", kAllDayVCal))));
  ASSERT_EQ(1, SyncMLCreateNewRecord(SYNC_OBJECT_CALENDAR, W(Received("b.vcs", kAllDayVCal)), W(u"L2")));
  ASSERT_EQ(1, SyncMLUpdateRecord(SYNC_OBJECT_CALENDAR, W(u"L2"), W(Received("c.ics", kAllDayVCal))));
  EXPECT_EQ(3, fake_.Count("AppointmentItem.PutAllDayEvent", {"1"}));
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L3"), W(Received("c.vcf",
                std::string(kVCard) + "NOTE:X-BLUETOOTH-ALLDAYEVENT:TRUE\r\n"))));
  EXPECT_EQ(3, fake_.Count("AppointmentItem.PutAllDayEvent"));
}

TEST_F(RecordExportsTest, WithoutAWindowSharedImportsLogOffAndQuitButMailAndNotesDoNot) {
  fake_.SetWindow(false);
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("a.vcf", kVCard))));
  EXPECT_EQ(1, fake_.Count("Namespace.Logoff"));
  EXPECT_EQ(1, fake_.Count("Application.Quit"));
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_NOTE, W(u"L2"), W(Received("a.vnt", kVNote))));
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_NOTE, W(u"L3"), W(Received("a.unknown", "x"))));
  EXPECT_EQ(2, fake_.Count("Application.Quit"));
  fake_.SetWindow(true);
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L4"), W(Received("b.vcf", kVCard))));
  EXPECT_EQ(2, fake_.Count("Application.Quit"));
  EXPECT_EQ(2, fake_.Count("Namespace.Logoff"));
}

// The user's instance, running with no window (minimised to the
// notification area), is never logged off or told to quit.
TEST_F(RecordExportsTest, TheUsersRunningInstanceIsNeverQuit) {
  fake_.SetWindow(false);
  fake_.SetRunning(true);
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, entry_, path_));
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("a.vcf", kVCard))));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L2"), W(Received("b.vcf", "no card"))));
  fake_.FailOn("Application.Session");
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_NOTE, W(u"L3"), W(Received("c.vnt", kVNote))));
  EXPECT_EQ(0, fake_.Count("Application.Quit") + fake_.Count("Namespace.Logoff"));
}

// A created mail or note that cannot be saved has no entry ID: the creation
// fails, nothing is recorded and the item is discarded.
TEST_F(RecordExportsTest, ACreatedMailOrNoteThatCannotBeSavedIsNoCreation) {
  const std::string vmsg =
      "BEGIN:VMSG\nVERSION:1.1\nBEGIN:VENV\nBEGIN:VBODY\nContent-Type:text/html; "
      "charset=\"US-ASCII\"\nContent-Transfer-Encoding:quoted-printable\n\nhi\nEND:VBODY\n"
      "END:VENV\nEND:VMSG\n";
  fake_.FailOn("*.Save");
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_NOTE, W(u"L1"), W(Received("a.vnt", kVNote))));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_MESSAGE, W(u"L2"), W(Received("m.vmg", vmsg))));
  EXPECT_EQ(2, fake_.Count("*.Delete"));
  EXPECT_EQ(0, fake_.Count("MailItem.Move"));
  EXPECT_FALSE(Exists(Database()));
  EXPECT_TRUE(fake_.EntryIds(outlook::kFolderInbox).empty());
  EXPECT_TRUE(fake_.EntryIds(outlook::kFolderNotes).empty());

  // An empty entry ID, as an unsaved item reports it, names nothing: it is
  // neither delivered nor recorded.
  fake_.AddNote(outlook::kFolderNotes, {.entry_id = u"", .body = u"Unsaved"});
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_NOTE, entry_, path_));
  EXPECT_FALSE(Exists(Database()));
}

TEST_F(RecordExportsTest, ConnectionFailuresKeepOrConsumeTheFileAsTheyShould) {
  const WString path = Received("a.vcf", kVCard);
  fake_.FailOn("Connect", ConnectResult::kNotRegistered, OnCall(1));
  fake_.FailOn("Connect", ConnectResult::kCreationFailed, OnCall(2));
  fake_.FailOn("Connect", ConnectResult::kNoObject, OnCall(3));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L"), W(path)));
  EXPECT_TRUE(Exists(Temp("a.vcf")));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L"), W(path)));
  EXPECT_TRUE(Exists(Temp("a.vcf")));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L"), W(path)));
  EXPECT_FALSE(Exists(Temp("a.vcf")));
  fake_.FailOn("Application.Session");
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L"), W(Received("b.vcf", kVCard))));
  EXPECT_FALSE(Exists(Temp("b.vcf")));
  // An instance showing a window is the user's and stays; one started
  // for the call is told to quit.
  EXPECT_EQ(0, fake_.Count("Application.Quit"));
  fake_.SetWindow(false);
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L"), W(Received("c.vcf", kVCard))));
  EXPECT_EQ(1, fake_.Count("Application.Quit"));
  // An update of a LUID the database does not know is a creation, and keeps
  // its file alike when the store cannot be started.
  fake_.ClearFailures();
  fake_.FailOn("Connect", ConnectResult::kCreationFailed);
  EXPECT_EQ(0, UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L9"), W(Received("d.vcf", kVCard))));
  EXPECT_TRUE(Exists(Temp("d.vcf")));
}

TEST_F(RecordExportsTest, NotesFollowTheExtensionAndRecordTheCallersType) {
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("a.vnt", kVNote))));
  const std::vector<WString> notes = fake_.EntryIds(outlook::kFolderNotes);
  ASSERT_EQ(1u, notes.size());
  EXPECT_EQ(u"Buy milk", *fake_.FindNote(notes[0])->body);
  EXPECT_EQ(DeviceRecordBytes(2, notes[0], u"L1"), IrmcRecords());
}

TEST_F(RecordExportsTest, MailIsRecordedUnderTheEntryIdItGotInTheInbox) {
  const std::string vmsg =
      "BEGIN:VMSG\nVERSION:1.1\nX-IRMC-STATUS:READ\nX-IRMC-BOX:INBOX\nBEGIN:VCARD\nVERSION:2.1\n"
      "N:Ann\nEND:VCARD\nBEGIN:VENV\nBEGIN:VBODY\n"
      "Content-Type: text/html; charset=\"UTF-8\"\nContent-Transfer-Encoding: quoted-printable\n\n"
      "hi\nEND:VBODY\nEND:VENV\nEND:VMSG\n";
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_MESSAGE, W(u"LM"), W(Received("m.vmg", vmsg))));
  const std::vector<WString> inbox = fake_.EntryIds(outlook::kFolderInbox);
  ASSERT_EQ(1u, inbox.size());
  ASSERT_EQ(1, fake_.Count("MailItem.Move"));
  EXPECT_NE(fake_.Calls("MailItem.Move")[0].entry_id, inbox[0]);
  EXPECT_EQ(DeviceRecordBytes(0, inbox[0], u"LM"), IrmcRecords());
  EXPECT_FALSE(Exists(Temp("m.vmg")));
}

TEST_F(RecordExportsTest, AnItemWhoseRecordCannotBeWrittenIsDeletedAgain) {
  fs::create_directories(Database());  // the database cannot be appended to
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("a.vcf", kVCard))));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_NOTE, W(u"L2"), W(Received("a.vnt", kVNote))));
  EXPECT_TRUE(fake_.EntryIds(outlook::kFolderContacts).empty());
  EXPECT_TRUE(fake_.EntryIds(outlook::kFolderNotes).empty());
  EXPECT_FALSE(Exists(Temp("a.vcf")));
}

TEST_F(RecordExportsTest, SyncMLCreationWithoutLuidAndFromPlainText) {
  for (const char* name : {"a.vnt", "b.vnt"}) {
    ASSERT_EQ(1, SyncMLCreateNewRecord(SYNC_OBJECT_NOTE, W(Received(name, kVNote)), nullptr));
  }
  ASSERT_EQ(1, SyncMLCreateNewRecord(SYNC_OBJECT_NOTE, W(Received("c.txt", "Line 1\nLine 2")), W(u"LT")));
  ASSERT_EQ(1, SyncMLCreateNewRecord(SYNC_OBJECT_CONTACT, W(Received("d.txt", "x")), W(u"LX")));
  // A note sent as text comes back edited as text in a ".vnt" file: over
  // SyncML it is read as the note's text; IrMC has no such form.
  ASSERT_EQ(1, SyncMLCreateNewRecord(SYNC_OBJECT_NOTE, W(Received("e.vnt", "Edited\r\ntext")), W(u"LE")));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_NOTE, W(u"LI"), W(Received("f.vnt", "Edited\r\ntext"))));
  const std::vector<WString> notes = fake_.EntryIds(outlook::kFolderNotes);
  ASSERT_EQ(4u, notes.size());
  EXPECT_EQ(u"Line 1\nLine 2", *fake_.FindNote(notes[2])->body);
  EXPECT_EQ(u"Edited\ntext", *fake_.FindNote(notes[3])->body);
  EXPECT_EQ(Concat({DeviceRecordBytes(1, notes[0], u"UNDEFINED"), DeviceRecordBytes(1, notes[1], u"UNDEFINED"),
                    DeviceRecordBytes(1, notes[2], u"LT"), DeviceRecordBytes(1, notes[3], u"LE")}),
            SyncMLRecords());
  EXPECT_FALSE(Exists(Temp("d.txt")));
  EXPECT_EQ(0, SyncMLCreateNewRecord(SYNC_OBJECT_NOTE, nullptr, W(u"L")));
}

TEST_F(RecordExportsTest, BadInputIsRefusedOrConsumedCleanly) {
  const std::u16string luid259(259, u'x'), luid260(260, u'y');
  ASSERT_EQ(1, CreateNewRecord(SYNC_OBJECT_CONTACT, W(luid259), W(Received("a.vcf", kVCard))));
  EXPECT_EQ(DeviceRecordBytes(2, fake_.EntryIds(outlook::kFolderContacts)[0], luid259), IrmcRecords());
  // Longer than an interface buffer: refused before anything happens.
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(luid260), W(Received("b.vcf", kVCard))));
  EXPECT_TRUE(Exists(Temp("b.vcf")));
  EXPECT_EQ(0, DeleteRecord(SYNC_OBJECT_CONTACT, W(luid260)));
  EXPECT_EQ(0, CreateNewRecord(SYNC_OBJECT_CONTACT, W(u"L"), nullptr));
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_CONTACT, nullptr, path_));
  EXPECT_EQ(0, GetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, nullptr, path_));
  // An entry ID that does not fit a record is not handed out.
  fake_.AddNote(outlook::kFolderNotes, {.entry_id = std::u16string(300, u'e'), .body = u"x"});
  ZS_WCHAR entry[260], path[260];
  ::SyncMLResetCounters();
  EXPECT_EQ(0, GetNewRecord(SYNC_OBJECT_NOTE, entry, path));
}

// --- Updates and deletions -------------------------------------------------

TEST_F(RecordExportsTest, DeleteOfAnUnknownLuidDoesNotStartTheStore) {
  EXPECT_EQ(1, DeleteRecord(SYNC_OBJECT_CONTACT, W(u"nope")));
  EXPECT_EQ(1, SyncMLDeleteRecord(SYNC_OBJECT_CONTACT, W(u"nope")));
  EXPECT_EQ(0, fake_.Count("Connect"));
}

TEST_F(RecordExportsTest, DeleteRemovesItemLogEntriesAndRecord) {
  const WString c = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"Cy"});
  const WString d = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"Di"});
  MapIrmc(2, c, u"LC");
  MapIrmc(2, d, u"LD");
  WriteBytes(Log(), Concat({LogRecordBytes(2, 0, c), LogRecordBytes(2, 0, d)}));
  fake_.SetWindow(false);
  EXPECT_EQ(0, DeleteRecord(SYNC_OBJECT_CONTACT, W(u"LC")));
  EXPECT_EQ(2u, fake_.EntryIds(outlook::kFolderContacts).size());
  fake_.SetWindow(true);
  ASSERT_EQ(1, DeleteRecord(SYNC_OBJECT_CONTACT, W(u"LC")));
  EXPECT_EQ(std::vector<WString>{d}, fake_.EntryIds(outlook::kFolderContacts));
  EXPECT_EQ(LogRecordBytes(2, 0, d), ReadBytes(Log()));
  EXPECT_EQ(DeviceRecordBytes(2, d, u"LD"), IrmcRecords());
  // The other scheme hears of the deletion, stamped, after a torn append.
  Bytes logged = ReadBytes(SyncLog());
  ASSERT_EQ(572u, logged.size());
  EXPECT_EQ(LogRecordBytes(2, 1, c), Bytes(logged.begin(), logged.begin() + 528));
  EXPECT_EQ('T', logged[528 + 8 * 2]);
  WriteBytes(SyncLog(), Concat({SyncMLLogRecordBytes(2, 0, u"X", u"20260101T000000Z", 41), Bytes(9, 1)}));
  ASSERT_EQ(1, DeleteRecord(SYNC_OBJECT_CONTACT, W(u"LD")));
  logged = ReadBytes(SyncLog());
  ASSERT_EQ(2 * 572u, logged.size());
  EXPECT_EQ(LogRecordBytes(2, 1, d), Bytes(logged.begin() + 572, logged.begin() + 572 + 528));
  EXPECT_EQ(42u, logged[572 + 568]);  // the change number goes on
  // And the other way round.
  const WString e = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"Ed"});
  MapSyncML(2, e, u"SE");
  ASSERT_EQ(1, SyncMLDeleteRecord(SYNC_OBJECT_CONTACT, W(u"SE")));
  EXPECT_EQ(LogRecordBytes(2, 1, e), ReadBytes(Log()));
}

TEST_F(RecordExportsTest, UpdateReplacesTheItemUnderTheSameLuid) {
  const WString old = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"Old"});
  MapIrmc(2, old, u"L1");
  WriteBytes(Log(), LogRecordBytes(2, 0, old));
  ASSERT_EQ(1, UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("u.vcf", kVCard))));
  const std::vector<WString> contacts = fake_.EntryIds(outlook::kFolderContacts);
  ASSERT_EQ(1u, contacts.size());
  EXPECT_NE(old, contacts[0]);
  EXPECT_EQ(DeviceRecordBytes(2, contacts[0], u"L1"), IrmcRecords());
  EXPECT_EQ(0u, ReadBytes(Log()).size());
  // Unknown extension: the old item and its record go, nothing is made.
  ASSERT_EQ(1, UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L1"), W(Received("u.xyz", "x"))));
  EXPECT_TRUE(fake_.EntryIds(outlook::kFolderContacts).empty());
  EXPECT_TRUE(IrmcRecords().empty());
  // An unknown LUID is a plain creation.
  ASSERT_EQ(1, SyncMLUpdateRecord(SYNC_OBJECT_CONTACT, W(u"L9"), W(Received("v.vcf", kVCard))));
  EXPECT_EQ(DeviceRecordBytes(2, fake_.EntryIds(outlook::kFolderContacts)[0], u"L9"), SyncMLRecords());
}

// A file the PC cannot read makes no item, records nothing and gives 0, and
// an update from it leaves the old item as it was; so does an update whose
// old item cannot be deleted (the new one goes again).
TEST_F(RecordExportsTest, RejectedFilesMakeNothingAndUpdatesKeepTheOldItem) {
  const struct {
    const char* name;
    uint32_t type;
    std::string content;
  } rejected[] = {{"e.vnt", 1, ""}, {"f.vnt", 1, "BEGIN:VNOTE\r\nBODY:no end\r\n"},
                  {"g.vnt", 1, "BEGIN:VNOTE\r\nSUMMARY:x\r\nEND:VNOTE\r\n"}, {"e.vmg", 0, ""},
                  {"f.vmg", 0, "BEGIN:VMSG\n"}, {"g.vmg", 0, "BEGIN:VMSG\nBEGIN:VENV\nBEGIN:VBODY\nhi\n"},
                  {"e.vcf", 2, ""}};
  for (const auto& r : rejected) {
    const auto type = static_cast<_SYNC_OBJECT_TYPE>(r.type);
    EXPECT_EQ(0, CreateNewRecord(type, W(u"N1"), W(Received(r.name, r.content)))) << r.name;
    EXPECT_EQ(0, SyncMLCreateNewRecord(type, W(Received(r.name, r.content)), nullptr)) << r.name;
    EXPECT_FALSE(Exists(Temp(r.name))) << r.name;
  }
  for (int32_t folder : {int32_t{outlook::kFolderNotes}, int32_t{outlook::kFolderInbox},
                         int32_t{outlook::kFolderContacts}, kFolderDrafts}) {
    EXPECT_TRUE(fake_.EntryIds(folder).empty()) << folder;
  }
  EXPECT_FALSE(Exists(Database()));
  EXPECT_TRUE(SyncMLRecords().empty());

  const WString note = fake_.AddNote(outlook::kFolderNotes, {.body = u"keep me"});
  const WString contact = fake_.AddContact(outlook::kFolderContacts, {.full_name = u"Old"});
  MapIrmc(1, note, u"L1");
  MapIrmc(2, contact, u"L2");
  const Bytes records = IrmcRecords();
  EXPECT_EQ(0, UpdateRecord(SYNC_OBJECT_NOTE, W(u"L1"), W(Received("u.vnt", "BEGIN:VNOTE\r\n"))));
  fake_.FailOn("ContactItem.Delete", [&](const Call& call, int) { return call.entry_id == contact; });
  EXPECT_EQ(0, UpdateRecord(SYNC_OBJECT_CONTACT, W(u"L2"), W(Received("u.vcf", kVCard))));
  EXPECT_EQ(std::vector<WString>{note}, fake_.EntryIds(outlook::kFolderNotes));
  EXPECT_EQ(u"keep me", *fake_.FindNote(note)->body);
  EXPECT_EQ(std::vector<WString>{contact}, fake_.EntryIds(outlook::kFolderContacts));
  EXPECT_EQ(records, IrmcRecords());
  // Without a window nothing is made and the file stays for a retry.
  fake_.SetWindow(false);
  EXPECT_EQ(0, UpdateRecord(SYNC_OBJECT_NOTE, W(u"L1"), W(Received("v.vnt", kVNote))));
  EXPECT_TRUE(Exists(Temp("v.vnt")));
  EXPECT_EQ(std::vector<WString>{note}, fake_.EntryIds(outlook::kFolderNotes));
}

TEST_F(RecordExportsTest, EntryIdsDifferingInCaseDoNotMatch) {
  const WString c = fake_.AddContact(outlook::kFolderContacts, {.entry_id = u"abc", .full_name = u"C"});
  MapIrmc(2, u"ABC", u"L1");
  EXPECT_EQ(1, DeleteRecord(SYNC_OBJECT_CONTACT, W(u"L1")));
  EXPECT_EQ(std::vector<WString>{c}, fake_.EntryIds(outlook::kFolderContacts));
  EXPECT_EQ(0, fake_.Count("*.Delete"));
}

}  // namespace
}  // namespace testing
}  // namespace zelsync
