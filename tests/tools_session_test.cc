// The host's simulated phone and its session drivers, against a fake PC
// that serves the exports from memory (the real library is exercised end to
// end by the tool's CTest script).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#include "file_util.h"
#include "phone.h"
#include "session.h"
#include "support/scratch.h"
#include "text.h"

namespace zelsync_tool {
namespace {
namespace fs = std::filesystem;
using zelsync::testing::ScratchFolder;

std::u16string FromWide(const ZS_WCHAR* text) {
  std::u16string out;
  for (size_t i = 0; i < ZS_MAX_PATH && text[i]; ++i) out.push_back(static_cast<char16_t>(text[i]));
  return out;
}
void ToWide(ZS_WCHAR* buffer, const std::u16string& text) {
  size_t i = 0;
  for (; i < text.size() && i + 1 < ZS_MAX_PATH; ++i) buffer[i] = static_cast<ZS_WCHAR>(text[i]);
  buffer[i] = 0;
}
std::string ReadAll(const fs::path& path) {
  Bytes bytes;
  ReadWholeFile(path, &bytes);
  return std::string(bytes.begin(), bytes.end());
}
void WriteAll(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// The PC: items, the LUID mapping and the change log (modified entry IDs),
// all in memory. No test deletes on the PC: the end-to-end script does.
struct FakePc {
  struct Item {
    uint32_t type;
    std::string content;
  };
  std::map<std::string, Item> items;                              // by entry ID
  std::map<std::pair<uint32_t, std::string>, std::string> luids;  // (type, entry) -> LUID
  std::vector<std::string> log;                                   // modified entry IDs
  std::vector<std::string> calls;
  fs::path temp;
  std::string database;                       // the current IrMC database
  std::map<std::string, uint32_t> counters;  // per IrMC database
  std::optional<std::string> refuse;  // CreateNewRecord fails for content holding this ("": any)
  bool repeat_new = false;  // GetNewRecord keeps offering the same item
  int next_entry = 1;
  std::vector<std::string> created_in_session;
  std::string anchor;

  std::string EntryOf(uint32_t type, const ZS_WCHAR* luid) const {
    for (const auto& [key, value] : luids)
      if (key.first == type && value == Utf16ToUtf8(FromWide(luid))) return key.second;
    return "";
  }
  // Hands the item out as a file, with its entry ID.
  void Hand(const std::string& id, ZS_WCHAR* entry, ZS_WCHAR* path) {
    fs::path file = temp / (id + ".vcf");
    WriteAll(file, items[id].content);
    ToWide(entry, Utf8ToUtf16(id));
    ToWide(path, Utf8ToUtf16(PathToUtf8(file)));
  }
  // Takes in (and removes) a file the library was handed.
  static std::string Take(const ZS_WCHAR* path) {
    fs::path file = PathFromUtf16(FromWide(path));
    std::string content = ReadAll(file);
    fs::remove(file);
    return content;
  }
};
FakePc* pc = nullptr;

int GetNew(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entry, ZS_WCHAR* path) {
  for (auto& [id, item] : pc->items) {
    if (item.type != static_cast<uint32_t>(type) || (pc->luids.count({type, id}) && !pc->repeat_new)) continue;
    pc->luids[{type, id}] = "UNDEFINED";
    pc->Hand(id, entry, path);
    pc->calls.push_back("GetNewRecord " + id);
    return 1;
  }
  return 0;
}
int MapLuid(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entry, const ZS_WCHAR* luid) {
  pc->luids[{type, Utf16ToUtf8(FromWide(entry))}] = Utf16ToUtf8(FromWide(luid));
  return 1;
}
int GetModified(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entry, ZS_WCHAR* luid, ZS_WCHAR* path) {
  for (auto it = pc->log.begin(); it != pc->log.end(); ++it) {
    auto mapped = pc->luids.find({type, *it});
    if (mapped == pc->luids.end()) continue;
    ToWide(luid, Utf8ToUtf16(mapped->second));
    pc->Hand(*it, entry, path);
    pc->log.erase(it);
    return 1;
  }
  return 0;
}
int Create(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
  std::string content = FakePc::Take(path);
  pc->calls.push_back("CreateNewRecord " + Utf16ToUtf8(FromWide(luid)));
  if (pc->refuse && content.find(*pc->refuse) != std::string::npos) return 0;
  std::string id = "N" + std::to_string(pc->next_entry++);
  pc->items[id] = {static_cast<uint32_t>(type), content};
  pc->luids[{type, id}] = Utf16ToUtf8(FromWide(luid));
  return 1;
}
int Update(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
  std::string id = pc->EntryOf(type, luid);
  pc->calls.push_back("UpdateRecord " + id);
  pc->items[id].content = FakePc::Take(path);
  return id.empty() ? 0 : 1;
}
int Delete(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* luid) {
  std::string id = pc->EntryOf(type, luid);
  pc->calls.push_back("DeleteRecord " + id);
  pc->items.erase(id);
  pc->luids.erase({type, id});
  return 1;
}
int SetAnchor(_SYNCML_SYNCANCHOR_RECORD anchor) {
  pc->anchor = Utf16ToUtf8(FromWide(anchor.TimeAnchor));
  return 1;
}

Exports FakeExports() {
  Exports e;
  e.SetDeviceIDDatabaseID = [](const ZS_WCHAR* device, const ZS_WCHAR* database) {
    pc->calls.push_back("SetDeviceIDDatabaseID");
    pc->database = Utf16ToUtf8(FromWide(device)) + "_" + Utf16ToUtf8(FromWide(database));
    return 1;
  };
  e.IsDeviceIDKnown = [] { return 1; };
  e.GetChangeCounter = [](uint32_t* value) { *value = pc->counters[pc->database]; return 1; };
  e.UpdateChangeCounter = [](uint32_t value) { pc->counters[pc->database] = value; return 1; };
  e.UpdateLUIDofPrevGetNewRecord = e.UpdateLUIDofPrevModifiedRecord = e.SyncMLUpdateEntryIDLUIDMapping = MapLuid;
  e.GetDeletedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, int32_t*) { return 0; };
  e.SyncMLGetDeletedRecord = [](_SYNC_OBJECT_TYPE, ZS_WCHAR*, ZS_WCHAR*, int32_t*) { return 0; };
  e.GetNewRecord = e.SyncMLGetNewRecord = GetNew;
  e.GetModifiedRecord = e.SyncMLGetModifiedRecord = GetModified;
  e.CreateNewRecord = Create;
  e.SyncMLCreateNewRecord = [](_SYNC_OBJECT_TYPE type, const ZS_WCHAR* path, const ZS_WCHAR* luid) {
    return Create(type, luid, path);
  };
  e.UpdateRecord = e.SyncMLUpdateRecord = Update;
  e.DeleteRecord = e.SyncMLDeleteRecord = Delete;
  e.SyncMLSetBDAddrLastSyncAnchor = [](uint64_t, _SYNCML_SYNCANCHOR_RECORD anchor) { return SetAnchor(anchor); };
  e.SyncMLGetLastSyncAnchor = [](uint64_t, _SYNCML_SYNCANCHOR_RECORD* anchor) {
    *anchor = {};
    anchor->AnchorKind = 1;
    ToWide(anchor->TimeAnchor, Utf8ToUtf16(pc->anchor));
    return 1;
  };
  e.SyncMLSetSyncComplete = SetAnchor;
  e.SyncMLResetCounters = [] { return 1; };
  e.SyncMLSaveDBFiles = e.SyncMLRestoreDBFiles = [](uint64_t) { return 1; };
  e.SyncMLAddNewRecToTempDBFile = [](_SYNC_OBJECT_TYPE, const ZS_WCHAR* luid) {
    pc->created_in_session.push_back(Utf16ToUtf8(FromWide(luid)));
    return 1;
  };
  e.SyncMLDeleteTempFiles = [] { pc->calls.push_back("SyncMLDeleteTempFiles"); };
  return e;
}

std::map<std::string, std::string> FolderImage(const fs::path& folder) {
  std::map<std::string, std::string> image;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) {
      // "/" between the parts on every platform, as the tests spell them.
      std::string name = PathToUtf8(fs::relative(entry.path(), folder));
      std::replace(name.begin(), name.end(), '\\', '/');
      image[name] = ReadAll(entry.path());
    }
  return image;
}

class SessionTest : public ::testing::TestWithParam<Road> {
 protected:
  SessionTest() {
    fake_.temp = scratch_.path() / "pc-temp";
    fs::create_directories(fake_.temp);
    pc = &fake_;
    fake_.items["E1"] = {2, "BEGIN:VCARD\r\nFN:Alice\r\nEND:VCARD\r\n"};
    fake_.items["E2"] = {2, "BEGIN:VCARD\r\nFN:Bruno\r\nEND:VCARD\r\n"};
    WriteAll(PhoneDir() / "contacts" / "own.vcf", "BEGIN:VCARD\r\nFN:Own\r\nEND:VCARD\r\n");
  }
  ~SessionTest() override { pc = nullptr; }

  fs::path PhoneDir() const { return scratch_.path() / "phone"; }
  SessionReport Run(SessionOptions options = {}) {
    options.road = GetParam();
    options.anchor_time = "20260101T00000" + std::to_string(++sessions_) + "Z";
    Phone phone;
    std::string error;
    EXPECT_TRUE(Phone::Open(PhoneDir(), &phone, &error)) << error;
    if (phone.device_id.empty()) phone.device_id = "dev";
    if (phone.address.empty()) phone.address = "0002a1b2c3d4";
    return RunSession(exports_, &phone, options, fs::path());
  }
  static TypeCounts Contacts(const SessionReport& report) { return report.counts.at(2); }

  ScratchFolder scratch_;
  FakePc fake_;
  Exports exports_ = FakeExports();
  int sessions_ = 0;
};

// The end-to-end script checks the sessions through the real library: each
// side's new objects, changes and deletions, the second session that moves
// nothing, the SyncML rollback (the command line takes --interrupt-after for
// SyncML only) and the dry run. These tests check what only a fake PC shows:
// the conflicts and a library that misbehaves.
TEST_P(SessionTest, ChangedOnBothSidesThePcWins) {
  Run();
  const std::string alice_luid = fake_.luids[{2, "E1"}];
  fake_.items["E1"].content = "PC version";
  fake_.log.push_back("E1");
  WriteAll(PhoneDir() / "contacts" / (alice_luid + ".vcf"), "phone version");
  SessionReport report = Run();
  EXPECT_EQ(Contacts(report).updated, 1) << ReportToText(report, true);
  EXPECT_EQ(ReadAll(PhoneDir() / "contacts" / (alice_luid + ".vcf")), "PC version");
  EXPECT_EQ(fake_.items["E1"].content, "PC version");
  EXPECT_FALSE(report.notes.empty());
  EXPECT_TRUE(fs::is_empty(fake_.temp)) << "the host disposes of the files the library handed out";
}

// Deleted on the phone, changed on the PC: the change wins and the object
// comes back under its LUID; the phone's deletion is dropped.
TEST_P(SessionTest, AChangeOfAnObjectThePhoneDeletedComesBack) {
  Run();
  const std::string alice_luid = fake_.luids[{2, "E1"}];
  fake_.log.push_back("E1");
  fs::remove(PhoneDir() / "contacts" / (alice_luid + ".vcf"));
  SessionReport report = Run();
  EXPECT_EQ(Contacts(report).updated, 1) << ReportToText(report, true);
  EXPECT_EQ(Contacts(report).deleted, 0);
  EXPECT_TRUE(fs::exists(PhoneDir() / "contacts" / (alice_luid + ".vcf")));
  EXPECT_EQ(fake_.items.count("E1"), 1u);
}

// A phone that has no record of the LUID at all takes the changed object as
// a new one, and the PC learns the new LUID.
TEST_P(SessionTest, AChangeOfAnObjectThePhoneForgotGetsANewLuid) {
  Run();
  const std::string alice_luid = fake_.luids[{2, "E1"}];
  fake_.log.push_back("E1");
  fs::remove(PhoneDir() / "contacts" / (alice_luid + ".vcf"));
  nlohmann::json state = nlohmann::json::parse(ReadAll(PhoneDir() / kPhoneStateFile));
  auto& items = state["items"];
  for (size_t i = 0; i < items.size(); ++i)
    if (items[i]["luid"] == alice_luid) items.erase(i);
  WriteAll(PhoneDir() / kPhoneStateFile, state.dump());
  SessionReport report = Run();
  EXPECT_FALSE(report.failed()) << ReportToText(report, true);
  const std::string new_luid = fake_.luids[{2, "E1"}];
  EXPECT_NE(new_luid, alice_luid);
  EXPECT_TRUE(fs::exists(PhoneDir() / "contacts" / (new_luid + ".vcf")));
  EXPECT_EQ(fake_.items.count("E1"), 1u);
}

size_t NotesOfWaitingRefusals(const SessionReport& report) {
  return std::count_if(report.notes.begin(), report.notes.end(),
                       [](const std::string& note) { return note.find("sync --retry") != std::string::npos; });
}

// A refused object stays on the phone, is offered again only once it
// changed, and each session tells of it meanwhile.
TEST_P(SessionTest, ARefusedCreationWaitsOnThePhoneUntilItChanges) {
  fake_.refuse = "FN:Own";
  WriteAll(PhoneDir() / "contacts" / "other.vcf", "BEGIN:VCARD\r\nFN:Other\r\nEND:VCARD\r\n");
  SessionReport report = Run();
  EXPECT_TRUE(report.failed());
  EXPECT_EQ(Contacts(report).failed, 1);
  EXPECT_EQ(Contacts(report).received, 1);
  EXPECT_EQ(Contacts(report).sent, 2);
  fake_.refuse.reset();
  SessionReport unchanged = Run();
  EXPECT_FALSE(unchanged.failed()) << ReportToText(unchanged, true);
  EXPECT_EQ(unchanged.moved(), 0);
  EXPECT_EQ(NotesOfWaitingRefusals(unchanged), 1u);
  WriteAll(PhoneDir() / "contacts" / "own.vcf", "BEGIN:VCARD\r\nFN:Own Changed\r\nEND:VCARD\r\n");
  SessionReport changed = Run();
  EXPECT_EQ(Contacts(changed).received, 1) << ReportToText(changed, true);
  EXPECT_EQ(changed.moved(), 1);
  EXPECT_EQ(NotesOfWaitingRefusals(changed), 0u);
}

// When no phone change reached the PC, the store may have been out of
// reach: a refusal the object's text does not explain is offered again,
// even though PC items reached the phone; an empty file waits.
TEST_P(SessionTest, ARefusalIsKeptOnlyWhenTheTextOrTheRestOfTheSessionExplainsIt) {
  Run();
  fake_.items["E3"] = {2, "BEGIN:VCARD\r\nFN:Carla\r\nEND:VCARD\r\n"};
  fake_.refuse = "";
  WriteAll(PhoneDir() / "contacts" / "later.vcf", "BEGIN:VCARD\r\nFN:Later\r\nEND:VCARD\r\n");
  WriteAll(PhoneDir() / "contacts" / "empty.vcf", "");
  SessionReport failed = Run();
  EXPECT_EQ(Contacts(failed).sent, 1);
  EXPECT_EQ(Contacts(failed).failed, 2) << ReportToText(failed, true);
  fake_.refuse.reset();
  SessionReport next = Run();
  EXPECT_EQ(Contacts(next).received, 1) << ReportToText(next, true);
  EXPECT_EQ(Contacts(next).failed, 0);
  EXPECT_EQ(NotesOfWaitingRefusals(next), 1u);
}

TEST_P(SessionTest, ALibraryThatRepeatsItselfIsStopped) {
  fake_.repeat_new = true;
  SessionReport report = Run();
  EXPECT_TRUE(report.failed());
  EXPECT_EQ(Contacts(report).sent, 1);
  EXPECT_EQ(Contacts(report).failed, 1);
  EXPECT_EQ(std::count_if(fake_.calls.begin(), fake_.calls.end(),
                          [](const std::string& call) { return call.rfind("GetNewRecord", 0) == 0; }),
            2);
}

INSTANTIATE_TEST_SUITE_P(Roads, SessionTest, ::testing::Values(Road::kIrmc, Road::kSyncML),
                         [](const ::testing::TestParamInfo<Road>& info) { return std::string(RoadName(info.param)); });

// The library names a device's SyncML files by its address in lower-case
// hex digits; the dry run finds them however the phone spells the address.
TEST(DryRun, FindsTheSyncMLFilesHoweverThePhoneSpellsItsAddress) {
  namespace t = zelsync::testing;
  ScratchFolder scratch;
  const fs::path sync = scratch.path() / "sync";
  fs::create_directories(sync);
  t::WriteBytes(sync / "0002a1b2c3d4_SyncMLDB.DAT",
                t::Concat({t::AnchorBytes(1, u"20260101T000000Z"), t::DeviceRecordBytes(2, u"E1", u"7")}));
  t::WriteBytes(sync / "SyncMLModificationLog.DAT", t::SyncMLLogRecordBytes(2, 0, u"E1"));
  Phone phone;
  std::string error;
  ASSERT_TRUE(Phone::Open(scratch.path() / "phone", &phone, &error)) << error;
  phone.address = "00:02:A1:B2:C3:D4";
  SessionOptions options;
  options.road = Road::kSyncML;
  options.dry_run = true;
  const SessionReport report = RunSession(Exports{}, &phone, options, sync);
  EXPECT_EQ(report.counts.at(2).updated, 1) << ReportToText(report, true);
}

TEST(PhoneState, BadStateFilesAreRefusedNamingTheFile) {
  ScratchFolder scratch;
  const char* bad[] = {
      "not json",
      R"({"zelsync_phone": 2})",
      R"({"zelsync_phone": 1, "road": "infrared"})",
      R"({"zelsync_phone": 1, "items": [{"luid": "", "type": "contact", "file": "contacts/a.vcf"}]})",
      R"({"zelsync_phone": 1, "items": [{"luid": "1", "type": "contact", "file": "../escape.vcf"}]})",
      R"({"zelsync_phone": 1, "items": [{"luid": "1", "type": "fax", "file": "a"}]})",
      R"({"zelsync_phone": 1, "items": [{"luid": "1", "type": "note", "file": "notes/a.vnt"},
                                        {"luid": "1", "type": "note", "file": "notes/b.vnt"}]})",
      R"({"zelsync_phone": 1, "items": [{"type": "note", "file": "notes/a.vnt"}]})",
  };
  for (const char* text : bad) {
    WriteAll(scratch.path() / kPhoneStateFile, text);
    Phone phone;
    std::string error;
    EXPECT_FALSE(Phone::Open(scratch.path(), &phone, &error)) << text;
    EXPECT_NE(error.find("phone.json"), std::string::npos) << error;
  }
}

TEST(PhoneState, NoticesObjectsAndUndoesAJournal) {
  ScratchFolder scratch;
  WriteAll(scratch.path() / "contacts" / "a.vcf", "A");
  WriteAll(scratch.path() / "contacts" / "readme.txt", "not a contact");
  WriteAll(scratch.path() / "notes" / ".scratch.vnt", "hidden");
  Phone phone;
  std::string error;
  ASSERT_TRUE(Phone::Open(scratch.path(), &phone, &error));
  std::vector<std::string> ignored;
  phone.NoticeNewFiles(&ignored);
  EXPECT_EQ(ignored, std::vector<std::string>{"contacts/readme.txt"});
  ASSERT_EQ(phone.PendingChanges().size(), 1u);
  EXPECT_EQ(phone.PendingChanges()[0].kind, ChangeKind::kNew);
  phone.MarkDelivered(phone.PendingChanges()[0]);
  EXPECT_TRUE(phone.PendingChanges().empty());
  // Saved and opened again in every session of the end-to-end script.
  ASSERT_TRUE(phone.Save(&error)) << error;

  const auto before = FolderImage(scratch.path());
  ASSERT_TRUE(phone.BeginJournal(&error)) << error;
  WriteAll(scratch.path() / "incoming.vcf", "B");
  std::string luid = phone.ReceiveNew(2, scratch.path() / "incoming.vcf");
  fs::remove(scratch.path() / "incoming.vcf");
  bool own = false;
  EXPECT_TRUE(phone.ReceiveDeletion(2, phone.items()[0].luid, &own));
  EXPECT_FALSE(own);
  EXPECT_FALSE(phone.ReceiveDeletion(2, "no such LUID", &own));
  ASSERT_TRUE(phone.Save(&error)) << error;
  // The host died here: a new one finds the copy on disk and undoes it all.
  Phone reopened;
  ASSERT_TRUE(Phone::Open(scratch.path(), &reopened, &error)) << error;
  EXPECT_NE(reopened.FindItem(2, luid), nullptr);
  ASSERT_TRUE(reopened.HasJournal());
  ASSERT_TRUE(reopened.UndoJournal(&error)) << error;
  EXPECT_FALSE(reopened.HasJournal());
  EXPECT_EQ(FolderImage(scratch.path()), before);
  EXPECT_EQ(reopened.items().size(), 1u);
}

// A change the phone cannot write (here: its source is gone) leaves the
// object as it was, also when the change would rename its file.
TEST(PhoneState, AChangeThatCannotBeWrittenLeavesTheObject) {
  ScratchFolder scratch;
  WriteAll(scratch.path() / "calendar" / "a.vcs", "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
  Phone phone;
  std::string error;
  ASSERT_TRUE(Phone::Open(scratch.path(), &phone, &error));
  phone.NoticeNewFiles();
  phone.MarkDelivered(phone.PendingChanges().at(0));
  const std::string luid = phone.items()[0].luid;
  const auto before = FolderImage(scratch.path());
  for (const char* source : {"gone.vcs", "gone.ics"}) {
    bool own = false;
    EXPECT_FALSE(phone.ReceiveChange(3, luid, scratch.path() / source, &own)) << source;
    EXPECT_EQ(FolderImage(scratch.path()), before) << source;
    EXPECT_TRUE(phone.PendingChanges().empty()) << source;
  }
}

// An undo that fails part way (here: the state file cannot be replaced) is
// marked, so that the next session finishes it rather than keep the phone
// half put back.
TEST(PhoneState, AnUndoCutShortIsMarkedUntilItIsFinished) {
  ScratchFolder scratch;
  WriteAll(scratch.path() / "notes" / "a.vnt", "A");
  Phone phone;
  std::string error;
  ASSERT_TRUE(Phone::Open(scratch.path(), &phone, &error));
  phone.NoticeNewFiles();
  ASSERT_TRUE(phone.Save(&error)) << error;
  ASSERT_TRUE(phone.BeginJournal(&error)) << error;
  fs::remove(scratch.path() / "notes" / "a.vnt");
  fs::remove(scratch.path() / kPhoneStateFile);
  fs::create_directory(scratch.path() / kPhoneStateFile);
  EXPECT_FALSE(phone.UndoJournal(&error));
  EXPECT_TRUE(phone.UndoBegun());
  fs::remove(scratch.path() / kPhoneStateFile);
  ASSERT_TRUE(phone.UndoJournal(&error)) << error;
  EXPECT_FALSE(phone.UndoBegun());
  EXPECT_FALSE(phone.HasJournal());
  EXPECT_EQ(ReadAll(scratch.path() / "notes" / "a.vnt"), "A");
}

TEST(DeviceIdentity, AddressesAndIds) {
  EXPECT_EQ(ParseAddress("00:02:A1:b2:c3:d4"), 0x0002a1b2c3d4ULL);
  EXPECT_EQ(FormatAddress(0xFFFF0002a1b2c3d4ULL), "0002a1b2c3d4");
  for (const char* bad : {"", "0002a1b2c3d", "0002a1b2c3d4e", "0002a1b2c3dg"}) EXPECT_FALSE(ParseAddress(bad)) << bad;
  EXPECT_TRUE(ValidDeviceId("phone-1.a_b"));
  for (const char* bad : {"", "a/b", "a b", "..\\x"}) EXPECT_FALSE(ValidDeviceId(bad)) << bad;
  EXPECT_FALSE(ValidDeviceId(std::string(65, 'a')));
  EXPECT_TRUE(IsTimeStamp(UtcTimeAnchor()));
}

}  // namespace
}  // namespace zelsync_tool
