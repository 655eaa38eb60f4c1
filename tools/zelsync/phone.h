// The simulated phone: a folder of vObject files, one sub-folder per object
// type, and a small state file ("phone.json") that holds what a phone keeps
// about its sync partner: the LUID it gave each object, what each object
// looked like at the end of the last session (a content hash), its IrMC
// change counters and its last SyncML anchor.
//
// The phone's own changes since the last session follow from comparing the
// folder with the state file: a file without a LUID is a creation (it gets
// a LUID when the phone first notices it), a file whose content differs
// from its hash is a change, a LUID whose file is gone is a deletion.
// Editing the folder by hand is therefore how a person changes the phone.
//
// During a session the phone commits after every object, as a real phone
// does, by appending what changed to a commit log ("phone.commits") beside
// the state file; the log continues the state file whose "commits" ID its
// first line names, and is folded into the state file by the next full
// save. A line without its line end is a commit a killed process did not
// finish, and does not count.
#ifndef ZELSYNC_TOOL_PHONE_H
#define ZELSYNC_TOOL_PHONE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "bookkeeping_files.h"
#include "platform/platform.h"

namespace zelsync_tool {

constexpr const char kPhoneStateFile[] = "phone.json";
constexpr const char kPhoneCommitLog[] = "phone.commits";

struct PhoneItem {
  std::string luid;
  uint32_t type = 0;
  std::string file;                 // relative to the phone folder, '/'-separated
  std::optional<std::string> hash;  // content at the last session; none: not yet sent
  // The PC refused the object as it was then (hash of that content) and
  // why: it is not offered again until it changes.
  std::optional<std::string> refused_hash;
  std::string refused_reason;
  // The item's entry as last committed (to the state file or the commit
  // log); emptied whenever a field above changes, which marks the item for
  // the next commit.
  std::string saved_entry;
};

enum class ChangeKind { kNew, kChanged, kDeleted };
const char* ChangeKindName(ChangeKind kind);

struct PhoneChange {
  ChangeKind kind = ChangeKind::kNew;
  uint32_t type = 0;
  std::string luid;
  std::string file;
};

struct PhoneAnchor {
  uint32_t kind = 1;
  std::string time = "00000000T000000Z";
  uint32_t number = 0;
  bool operator==(const PhoneAnchor& other) const {
    return kind == other.kind && time == other.time && number == other.number;
  }
};

class Phone {
 public:
  // Opens the phone in `folder`: reads its state file and replays the
  // commit log that continues it, or starts a new phone (nothing is written
  // until Save) when there is none. False, with a message naming the file,
  // when the state file or the log cannot be read or parsed.
  static bool Open(const std::filesystem::path& folder, Phone* phone, std::string* error);
  // Writes the whole state file (through a scratch file renamed over it),
  // which takes in the commit log, and drops the log. With kPowerCut the
  // object files written since the last such save are made to last first,
  // and the state file is synced.
  bool Save(std::string* error, zelsync::Lasting lasting = zelsync::Lasting::kPowerCut);
  // Commits what changed since the last commit so that a killed process
  // keeps it: appends one line to the commit log, in time linear in what
  // changed (the first commit after opening the phone is a full Save that
  // folds in the log it found). False, with a message naming the file, when
  // it cannot be written; the next commit then saves the whole state.
  bool Commit(std::string* error);

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path StatePath() const { return folder_ / kPhoneStateFile; }
  std::filesystem::path CommitLogPath() const { return folder_ / kPhoneCommitLog; }
  bool is_new() const { return is_new_; }

  // Identity, fixed when the phone first syncs.
  std::string road;        // "", "irmc" or "syncml"
  std::string device_id;   // IrMC device ID
  std::string address;     // SyncML device address, 12 lower-case hex digits
  std::map<std::string, uint32_t> change_counters;  // IrMC, per type name
  std::optional<PhoneAnchor> anchor;                 // SyncML, the last one agreed

  const std::vector<PhoneItem>& items() const { return items_; }
  const PhoneItem* FindItem(uint32_t type, const std::string& luid) const;

  // Gives a LUID to each file of the type folders that has none yet. Files
  // whose extension does not fit their folder are listed in *ignored.
  void NoticeNewFiles(std::vector<std::string>* ignored = nullptr);
  // The phone's changes since the last session, per the folder's content;
  // of one type when `only_type` is given.
  std::vector<PhoneChange> PendingChanges(std::optional<uint32_t> only_type = std::nullopt) const;

  // Objects from the PC. Each records the object as it now stands on the
  // phone; *had_own_change tells whether the phone's own pending change of
  // that object was overridden. With `take_source` the file at `source` is
  // the phone's to take: it is moved into place where the file system
  // allows (one file fewer made and removed per object), else copied.
  std::string ReceiveNew(uint32_t type, const std::filesystem::path& source,
                         bool take_source = false);
  // Replaces the object of `luid`; false when the phone has no such object
  // or cannot write the file (the object then stays as it was).
  bool ReceiveChange(uint32_t type, const std::string& luid, const std::filesystem::path& source,
                     bool* had_own_change, bool take_source = false);
  // Deletes the object of `luid`; false when the phone has no such object.
  bool ReceiveDeletion(uint32_t type, const std::string& luid, bool* had_own_change);

  // The phone's change reached the PC: the object now counts as in step.
  void MarkDelivered(const PhoneChange& change);
  // The PC refused the change, offered with content `hash`: it stays on the
  // phone, and is not offered again until the file changes (or the
  // refusals are forgotten).
  void MarkRefused(const PhoneChange& change, const std::string& hash, const std::string& reason);
  void ForgetRefusals();
  // How many objects wait on the phone unchanged since the PC refused them.
  int WaitingRefusals() const;

  // The object the phone has never sent whose content (see ContentKey)
  // matches the PC's file: the two are one item. Its LUID, or empty when
  // none matches. MarkDelivered then pairs them.
  std::string FindUnsentMatch(uint32_t type, const std::filesystem::path& pc_file) const;

  // Forgets every LUID, counter and anchor: the phone's objects are all
  // new to the next session, which pairs them with the PC's items.
  void ForgetPartner();

  // Copies the phone's state and files aside (in the folder ".session";
  // the object files as hard links where the file system has them) before
  // a SyncML session changes them, then saves the state. The copy
  // is on disk, so a session cut short by the death of the host can still
  // be undone by the next one. False when the copy could not be made.
  bool BeginJournal(std::string* error);
  // Puts the phone back as it was at BeginJournal, from the copy, and
  // drops the copy. False when the copy could not be put back (it is kept).
  bool UndoJournal(std::string* error);
  // The session ended: the copy goes.
  void EndJournal();
  // True when a copy of an unfinished session is on disk.
  bool HasJournal() const;
  // True when an UndoJournal failed part way: only undoing it again puts
  // the phone in a state the PC knows.
  bool UndoBegun() const;

  static std::string HashFile(const std::filesystem::path& path);
  std::filesystem::path PathOf(const std::string& relative) const;

 private:
  std::string StateFields() const;
  bool ReadStateFields(const nlohmann::json& doc, std::string* why);
  bool ReplayCommits(std::string* error);
  // Puts the content of `source` at `target`, moved there when `take` and
  // the file system allows, else copied (lasting through a killed process;
  // Save makes it last through a power cut); the hash of what was written,
  // or none when it could not be written.
  std::optional<std::string> WriteObject(const std::filesystem::path& source,
                                         const std::filesystem::path& target, bool take);
  void RemoveObject(const std::filesystem::path& path);
  void Erase(std::vector<PhoneItem>::iterator it);
  void MakeObjectsLast();
  // Where each item stands in items_, and the LUIDs and files in use, so
  // that a session's lookups do not walk the whole phone per object. Items
  // appended since it was made are taken in when it is next used; erasing
  // an item or renaming its file makes it anew.
  struct Index {
    bool valid = false;
    size_t items = 0;  // how many of items_ it covers
    std::map<std::pair<uint32_t, std::string>, size_t> at;
    std::set<std::string> luids, files;
    std::vector<size_t> unsent;  // items without a hash when taken in
  };
  const Index& Indexed() const;
  std::vector<PhoneItem>::iterator Find(uint32_t type, const std::string& luid);
  std::string NewLuid();
  std::string FreeFileName(const std::string& folder, const std::string& stem,
                           const std::string& extension) const;

  std::filesystem::path folder_;
  bool is_new_ = true;
  uint64_t next_luid_ = 1;
  std::vector<PhoneItem> items_;
  mutable Index index_;
  // The "commits" ID of the state file on disk: the commit log continues
  // it. Known to be current only after this object saved the file.
  std::string commits_id_;
  bool saved_ = false;
  bool log_made_ = false;         // this object began the commit log of commits_id_
  std::string committed_fields_;  // StateFields() as last committed
  // Items erased since the last commit: type name and LUID.
  std::vector<std::pair<std::string, std::string>> erased_;
  // Object files written or removed since the last save that lasts through
  // a power cut.
  std::vector<std::filesystem::path> unsynced_;
};

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_PHONE_H
