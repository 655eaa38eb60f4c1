// The stand-in's items, kept in one JSON file that the test writes before a
// session and reads after it, and the call log it checks.
//
// The file: {"window": bool, "next_id": n, "items": [...], "fail": [...]}.
// An item: {"entry_id", "folder" (6, 9, 10, 12, 16 Drafts), "class" (mail,
// note, contact, appointment, other), "props" {name: string | number |
// bool}, "card" (the vCard or vCalendar text SaveAs writes), "attachments"
// [{"name", "file"}]}. A failure: {"call": "Class.Member", "times": n,
// "hr": n}: the call fails its next `times` times.
#ifndef ZELSYNC_TESTS_OUTLOOK_SERVER_STORE_H
#define ZELSYNC_TESTS_OUTLOOK_SERVER_STORE_H

#include <windows.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace standin {

std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& text);
// A whole file's bytes; a write goes through a scratch file so that a
// reader never sees half of it.
bool ReadWhole(const std::wstring& path, std::string* bytes);
bool WriteWhole(const std::wstring& path, const std::string& bytes);

struct Record {
  nlohmann::json data;  // as in the file; "entry_id" empty until saved
  bool deleted = false;
};
using RecordPtr = std::shared_ptr<Record>;

class Store {
 public:
  // `path` names the JSON file; the call log and attached files go next to it.
  explicit Store(std::wstring path);

  bool Load();
  bool Save();
  // Loads again when someone else wrote the file since we last did.
  void ReloadIfChanged();

  bool window() const;
  std::vector<RecordPtr> InFolder(int folder) const;
  RecordPtr Create(const std::string& item_class);
  // Gives an unsaved record its entry ID and default folder, keeps it.
  void Commit(const RecordPtr& record);
  void Remove(const RecordPtr& record);
  std::wstring NewAttachmentPath();

  // The HRESULT a call of "Class.Member" must fail with, or S_OK.
  HRESULT Failure(const std::string& call);

  void Log(const std::string& line);
  const std::wstring& folder() const { return folder_; }

 private:
  FILETIME WrittenAt() const;

  std::wstring path_, folder_, log_path_;
  nlohmann::json meta_;  // everything but the items
  std::vector<RecordPtr> records_;
  FILETIME loaded_at_{};
};

}  // namespace standin

#endif  // ZELSYNC_TESTS_OUTLOOK_SERVER_STORE_H
