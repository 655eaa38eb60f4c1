// The host's simulated phone and its session drivers, against a fake PC
// that serves the exports from memory (the real library is exercised end to
// end by the tool's CTest script).
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
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

// The PC: items, the LUID mapping and the change log, all in memory.
struct FakePc {
  struct Item {
    uint32_t type;
    std::string content;
  };
  std::map<std::string, Item> items;                         // by entry ID
  std::map<std::pair<uint32_t, std::string>, std::string> luids;  // (type, entry) -> LUID
  std::vector<std::pair<std::string, bool>> log;            // entry ID, deleted
  std::vector<std::string> calls;
  fs::path temp;
  std::string database;                       // the current IrMC database
  std::map<std::string, uint32_t> counters;  // per IrMC database
  bool fail_create = false;
  bool repeat_new = false;  // GetNewRecord keeps offering the same item
  int next_entry = 1;
  struct Saved {
    std::map<std::string, Item> items;
    std::map<std::pair<uint32_t, std::string>, std::string> luids;
    std::vector<std::pair<std::string, bool>> log;
  };
  std::optional<Saved> saved;
  std::vector<std::pair<uint32_t, std::string>> created_in_session;
  std::string anchor;

  std::string EntryOf(uint32_t type, const std::string& luid) const {
    for (const auto& [key, value] : luids)
      if (key.first == type && value == luid) return key.second;
    return "";
  }
  std::string Hand(const std::string& entry) {
    fs::path file = temp / (entry + ".vcf");
    WriteAll(file, items[entry].content);
    return PathToUtf8(file);
  }
};
FakePc* pc = nullptr;

int SetDeviceIDDatabaseID(const ZS_WCHAR* device, const ZS_WCHAR* database) {
  pc->calls.push_back("SetDeviceIDDatabaseID");
  pc->database = Utf16ToUtf8(FromWide(device)) + "_" + Utf16ToUtf8(FromWide(database));
  return 1;
}
int IsDeviceIDKnown() { return 1; }
int GetChangeCounter(uint32_t* value) { *value = pc->counters[pc->database]; return 1; }
int UpdateChangeCounter(uint32_t value) {
  pc->calls.push_back("UpdateChangeCounter " + std::to_string(value));
  pc->counters[pc->database] = value;
  return 1;
}
int GetNew(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entry, ZS_WCHAR* path) {
  for (auto& [id, item] : pc->items) {
    if (item.type != static_cast<uint32_t>(type)) continue;
    auto known = pc->luids.find({type, id});
    if (known != pc->luids.end() && !pc->repeat_new) continue;
    pc->luids[{type, id}] = "UNDEFINED";
    ToWide(entry, Utf8ToUtf16(id));
    ToWide(path, Utf8ToUtf16(pc->Hand(id)));
    pc->calls.push_back("GetNewRecord " + id);
    return 1;
  }
  return 0;
}
int MapLuid(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entry, const ZS_WCHAR* luid) {
  std::string id = Utf16ToUtf8(FromWide(entry));
  pc->calls.push_back("MapLuid " + id + " " + Utf16ToUtf8(FromWide(luid)));
  pc->luids[{type, id}] = Utf16ToUtf8(FromWide(luid));
  return 1;
}
int GetModified(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entry, ZS_WCHAR* luid, ZS_WCHAR* path) {
  for (size_t i = 0; i < pc->log.size(); ++i) {
    auto [id, deleted] = pc->log[i];
    auto mapped = pc->luids.find({type, id});
    if (deleted || mapped == pc->luids.end() || pc->items[id].type != static_cast<uint32_t>(type)) continue;
    pc->log.erase(pc->log.begin() + static_cast<long>(i));
    ToWide(entry, Utf8ToUtf16(id));
    ToWide(luid, Utf8ToUtf16(mapped->second));
    ToWide(path, Utf8ToUtf16(pc->Hand(id)));
    return 1;
  }
  return 0;
}
int GetDeleted(_SYNC_OBJECT_TYPE type, ZS_WCHAR* luid, int32_t* hard) {
  for (size_t i = 0; i < pc->log.size(); ++i) {
    auto [id, deleted] = pc->log[i];
    auto mapped = pc->luids.find({type, id});
    if (!deleted || mapped == pc->luids.end()) continue;
    ToWide(luid, Utf8ToUtf16(mapped->second));
    *hard = 0;
    pc->luids.erase(mapped);
    pc->log.erase(pc->log.begin() + static_cast<long>(i));
    return 1;
  }
  return 0;
}
int SyncMLGetDeleted(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entry, ZS_WCHAR* luid, int32_t* hard) {
  entry[0] = 0;
  return GetDeleted(type, luid, hard);
}
int Create(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
  fs::path file = PathFromUtf16(FromWide(path));
  std::string content = ReadAll(file);
  fs::remove(file);  // consumed
  pc->calls.push_back("CreateNewRecord " + Utf16ToUtf8(FromWide(luid)));
  if (pc->fail_create) return 0;
  std::string id = "N" + std::to_string(pc->next_entry++);
  pc->items[id] = {static_cast<uint32_t>(type), content};
  pc->luids[{type, id}] = Utf16ToUtf8(FromWide(luid));
  return 1;
}
int SyncMLCreate(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* path, const ZS_WCHAR* luid) { return Create(type, luid, path); }
int Update(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
  fs::path file = PathFromUtf16(FromWide(path));
  std::string id = pc->EntryOf(type, Utf16ToUtf8(FromWide(luid)));
  pc->calls.push_back("UpdateRecord " + id);
  pc->items[id].content = ReadAll(file);
  fs::remove(file);
  return id.empty() ? 0 : 1;
}
int Delete(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* luid) {
  std::string id = pc->EntryOf(type, Utf16ToUtf8(FromWide(luid)));
  pc->calls.push_back("DeleteRecord " + id);
  pc->items.erase(id);
  pc->luids.erase({type, id});
  return 1;
}
int ResetCounters() { return 1; }
int SetAnchor(uint64_t, _SYNCML_SYNCANCHOR_RECORD anchor) {
  pc->anchor = Utf16ToUtf8(FromWide(anchor.TimeAnchor));
  return 1;
}
int GetAnchor(uint64_t, _SYNCML_SYNCANCHOR_RECORD* anchor) {
  *anchor = {};
  anchor->AnchorKind = 1;
  ToWide(anchor->TimeAnchor, Utf8ToUtf16(pc->anchor));
  return 1;
}
int SetComplete(_SYNCML_SYNCANCHOR_RECORD anchor) {
  pc->calls.push_back("SyncMLSetSyncComplete");
  pc->anchor = Utf16ToUtf8(FromWide(anchor.TimeAnchor));
  return 1;
}
int Save(uint64_t) {
  pc->saved = FakePc::Saved{pc->items, pc->luids, pc->log};
  pc->created_in_session.clear();
  return 1;
}
int Restore(uint64_t) {
  pc->calls.push_back("SyncMLRestoreDBFiles");
  pc->items = pc->saved->items;
  pc->luids = pc->saved->luids;
  pc->log = pc->saved->log;
  return 1;
}
int AddNewRec(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* luid) {
  pc->created_in_session.push_back({type, Utf16ToUtf8(FromWide(luid))});
  return 1;
}
void DeleteTemp() { pc->calls.push_back("SyncMLDeleteTempFiles"); }

Exports FakeExports() {
  Exports e;
  e.SetDeviceIDDatabaseID = SetDeviceIDDatabaseID;
  e.IsDeviceIDKnown = IsDeviceIDKnown;
  e.GetChangeCounter = GetChangeCounter;
  e.UpdateChangeCounter = UpdateChangeCounter;
  e.UpdateLUIDofPrevGetNewRecord = MapLuid;
  e.UpdateLUIDofPrevModifiedRecord = MapLuid;
  e.GetDeletedRecord = GetDeleted;
  e.GetNewRecord = GetNew;
  e.GetModifiedRecord = GetModified;
  e.CreateNewRecord = Create;
  e.UpdateRecord = Update;
  e.DeleteRecord = Delete;
  e.SyncMLSetBDAddrLastSyncAnchor = SetAnchor;
  e.SyncMLGetLastSyncAnchor = GetAnchor;
  e.SyncMLSetSyncComplete = SetComplete;
  e.SyncMLResetCounters = ResetCounters;
  e.SyncMLSaveDBFiles = Save;
  e.SyncMLRestoreDBFiles = Restore;
  e.SyncMLAddNewRecToTempDBFile = AddNewRec;
  e.SyncMLDeleteTempFiles = DeleteTemp;
  e.SyncMLGetDeletedRecord = SyncMLGetDeleted;
  e.SyncMLUpdateEntryIDLUIDMapping = MapLuid;
  e.SyncMLGetNewRecord = GetNew;
  e.SyncMLGetModifiedRecord = GetModified;
  e.SyncMLCreateNewRecord = SyncMLCreate;
  e.SyncMLUpdateRecord = Update;
  e.SyncMLDeleteRecord = Delete;
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

TEST_P(SessionTest, FirstSessionMovesEachSideOnceAndTheSecondNothing) {
  SessionReport first = Run();
  EXPECT_FALSE(first.failed()) << ReportToText(first, true);
  EXPECT_EQ(Contacts(first).sent, 2);
  EXPECT_EQ(Contacts(first).received, 1);
  EXPECT_EQ(fake_.items.size(), 3u);
  for (const auto& [key, luid] : fake_.luids) EXPECT_NE(luid, "UNDEFINED") << key.second;
  EXPECT_EQ(FolderImage(PhoneDir()).count("contacts/1.vcf") + FolderImage(PhoneDir()).count("contacts/2.vcf") +
                FolderImage(PhoneDir()).count("contacts/3.vcf"),
            2u);
  EXPECT_TRUE(fs::is_empty(fake_.temp)) << "the host disposes of the files the library handed out";
  if (GetParam() == Road::kIrmc) {
    // The phone's one change raised its counter, which the PC now keeps.
    EXPECT_EQ(fake_.counters["dev_pb"], 1u);
    EXPECT_EQ(fake_.counters["dev_nt"], 0u);
    EXPECT_EQ(fake_.calls.front(), "SetDeviceIDDatabaseID");
  } else {
    EXPECT_EQ(fake_.anchor, "20260101T000001Z");
    EXPECT_EQ(fake_.created_in_session.size(), 1u);
    EXPECT_EQ(fake_.calls.back(), "SyncMLDeleteTempFiles");
  }
  const size_t calls = fake_.calls.size();
  SessionReport second = Run();
  EXPECT_EQ(second.moved(), 0) << ReportToText(second, true);
  for (size_t i = calls; i < fake_.calls.size(); ++i) {
    EXPECT_EQ(fake_.calls[i].find("Record "), std::string::npos) << fake_.calls[i];
  }
}

TEST_P(SessionTest, ChangesAndDeletionsTravelOnceEachWay) {
  Run();
  const std::string alice_luid = fake_.luids[{2, "E1"}];
  const std::string own_luid = fake_.luids[{2, "N1"}];
  fake_.items["E1"].content = "BEGIN:VCARD\r\nFN:Alice Changed\r\nEND:VCARD\r\n";
  fake_.log.push_back({"E1", false});
  WriteAll(PhoneDir() / "contacts" / "own.vcf", "BEGIN:VCARD\r\nFN:Own Changed\r\nEND:VCARD\r\n");
  SessionReport changed = Run();
  EXPECT_EQ(Contacts(changed).updated, 2) << ReportToText(changed, true);
  EXPECT_EQ(ReadAll(PhoneDir() / "contacts" / (alice_luid + ".vcf")), fake_.items["E1"].content);
  EXPECT_NE(fake_.items["N1"].content.find("Own Changed"), std::string::npos);
  EXPECT_EQ(Run().moved(), 0);

  fake_.items.erase("E2");
  fake_.log.push_back({"E2", true});
  fs::remove(PhoneDir() / "contacts" / "own.vcf");
  SessionReport deleted = Run();
  EXPECT_EQ(Contacts(deleted).deleted, 2) << ReportToText(deleted, true);
  EXPECT_EQ(fake_.items.count("N1"), 0u);
  EXPECT_EQ(FolderImage(PhoneDir()).size(), 2u);  // Alice and phone.json
  EXPECT_EQ(fake_.EntryOf(2, own_luid), "");
  EXPECT_EQ(Run().moved(), 0);
}

TEST_P(SessionTest, ChangedOnBothSidesThePcWins) {
  Run();
  const std::string alice_luid = fake_.luids[{2, "E1"}];
  fake_.items["E1"].content = "PC version";
  fake_.log.push_back({"E1", false});
  WriteAll(PhoneDir() / "contacts" / (alice_luid + ".vcf"), "phone version");
  SessionReport report = Run();
  EXPECT_EQ(Contacts(report).updated, 1) << ReportToText(report, true);
  EXPECT_EQ(ReadAll(PhoneDir() / "contacts" / (alice_luid + ".vcf")), "PC version");
  EXPECT_EQ(fake_.items["E1"].content, "PC version");
  EXPECT_FALSE(report.notes.empty());
}

TEST_P(SessionTest, AChangeOfAnObjectThePhoneDeletedOrForgot) {
  Run();
  const std::string alice_luid = fake_.luids[{2, "E1"}];
  // Deleted on the phone, changed on the PC: the change wins and the
  // object comes back under its LUID; the phone's deletion is dropped.
  fake_.log.push_back({"E1", false});
  fs::remove(PhoneDir() / "contacts" / (alice_luid + ".vcf"));
  SessionReport restored = Run();
  EXPECT_EQ(Contacts(restored).updated, 1) << ReportToText(restored, true);
  EXPECT_EQ(Contacts(restored).deleted, 0);
  EXPECT_TRUE(fs::exists(PhoneDir() / "contacts" / (alice_luid + ".vcf")));
  EXPECT_EQ(fake_.items.count("E1"), 1u);

  // A phone that has no record of the LUID at all takes the object as a new
  // one, and the PC learns the new LUID.
  fake_.log.push_back({"E1", false});
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

TEST_P(SessionTest, AFailedCreationStaysPendingOnThePhone) {
  fake_.fail_create = true;
  SessionReport report = Run();
  EXPECT_TRUE(report.failed());
  EXPECT_EQ(Contacts(report).failed, 1);
  EXPECT_EQ(Contacts(report).sent, 2);
  fake_.fail_create = false;
  SessionReport retry = Run();
  EXPECT_EQ(Contacts(retry).received, 1) << ReportToText(retry, true);
  EXPECT_EQ(retry.moved(), 1);
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

TEST_P(SessionTest, InterruptedSessionIsRolledBackOnlyBySyncML) {
  if (GetParam() == Road::kIrmc) {
    SessionOptions options;
    options.interrupt_after = 1;
    SessionReport report = Run(options);
    EXPECT_TRUE(report.interrupted);
    EXPECT_FALSE(report.rolled_back);
    EXPECT_TRUE(report.failed());
    // What moved stays moved: the next session goes on from there.
    EXPECT_EQ(Run().moved(), 2);
    return;
  }
  Run();
  const auto pc_before = fake_.items;
  WriteAll(PhoneDir() / "contacts" / "late.vcf", "late");
  fake_.items["E3"] = {2, "new on the PC"};
  const auto phone_before = FolderImage(PhoneDir());
  const auto pc_items_before = fake_.items;
  SessionOptions options;
  options.interrupt_after = 2;  // the new PC contact, then the phone's
  SessionReport report = Run(options);
  EXPECT_TRUE(report.interrupted);
  EXPECT_TRUE(report.rolled_back);
  EXPECT_TRUE(report.failed());
  EXPECT_EQ(FolderImage(PhoneDir()), phone_before);
  EXPECT_EQ(fake_.calls.back(), "SyncMLRestoreDBFiles");
  EXPECT_EQ(fake_.anchor, "20260101T000001Z") << "the anchor of the last completed session stays";
  SessionReport again = Run();
  EXPECT_EQ(Contacts(again).sent, 1) << ReportToText(again, true);
  EXPECT_EQ(Contacts(again).received, 1);
}

TEST_P(SessionTest, DryRunChangesNothing) {
  const auto phone_before = FolderImage(PhoneDir());
  SessionOptions options;
  options.dry_run = true;
  SessionReport report = Run(options);
  EXPECT_FALSE(report.failed());
  EXPECT_EQ(Contacts(report).received, 1);
  EXPECT_EQ(FolderImage(PhoneDir()), phone_before);
  EXPECT_TRUE(fake_.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Roads, SessionTest, ::testing::Values(Road::kIrmc, Road::kSyncML),
                         [](const ::testing::TestParamInfo<Road>& info) { return std::string(RoadName(info.param)); });

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

TEST(PhoneState, NoticesSavesAndUndoes) {
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
  phone.road = "irmc";
  ASSERT_TRUE(phone.Save(&error)) << error;

  Phone again;
  ASSERT_TRUE(Phone::Open(scratch.path(), &again, &error)) << error;
  EXPECT_EQ(again.road, "irmc");
  ASSERT_EQ(again.items().size(), 1u);
  EXPECT_TRUE(again.PendingChanges().empty());

  const auto before = FolderImage(scratch.path());
  again.BeginJournal();
  WriteAll(scratch.path() / "incoming.vcf", "B");
  std::string luid = again.ReceiveNew(2, scratch.path() / "incoming.vcf");
  fs::remove(scratch.path() / "incoming.vcf");
  bool own = false;
  EXPECT_TRUE(again.ReceiveDeletion(2, again.items()[0].luid, &own));
  EXPECT_FALSE(own);
  EXPECT_FALSE(again.ReceiveDeletion(2, "no such LUID", &own));
  again.UndoJournal();
  EXPECT_EQ(FolderImage(scratch.path()), before);
  EXPECT_EQ(again.items().size(), 1u);
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
