#include "store.h"

#include <cstdio>

namespace standin {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}

bool ReadWhole(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char chunk[65536];
  DWORD got = 0;
  while (::ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes->append(chunk, got);
  CloseHandle(file);
  return true;
}

bool WriteWhole(const std::wstring& path, const std::string& bytes) {
  const std::wstring scratch = path + L".new";
  HANDLE file = CreateFileW(scratch.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const bool ok =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
      put == bytes.size();
  CloseHandle(file);
  return ok && MoveFileExW(scratch.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

namespace {

int DefaultFolder(const std::string& item_class) {
  if (item_class == "note") return 12;
  if (item_class == "contact") return 10;
  if (item_class == "appointment") return 9;
  return 16;  // Drafts: where a saved new mail waits
}

}  // namespace

Store::Store(std::wstring path) : path_(std::move(path)) {
  const size_t slash = path_.find_last_of(L"\\/");
  folder_ = slash == std::wstring::npos ? L"." : path_.substr(0, slash);
  log_path_ = folder_ + L"\\calls.log";
}

FILETIME Store::WrittenAt() const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data)) return FILETIME{};
  return data.ftLastWriteTime;
}

bool Store::Load() {
  std::string bytes;
  if (!ReadWhole(path_, &bytes)) return false;
  nlohmann::json doc = nlohmann::json::parse(bytes, nullptr, false);
  if (doc.is_discarded() || !doc.is_object()) return false;
  records_.clear();
  for (auto& item : doc.value("items", nlohmann::json::array())) {
    auto record = std::make_shared<Record>();
    record->data = item;
    records_.push_back(record);
  }
  doc.erase("items");
  meta_ = doc;
  loaded_at_ = WrittenAt();
  return true;
}

bool Store::Save() {
  nlohmann::json doc = meta_;
  doc["items"] = nlohmann::json::array();
  for (const RecordPtr& record : records_) {
    if (!record->deleted && !record->data.value("entry_id", "").empty()) {
      doc["items"].push_back(record->data);
    }
  }
  const bool ok = WriteWhole(path_, doc.dump(1));
  loaded_at_ = WrittenAt();
  if (!ok) Log("! the store file could not be written");
  return ok;
}

void Store::ReloadIfChanged() {
  const FILETIME now = WrittenAt();
  if (CompareFileTime(&now, &loaded_at_) != 0) {
    Log("reload");
    if (!Load()) Log("! the store file could not be read");
  }
}

bool Store::window() const { return meta_.value("window", false); }

std::vector<RecordPtr> Store::InFolder(int folder) const {
  std::vector<RecordPtr> found;
  for (const RecordPtr& record : records_) {
    if (!record->deleted && !record->data.value("entry_id", "").empty() &&
        record->data.value("folder", 0) == folder) {
      found.push_back(record);
    }
  }
  return found;
}

RecordPtr Store::Create(const std::string& item_class) {
  auto record = std::make_shared<Record>();
  record->data = {
      {"class", item_class}, {"entry_id", ""}, {"folder", 0}, {"props", nlohmann::json::object()}};
  records_.push_back(record);
  return record;
}

void Store::Commit(const RecordPtr& record) {
  if (record->data.value("entry_id", "").empty()) {
    // As long as a real entry ID, and as opaque.
    const unsigned id = meta_.value("next_id", 1u);
    meta_["next_id"] = id + 1;
    char text[80];
    std::snprintf(text, sizeof text, "00000000A1B2C3D4E5F60718293A4B5C6D7E8F900700%08X", id);
    record->data["entry_id"] = text;
  }
  if (record->data.value("folder", 0) == 0) {
    record->data["folder"] = DefaultFolder(record->data.value("class", ""));
  }
  Save();
}

void Store::Remove(const RecordPtr& record) {
  record->deleted = true;
  Save();
}

std::wstring Store::NewAttachmentPath() {
  const unsigned id = meta_.value("next_attachment", 1u);
  meta_["next_attachment"] = id + 1;
  return folder_ + L"\\attachment-" + std::to_wstring(id) + L".bin";
}

HRESULT Store::Failure(const std::string& call) {
  if (!meta_.contains("fail")) return S_OK;
  for (auto& rule : meta_["fail"]) {
    if (rule.value("call", "") == call && rule.value("times", 0) > 0) {
      rule["times"] = rule.value("times", 0) - 1;
      return static_cast<HRESULT>(rule.value("hr", static_cast<long>(E_FAIL)));
    }
  }
  return S_OK;
}

void Store::Log(const std::string& line) {
  HANDLE file = CreateFileW(log_path_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const std::string text = line + "\n";
  DWORD put = 0;
  ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  CloseHandle(file);
}

}  // namespace standin
