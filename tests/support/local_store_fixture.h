// Test support for the local item store: a store in the test's scratch
// folder, connected through its object model, and small file helpers.
#ifndef ZELSYNC_TESTS_SUPPORT_LOCAL_STORE_FIXTURE_H
#define ZELSYNC_TESTS_SUPPORT_LOCAL_STORE_FIXTURE_H
#ifndef _WIN32

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "local/local_store.h"
#include "support/scratch.h"

namespace zelsync {
namespace testing {

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string Narrow(const outlook::OptString& value) {
  return value ? Utf16ToUtf8(*value) : "(null)";
}

inline std::string IdOf(outlook::ItemBase& item) {
  outlook::OptString id;
  EXPECT_TRUE(item.EntryID(&id));
  return Narrow(id);
}

// The entry ID of an item of any of the four classes.
inline std::string IdOf(outlook::Item& item) {
  if (auto mail = item.QueryMail()) return IdOf(*mail);
  if (auto note = item.QueryNote()) return IdOf(*note);
  if (auto contact = item.QueryContact()) return IdOf(*contact);
  if (auto appointment = item.QueryAppointment()) return IdOf(*appointment);
  return "(another class)";
}

// The file name an entry ID carries after its kind's tag.
inline std::string StemOf(const std::string& id) { return id.substr(id.find('/') + 1); }

// How often `part` occurs in `text`.
inline size_t Occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

// Points the store at a folder for the lifetime of the object.
class ScopedStoreRoot {
 public:
  explicit ScopedStoreRoot(const std::filesystem::path& root) {
    if (const char* old = getenv("ZELSYNC_STORE")) old_ = old;
    setenv("ZELSYNC_STORE", root.c_str(), 1);
  }
  ~ScopedStoreRoot() {
    old_ ? setenv("ZELSYNC_STORE", old_->c_str(), 1) : unsetenv("ZELSYNC_STORE");
  }

 private:
  std::optional<std::string> old_;
};

// A store in the scratch folder ("store"), connected.
class LocalStoreTest : public LibraryTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(outlook::ConnectResult::kOk, model_.Connect(&app_));
    ASSERT_TRUE(app_->Session(&session_));
  }

  std::filesystem::path Root() const { return scratch_.path() / "store"; }

  // The items of a default folder, in collection order.
  std::vector<std::shared_ptr<outlook::Item>> All(int32_t folder) {
    std::shared_ptr<outlook::Folder> f;
    std::shared_ptr<outlook::Items> items;
    int32_t count = 0;
    EXPECT_TRUE(session_->GetDefaultFolder(folder, &f) && f->GetItems(&items) &&
                items->Count(&count));
    std::vector<std::shared_ptr<outlook::Item>> all(count);
    for (int32_t i = 1; i <= count; ++i) EXPECT_TRUE(items->Item(i, &all[i - 1]));
    return all;
  }

  // The item of the file `name` in the scratch folder, which gets `text`.
  std::shared_ptr<outlook::Item> Open(const std::string& text, const std::string& name = "in.vcf") {
    WriteText(scratch_.path() / name, text);
    std::shared_ptr<outlook::Item> item;
    if (!session_->OpenSharedItem(ToWide(scratch_.path() / name), &item)) return nullptr;
    return item;
  }

  ScopedStoreRoot root_{Root()};
  local::LocalObjectModel model_;
  std::shared_ptr<outlook::Application> app_;
  std::shared_ptr<outlook::Namespace> session_;
};

}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
#endif  // ZELSYNC_TESTS_SUPPORT_LOCAL_STORE_FIXTURE_H
