// The record exports of both schemes against the local item store (the
// store the Linux build ships), with the bookkeeping files checked as bytes:
// what is handed out, created, updated and deleted, and the catch-all at the
// C boundary. Failures inside the store come from the fault-injecting Env.
// (The Windows build's exports run in whole sessions against the stand-in
// Outlook; a killed SyncML session, in the interrupted creation tests.)
#ifndef _WIN32

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <new>
#include <set>

#include "local/entry_ids.h"
#include "records/connection.h"
#include "store/records.h"
#include "store/session.h"
#include "support/scratch.h"
#include "support/text_files.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace testing {
namespace {

using local::FolderKind;
using outlook::ConnectResult;
namespace fs = std::filesystem;

constexpr uint64_t kAddress = 0x0000A1B2C3D4E5F6ull;
const char kVCard[] = "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Doe;Jo\r\nFN:Jo Doe\r\nEND:VCARD\r\n";
const char kVNote[] = "BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:Buy milk\r\nEND:VNOTE\r\n";
const char kVMessage[] =
    "BEGIN:VMSG\nVERSION:1.1\nBEGIN:VENV\nBEGIN:VBODY\nContent-Type:text/html; "
    "charset=\"US-ASCII\"\nContent-Transfer-Encoding:quoted-printable\n\nhi\nEND:VBODY\nEND:VENV\n"
    "END:VMSG\n";
// The store's folder of each object type, and where its item files lie.
const FolderKind kKinds[] = {FolderKind::kInbox, FolderKind::kNotes, FolderKind::kContacts,
                             FolderKind::kCalendar};
const char* const kFolders[] = {"mail/inbox/cur", "notes", "contacts", "calendar"};

std::u16string Text(const ZS_WCHAR* buffer) { return reinterpret_cast<const char16_t*>(buffer); }
_SYNC_OBJECT_TYPE T(uint32_t type) { return static_cast<_SYNC_OBJECT_TYPE>(type); }

// A store that cannot be reached, with the outcome of connecting to it.
struct Unreachable : outlook::ObjectModel {
  explicit Unreachable(ConnectResult result) : result(result) {}
  ConnectResult Connect(std::shared_ptr<outlook::Application>*) override { return result; }
  ConnectResult result;
};

class RecordExportsTest : public LibraryTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, ::SetDeviceIDDatabaseID(W(u"dev"), W(u"db")));
    ASSERT_EQ(1, ::SyncMLSetBDAddrLastSyncAnchor(kAddress, _SYNCML_SYNCANCHOR_RECORD{}));
    ASSERT_EQ(1, ::SyncMLSaveDBFiles(kAddress));
  }

  fs::path Store() const { return scratch_.path() / "appdata" / "zelsync"; }
  // A file received from the device, in the temporary folder.
  const ZS_WCHAR* Received(const std::string& name, const std::string& content) {
    WriteText(Temp() / name, content);
    return W(received_.emplace_back(TempFolder() + Utf8ToUtf16(name)));
  }
  // Files a note, contact or event in the store as another program would,
  // in the file `stem`, holding (named) `name`; gives its entry ID.
  WString Put(uint32_t type, const std::string& stem, const std::string& name) {
    const std::string texts[] = {
        "", name, "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nN:;;;;\r\nEND:VCARD\r\n",
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//t//t//EN\r\nBEGIN:VEVENT\r\nUID:u\r\n"
        "DTSTAMP:20260101T000000Z\r\nDTSTART:20260105T100000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"};
    const char* const extensions[] = {"", ".txt", ".vcf", ".ics"};
    WriteText(Store() / kFolders[type] / (stem + extensions[type]), texts[type]);
    return local::EntryIdOf(kKinds[type], stem);
  }
  // The entry IDs of the type's items by their files (a mail's in cur/ or
  // new/); a scratch file left behind shows as its name.
  std::vector<WString> Ids(uint32_t type) const {
    std::vector<WString> ids;
    const fs::path folder = Store() / kFolders[type], mail = folder.parent_path();
    for (const fs::path& in : {folder, mail / "new", mail / "tmp"}) {
      if (!fs::is_directory(in) || (type != SYNC_OBJECT_MESSAGE && in != folder)) continue;
      for (const auto& entry : fs::directory_iterator(in)) {
        const std::string name = entry.path().filename().string();
        const std::string stem =
            type ? entry.path().stem().string() : name.substr(0, name.find(':'));
        const bool scratch = name[0] == '.' || in.filename() == "tmp";
        ids.push_back(scratch ? Utf8ToUtf16(name) : local::EntryIdOf(kKinds[type], stem));
      }
    }
    std::sort(ids.begin(), ids.end());
    return ids;
  }
  // The file of a note or event.
  std::string Content(uint32_t type, const WString& id) const {
    const std::string stem = Utf16ToUtf8(id.substr(id.find(u'/') + 1));
    return ReadText(Store() / kFolders[type] / (stem + (type == 1 ? ".txt" : ".ics")));
  }
  void ExpectNoItems() {
    for (uint32_t type = 0; type < 4; ++type) EXPECT_TRUE(Ids(type).empty()) << type;
  }

  // The files and exports of one scheme (syncml false: IrMC).
  fs::path Db(bool syncml) const {
    return InSync(syncml ? "a1b2c3d4e5f6_SyncMLDB.DAT" : "dev_db.DAT");
  }
  fs::path Log(bool syncml) const {
    return InSync(syncml ? "SyncMLModificationLog.DAT" : "SyncModificationLog.DAT");
  }
  static Bytes Logged(bool syncml, uint32_t type, const WString& id) {
    return syncml ? SyncMLLogRecordBytes(type, 0, id) : LogRecordBytes(type, 0, id);
  }
  void Map(bool syncml, uint32_t type, const WString& entry, const WString& luid) {
    Bytes bytes = Exists(Db(syncml)) ? ReadBytes(Db(syncml)) : Bytes(syncml ? 48 : 4, 0);
    WriteBytes(Db(syncml), Concat({bytes, DeviceRecordBytes(type, entry, luid)}));
  }
  // The records after the header, but for those marked removed.
  Bytes Records(bool syncml) const {
    const Bytes bytes = ReadBytes(Db(syncml));
    Bytes live;
    for (size_t at = syncml ? 48 : 4; at < bytes.size(); at += sizeof(DeviceRecord)) {
      const size_t end = std::min(bytes.size(), at + sizeof(DeviceRecord));
      if (end - at < 4 || !IsRemovedRecord(&bytes[at]))
        live.insert(live.end(), bytes.begin() + at, bytes.begin() + end);
    }
    return live;
  }
  int GetNew(bool syncml, uint32_t type) {
    return (syncml ? ::SyncMLGetNewRecord : ::GetNewRecord)(T(type), entry_, path_);
  }
  int GetModified(bool syncml, uint32_t type) {
    return (syncml ? ::SyncMLGetModifiedRecord : ::GetModifiedRecord)(T(type), entry_, luid_,
                                                                      path_);
  }
  // The entry IDs the export hands out until it gives 0.
  std::vector<WString> All(bool syncml, uint32_t type, bool modified = false) {
    std::vector<WString> handed;
    while ((modified ? GetModified(syncml, type) : GetNew(syncml, type)) == 1)
      handed.push_back(Text(entry_));
    return handed;
  }
  int Create(bool syncml, uint32_t type, const std::u16string& luid, const ZS_WCHAR* file) {
    return syncml ? ::SyncMLCreateNewRecord(T(type), file, W(luid))
                  : ::CreateNewRecord(T(type), W(luid), file);
  }
  int Update(bool syncml, uint32_t type, const std::u16string& luid, const ZS_WCHAR* file) {
    return (syncml ? ::SyncMLUpdateRecord : ::UpdateRecord)(T(type), W(luid), file);
  }

  // The store beside the sync folder, wherever the environment names one.
  ScopedVariable store_{"ZELSYNC_STORE", Store().string()};
  ZS_WCHAR entry_[260] = {0}, luid_[260] = {0}, path_[260] = {0};
  std::deque<WString> received_;
};

class BothSchemes : public RecordExportsTest, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Schemes, BothSchemes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "SyncML" : "Irmc"; });

// --- Reading exports -------------------------------------------------------

// An item whose file cannot be made (B holds no card, C's handed file cannot
// be written) is passed over: it leaves no file and no record, the items
// after it are handed out, and a later session hands it out. A change whose
// file cannot be made stays in the log and the ones after it are reported.
TEST_P(BothSchemes, AnItemWhoseFileCannotBeMadeDoesNotStopTheOthers) {
  const bool s = GetParam();
  const std::vector<WString> ids = {Put(2, "A", "A"), Put(2, "B", "B"), Put(2, "C", "C"),
                                    Put(2, "D", "D")};
  WriteText(Store() / "contacts" / "B.vcf", "no card");
  env_.FailNth("Open", 0, "C.vcf");
  std::vector<WString> handed;
  std::set<std::string> files;
  while (GetNew(s, SYNC_OBJECT_CONTACT) == 1) {
    handed.push_back(Text(entry_));
    files.insert(fs::path(Utf16ToUtf8(Text(path_))).filename().string());
  }
  EXPECT_EQ((std::vector<WString>{ids[0], ids[3]}), handed);
  EXPECT_EQ(files, TempFiles());
  EXPECT_EQ(Concat({DeviceRecordBytes(2, ids[0], u"UNDEFINED"),
                    DeviceRecordBytes(2, ids[3], u"UNDEFINED")}),
            Records(s));
  env_.ClearFailures();
  Put(2, "B", "B");
  ASSERT_EQ(1, ::SyncMLResetCounters());
  // A and D never had their LUIDs confirmed (the link may have dropped on
  // the way): they are offered again, under the records they have.
  EXPECT_EQ(ids, All(s, SYNC_OBJECT_CONTACT));
  EXPECT_EQ(Concat({DeviceRecordBytes(2, ids[0], u"UNDEFINED"), DeviceRecordBytes(2, ids[3], u"UNDEFINED"),
                    DeviceRecordBytes(2, ids[1], u"UNDEFINED"), DeviceRecordBytes(2, ids[2], u"UNDEFINED")}),
            Records(s));

  WriteBytes(Db(s), Bytes(s ? 48 : 4, 0));
  Bytes log;
  for (const WString& id : ids) Map(s, 2, id, u"L" + id), log = Concat({log, Logged(s, 2, id)});
  WriteBytes(Log(s), log);
  WriteText(Store() / "contacts" / "A.vcf", "no card");
  env_.FailNth("Open", 0, "C.vcf");
  EXPECT_EQ((std::vector<WString>{ids[1], ids[3]}), All(s, SYNC_OBJECT_CONTACT, true));
  EXPECT_EQ(Concat({Logged(s, 2, ids[0]), Logged(s, 2, ids[2])}), ReadBytes(Log(s)));
}

// Not handed out, and leaving no file: an item of another class in the
// folder (a meeting request in the Inbox), one whose record cannot be
// written. SyncML knows an item mapped under any type, IrMC only under its own.
TEST_F(RecordExportsTest, ItemsThatCannotBeHandedOutWholeOrAreKnown) {
  WriteText(Store() / kFolders[0] / "req:2,S",
            "From: a@example.org\r\nContent-Type: text/calendar; "
            "method=REQUEST\r\n\r\nBEGIN:VCALENDAR\r\n");
  EXPECT_EQ(0, GetNew(false, SYNC_OBJECT_MESSAGE));
  Put(1, "n", "x");
  fs::remove(Db(false));
  fs::create_directories(Db(false));
  EXPECT_EQ(0, GetNew(false, SYNC_OBJECT_NOTE));
  EXPECT_TRUE(TempFiles().empty());
  fs::remove(Db(false));
  const WString item = Put(2, "e", "E");
  Map(true, 3, item, u"L7");
  Map(false, 3, item, u"L7");
  EXPECT_EQ(0, GetNew(true, SYNC_OBJECT_CONTACT));
  ASSERT_EQ(1, ::SyncMLResetCounters());
  EXPECT_EQ(1, GetNew(false, SYNC_OBJECT_CONTACT));
}

// An entry ID names an item only when it is there and fits a record: an
// unsaved item's is empty.
TEST(ReadEntryIdTest, OnlyAnIdThatFitsARecordIsRead) {
  struct Item : outlook::ItemBase {
    outlook::OptString id;
    bool EntryID(outlook::OptString* value) override { return *value = id, true; }
    bool Save() override { return false; }
    bool Delete() override { return false; }
  } item;
  const std::pair<outlook::OptString, bool> cases[] = {
      {std::nullopt, false}, {u"", false}, {WString(259, u'e'), true}, {WString(260, u'e'), false}};
  for (const auto& [id, read] : cases) {
    item.id = id;
    WString got;
    EXPECT_EQ(read, outlook::ReadEntryID(item, &got)) << (id ? id->size() : 0);
    EXPECT_EQ(read ? *id : WString(), got);
  }
}

// Names as users give them become file names the platform can hold, in the
// temporary folder, without splitting a character; two notes never share one.
// IrMC hands notes out as vNotes, SyncML as their text; an event that cannot
// be written as a vCalendar goes as an iCalendar.
TEST_F(RecordExportsTest, HandedFilesAreNamedSafelyInTheSchemesForm) {
  const struct {
    std::string name;
    std::u16string file;  // empty: checked by its bounds only
  } cases[] = {{"a/b\\\\c*d?e|f<g>h:i\tj\"k", u"a_b_c_d_e_f_g_h_i_j_k.vcf"},
               {"..", u"UnNamedContact.vcf"},
               {"lpt1.x", u"UnNamedContact.vcf"},
               {Utf16ToUtf8(std::u16string(90, u'\u4e2d')), u""},
               {std::string(200, 'x') + "\xF0\x9F\x98\x80\xF0\x9F\x98\x80", u""},
               {std::string(400, 'n'), u""}};
  for (const auto& c : cases) Put(2, "c" + std::to_string(&c - cases), c.name);
  for (const auto& c : cases) {
    ASSERT_EQ(1, GetNew(false, SYNC_OBJECT_CONTACT)) << c.name;
    const std::u16string path = Text(path_), file = path.substr(TempFolder().size()),
                         name = Utf8ToUtf16(c.name);
    ASSERT_EQ(TempFolder(), path.substr(0, TempFolder().size()));
    if (!c.file.empty()) {
      EXPECT_EQ(c.file, file);
      continue;
    }
    EXPECT_LE(path.size(), 259u);
    EXPECT_LE(FileNameLength(file), kMaxFileNameLength);
    EXPECT_EQ(name.substr(0, file.size() - 4), file.substr(0, file.size() - 4));
    EXPECT_FALSE(file[file.size() - 5] >= 0xD800 && file[file.size() - 5] <= 0xDBFF);
  }
  Put(1, "n1", "Buy milk");
  Put(1, "n2", "Call Bo");
  ASSERT_EQ(1, GetNew(false, SYNC_OBJECT_NOTE));
  const std::u16string first = Text(path_);
  ASSERT_EQ(1, GetNew(false, SYNC_OBJECT_NOTE));
  EXPECT_NE(first, Text(path_));
  EXPECT_EQ(TempFolder().size() + 36 + 4, first.size());
  EXPECT_NE(std::string::npos, ReadText(fs::path(first)).find("BEGIN:VNOTE"));
  ASSERT_EQ(1, ::SyncMLResetCounters());
  ASSERT_EQ(1, GetNew(true, SYNC_OBJECT_NOTE));
  EXPECT_EQ("Buy milk", ReadText(fs::path(Text(path_))));
  Put(3, "e", "");
  env_.FailNth("Open", 0, "NOSUBJECT.vcs");
  ASSERT_EQ(1, GetNew(false, SYNC_OBJECT_CALENDAR));
  EXPECT_EQ(TempFolder() + u"NOSUBJECT.ics", Text(path_));
}

TEST_P(BothSchemes, AChangeIsReportedOnceAndKeptWhileTheStoreCannotBeReached) {
  const bool s = GetParam();
  const WString c = Put(2, "c", "Cy"), unmapped = Put(2, "u", "U");
  Map(s, 2, c, u"LC");
  Map(s, 2, u"gone", u"LG");
  WriteBytes(Log(s), Concat({Logged(s, 2, unmapped), Logged(s, 2, u"gone"), Logged(s, 2, c),
                             Logged(s, 2, c), Logged(s, 1, c)}));
  {
    Unreachable down(ConnectResult::kCreationFailed);
    outlook::ScopedObjectModel use(down);
    EXPECT_EQ(0, GetModified(s, SYNC_OBJECT_CONTACT));
  }
  ASSERT_EQ(1, GetModified(s, SYNC_OBJECT_CONTACT));
  EXPECT_EQ(c, Text(entry_));
  EXPECT_EQ(u"LC", Text(luid_));
  EXPECT_EQ(0, GetModified(s, SYNC_OBJECT_CONTACT));
  // IrMC keeps a change the device cannot have yet and forgets an item gone
  // from its folder; SyncML the other way round.
  EXPECT_EQ(Concat({Logged(s, 2, s ? WString(u"gone") : unmapped), Logged(s, 1, c)}),
            ReadBytes(Log(s)));
}

// SyncML reports only changes not older than the session's anchor: a number
// anchor by change number, a time anchor by change time (the initial time
// letting every change through).
TEST_F(RecordExportsTest, SyncMLReportsOnlyChangesNotOlderThanTheAnchor) {
  using Change = std::tuple<std::u16string, uint32_t, bool>;  // time, number, reported
  const std::u16string t1 = u"20090315T120000Z", t2 = u"20090315T143000Z", t3 = u"20090316T100000Z";
  const std::tuple<uint32_t, std::u16string, uint32_t, std::vector<Change>> cases[] = {
      {0, u"", 7, {{u"", 6, false}, {u"", 7, true}, {u"", 9, true}}},
      {1, u"00000000T000000Z", 0, {{u"", 0, true}, {t1, 0, true}}},
      {1, t2, 0, {{t3, 0, true}, {t1, 0, false}, {t2, 0, true}, {u"", 0, false}}}};
  int n = 0;
  for (const auto& [kind, anchor, anchor_number, changes] : cases) {
    CurrentSession().anchor = MakeAnchor(kind, anchor, anchor_number);
    WriteBytes(Db(true), Bytes(48, 0));
    std::vector<WString> reported;
    Bytes log;
    for (const auto& [time, number, fits] : changes) {
      const WString id = Put(1, "n" + std::to_string(n++), "n");
      Map(true, 1, id, u"L" + id);
      log = Concat({log, SyncMLLogRecordBytes(1, 0, id, time, number)});
      if (fits) reported.push_back(id);
    }
    WriteBytes(Log(true), log);
    EXPECT_EQ(reported, All(true, SYNC_OBJECT_NOTE, true)) << Utf16ToUtf8(anchor);
    ASSERT_EQ(1, ::SyncMLResetCounters());
  }
}

// --- Creation ----------------------------------------------------------------

// A LUID the database already ties to an item, and files of no kind the store
// holds, make nothing but are consumed; a note follows the extension and is
// recorded under the caller's type. A SyncML phone may also send no LUID, and
// notes as plain text (".txt", or a ".vnt" file holding no vNote).
TEST_P(BothSchemes, ACreationIsDecidedByTheLuidAndTheExtension) {
  const bool s = GetParam();
  Map(s, 2, u"E0", u"L1");
  ASSERT_EQ(1, Create(s, SYNC_OBJECT_CONTACT, u"L1", Received("b.vcf", kVCard)));
  for (const char* name : {"x.VCF", "x.doc", "noextension"})
    ASSERT_EQ(1, Create(s, SYNC_OBJECT_CONTACT, u"L2", Received(name, kVCard))) << name;
  EXPECT_TRUE(Ids(SYNC_OBJECT_CONTACT).empty());
  ASSERT_EQ(1, Create(s, SYNC_OBJECT_CONTACT, u"L3", Received("a.vnt", kVNote)));
  ASSERT_EQ(1, Create(s, SYNC_OBJECT_NOTE, u"LT", Received("c.txt", "Line 1\nLine 2")));
  ASSERT_EQ(s ? 1 : 0, Create(s, SYNC_OBJECT_NOTE, u"LE", Received("e.vnt", "Edited\r\ntext")));
  if (s) {
    ASSERT_EQ(1, ::SyncMLCreateNewRecord(SYNC_OBJECT_NOTE, Received("d.vnt", kVNote), nullptr));
  }
  EXPECT_TRUE(TempFiles().empty());
  const std::vector<WString> notes = Ids(SYNC_OBJECT_NOTE);
  ASSERT_EQ(s ? 4u : 1u, notes.size());
  Bytes records =
      Concat({DeviceRecordBytes(2, u"E0", u"L1"), DeviceRecordBytes(2, notes[0], u"L3")});
  if (s) {
    EXPECT_EQ("Line 1\nLine 2", Content(1, notes[1]));
    EXPECT_EQ("Edited\ntext", Content(1, notes[2]));
    records = Concat({records, DeviceRecordBytes(1, notes[1], u"LT"),
                      DeviceRecordBytes(1, notes[2], u"LE"),
                      DeviceRecordBytes(1, notes[3], u"UNDEFINED")});
  }
  EXPECT_EQ(records, Records(s));
}

// An all-day event stays all-day (the marker read by the exports, not the
// store), also when an update of an unknown LUID creates it; a created mail is
// recorded under the entry ID it got in the Inbox.
TEST_F(RecordExportsTest, AllDayEventsAndMailKeepWhatTheyAre) {
  const std::string event =
      "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:Fair\r\nDESCRIPTION:";
  const std::string times =
      "\r\nDTSTART:20260105T000000\r\nDTEND:20260106T000000\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
  ASSERT_EQ(1, Update(true, SYNC_OBJECT_CALENDAR, u"L1",
                      Received("a.vcs", event + "X-BLUETOOTH-ALLDAYEVENT:TRUE" + times)));
  ASSERT_EQ(1, Create(false, SYNC_OBJECT_CALENDAR, u"L2", Received("b.vcs", event + "x" + times)));
  const std::vector<WString> events = Ids(SYNC_OBJECT_CALENDAR);
  ASSERT_EQ(2u, events.size());
  EXPECT_NE(std::string::npos, Content(3, events[0]).find("DTSTART;VALUE=DATE:20260105"))
      << Content(3, events[0]);
  EXPECT_EQ(std::string::npos, Content(3, events[1]).find("VALUE=DATE")) << Content(3, events[1]);

  ASSERT_EQ(1, Create(false, SYNC_OBJECT_MESSAGE, u"LM", Received("m.vmg", kVMessage)));
  const std::vector<WString> inbox = Ids(SYNC_OBJECT_MESSAGE);
  ASSERT_EQ(1u, inbox.size());
  EXPECT_EQ(Concat({DeviceRecordBytes(3, events[1], u"L2"), DeviceRecordBytes(0, inbox[0], u"LM")}),
            Records(false));
}

// A created item that cannot be saved, or whose record cannot be written, is
// no creation: nothing is recorded and the item goes.
TEST_F(RecordExportsTest, AnItemThatCannotBeSavedOrRecordedIsNoCreation) {
  env_.FailNth("Replace", 0, "appdata/zelsync/");
  EXPECT_EQ(0, Create(false, SYNC_OBJECT_NOTE, u"L1", Received("a.vnt", kVNote)));
  EXPECT_EQ(0, Create(false, SYNC_OBJECT_MESSAGE, u"L2", Received("m.vmg", kVMessage)));
  EXPECT_EQ(0, Create(false, SYNC_OBJECT_CONTACT, u"L3", Received("c.vcf", kVCard)));
  EXPECT_FALSE(Exists(Db(false)));
  ExpectNoItems();
  env_.ClearFailures();
  fs::create_directories(Db(false));  // the database cannot be appended to
  EXPECT_EQ(0, Create(false, SYNC_OBJECT_CONTACT, u"L5", Received("d.vcf", kVCard)));
  EXPECT_EQ(0, Create(false, SYNC_OBJECT_MESSAGE, u"L6", Received("n.vmg", kVMessage)));
  ExpectNoItems();
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(RecordExportsTest, InputBeyondItsBoundsIsRefused) {
  const std::u16string luid259(259, u'x'), luid260(260, u'y');
  ASSERT_EQ(1, Create(false, SYNC_OBJECT_CONTACT, luid259, Received("a.vcf", kVCard)));
  EXPECT_EQ(DeviceRecordBytes(2, Ids(SYNC_OBJECT_CONTACT)[0], luid259), Records(false));
  EXPECT_EQ(0, Create(false, SYNC_OBJECT_CONTACT, luid260, Received("b.vcf", kVCard)));
  EXPECT_TRUE(Exists(Temp() / "b.vcf"));
  EXPECT_EQ(0, ::GetNewRecord(SYNC_OBJECT_CONTACT, nullptr, path_));
  EXPECT_EQ(0, ::GetModifiedRecord(SYNC_OBJECT_CONTACT, entry_, nullptr, path_));
  EXPECT_EQ(0, GetNew(false, 4));
  EXPECT_EQ(1u, Ids(SYNC_OBJECT_CONTACT).size());
}

// A file the PC cannot read makes no item, records nothing, leaves no file
// and gives 0.
TEST_P(BothSchemes, ARejectedFileMakesNothing) {
  const bool s = GetParam();
  const struct {
    const char* name;
    uint32_t type;
    std::string content;
  } rejected[] = {{"f.vnt", 1, "BEGIN:VNOTE\r\nBODY:no end\r\n"},
                  {"g.vmg", 0, "BEGIN:VMSG\nBEGIN:VENV\nBEGIN:VBODY\nhi\n"},
                  {"e.vcf", 2, ""},
                  {"e.ics", 3, "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\n"}};
  for (const auto& r : rejected) {
    EXPECT_EQ(0, Create(s, r.type, u"N1", Received(r.name, r.content))) << r.name;
    EXPECT_EQ(0, Update(s, r.type, u"N2", Received(r.name, r.content))) << r.name;
  }
  ExpectNoItems();
  EXPECT_TRUE(Records(s).empty());
  EXPECT_TRUE(TempFiles().empty());
}

// An update makes the new item before the old one goes: a file the PC cannot
// read leaves the old item, and so does an old item that cannot be deleted
// (the new one goes again, so that the LUID names one item).
TEST_P(BothSchemes, UpdateReplacesTheItemUnderTheSameLuidOrKeepsTheOld) {
  const bool s = GetParam();
  const WString note = Put(1, "keep", "keep me"), contact = Put(2, "Old", "Old");
  Map(s, 1, note, u"L1");
  Map(s, 2, contact, u"L2");
  const Bytes records = Records(s);
  EXPECT_EQ(0, Update(s, SYNC_OBJECT_NOTE, u"L1", Received("u.vnt", "BEGIN:VNOTE\r\n")));
  env_.FailNth("RemoveFile", 0, "Old.vcf");
  EXPECT_EQ(0, Update(s, SYNC_OBJECT_CONTACT, u"L2", Received("u.vcf", kVCard)));
  EXPECT_EQ(std::vector<WString>{note}, Ids(SYNC_OBJECT_NOTE));
  EXPECT_EQ(std::vector<WString>{contact}, Ids(SYNC_OBJECT_CONTACT));
  EXPECT_EQ(records, Records(s));
  env_.ClearFailures();
  EXPECT_EQ(1, Update(s, SYNC_OBJECT_CONTACT, u"L2", Received("v.vcf", kVCard)));
  const std::vector<WString> contacts = Ids(SYNC_OBJECT_CONTACT);
  ASSERT_EQ(1u, contacts.size());
  EXPECT_EQ(Concat({DeviceRecordBytes(1, note, u"L1"), DeviceRecordBytes(2, contacts[0], u"L2")}),
            Records(s));
}

// The library's own deletions reach the other scheme's log (the change
// tracker leaves them out), and nothing of them is echoed back to this one.
TEST_F(RecordExportsTest, DeleteRemovesItemLogEntriesAndRecordAndTellsTheOtherScheme) {
  EXPECT_EQ(1, ::DeleteRecord(SYNC_OBJECT_CONTACT, W(u"unknown")));
  EXPECT_FALSE(Exists(Store())) << "the store was connected to";
  const WString c = Put(2, "c", "Cy"), d = Put(2, "d", "Di"), lower = Put(2, "abc", "x");
  Map(false, 2, c, u"LC");
  Map(false, 2, d, u"LD");
  Map(false, 2, local::EntryIdOf(FolderKind::kContacts, "ABC"),
      u"LX");  // IDs differing in case name different items
  WriteBytes(Log(false), Concat({LogRecordBytes(2, 0, c), LogRecordBytes(2, 0, d)}));
  WriteBytes(Log(true),
             Concat({SyncMLLogRecordBytes(2, 0, u"X", u"20260101T000000Z", 41), Bytes(9, 1)}));
  ASSERT_EQ(1, ::DeleteRecord(SYNC_OBJECT_CONTACT, W(u"LC")));
  ASSERT_EQ(1, ::DeleteRecord(SYNC_OBJECT_CONTACT, W(u"LX")));
  EXPECT_EQ((std::vector<WString>{lower, d}), Ids(SYNC_OBJECT_CONTACT));
  EXPECT_EQ(LogRecordBytes(2, 0, d), ReadBytes(Log(false)));
  EXPECT_EQ(DeviceRecordBytes(2, d, u"LD"), Records(false));
  // Stamped in the SyncML log after its last whole entry, numbered on from it.
  const Bytes logged = ReadBytes(Log(true));
  ASSERT_EQ(3 * 572u, logged.size());
  EXPECT_EQ(LogRecordBytes(2, 1, c), Bytes(logged.begin() + 572, logged.begin() + 572 + 528));
  EXPECT_EQ('T', logged[572 + 528 + 8 * 2]);
  EXPECT_EQ(42u, logged[572 + 568]);
}

// --- Connections ---------------------------------------------------------------

// A store that cannot be started keeps the received file for a retry (also
// for an update of a LUID the database does not know, which is a creation);
// one that starts without an object consumes it.
TEST_F(RecordExportsTest, AStoreThatCannotStartKeepsTheFile) {
  const std::tuple<ConnectResult, const char*, bool> cases[] = {
      {ConnectResult::kNotRegistered, "a.vcf", true},
      {ConnectResult::kCreationFailed, "b.vcf", true},
      {ConnectResult::kNoObject, "c.vcf", false}};
  for (const auto& [result, name, kept] : cases) {
    Unreachable down(result);
    outlook::ScopedObjectModel use(down);
    EXPECT_EQ(0, Create(false, SYNC_OBJECT_CONTACT, u"L", Received(name, kVCard))) << name;
    EXPECT_EQ(kept, Exists(Temp() / name)) << name;
    EXPECT_EQ(0, Update(false, SYNC_OBJECT_CONTACT, u"L9", Received("d.vcf", kVCard)));
    EXPECT_EQ(kept, Exists(Temp() / "d.vcf")) << name;
  }
  EXPECT_FALSE(Exists(Db(false)));
}

// Throws from every file opened: a standard exception, or (odd kinds) not.
struct ThrowingEnv : EnvWrapper {
  ThrowingEnv(Env& target, int kind) : EnvWrapper(target), kind(kind) {}
  std::unique_ptr<File> Open(const WString&, OpenMode, FsStatus*) override {
    ++throws;
    if (kind % 2 == 0) throw std::bad_alloc();
    throw 42;
  }
  int kind, throws = 0;
};

// Whatever the code under an export throws, the export gives 0 and nothing
// escapes to the caller.
TEST_F(RecordExportsTest, AThrowInsideAnExportGivesZero) {
  Put(1, "n", "a note");
  const ZS_WCHAR* file = Received("r.vnt", kVNote);
  const std::function<int()> exports[] = {
      [&] { return GetNew(false, SYNC_OBJECT_NOTE); },
      [&] { return Create(true, SYNC_OBJECT_NOTE, u"L1", file); },
      [&] { return Update(false, SYNC_OBJECT_NOTE, u"L2", file); }};
  for (int kind = 0; kind < 3; ++kind) {
    ThrowingEnv throwing(env_, kind);
    ScopedEnv use(throwing);
    EXPECT_EQ(0, exports[kind]()) << kind;
    EXPECT_GT(throwing.throws, 0) << kind;
  }
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
