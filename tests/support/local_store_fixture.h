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

// What the store reads of an item: a contact's FullName, an event's
// Subject, a note's body; a mail's subject, sender, on-behalf name, read
// state and importance other than normal; "(unreadable)" when reading
// fails (and a contact or event is not handed out either).
inline std::string Describe(outlook::Item& item, const std::filesystem::path& out) {
  outlook::OptString text, sender, behalf;
  bool unread = false;
  int32_t importance = 1;
  if (auto c = item.QueryContact()) {
    if (c->FullName(&text)) return Narrow(text);
    return c->SaveAs(ToWide(out), outlook::kSaveAsVCard) ? "(handed out)" : "(unreadable)";
  }
  if (auto a = item.QueryAppointment()) {
    if (a->Subject(&text)) return Narrow(text);
    return a->SaveAs(ToWide(out), outlook::kSaveAsVCalendar) ? "(handed out)" : "(unreadable)";
  }
  if (auto n = item.QueryNote()) return n->Body(&text) ? Narrow(text) : "(unreadable)";
  auto m = item.QueryMail();
  if (!m) return "(another class)";
  if (!m->Subject(&text) || !m->SenderName(&sender) || !m->SentOnBehalfOfName(&behalf) ||
      !m->UnRead(&unread) || !m->Importance(&importance))
    return "(unreadable)";
  return Narrow(text) + " from " + Narrow(sender) + " for " + Narrow(behalf) +
         (unread ? ", unread" : "") + (importance == 0 ? ", low" : importance == 2 ? ", high" : "");
}

// Points the store at a folder for the lifetime of the object.
class ScopedStoreRoot {
 public:
  explicit ScopedStoreRoot(const std::filesystem::path& root) {
    if (const char* old = getenv("ZELSYNC_STORE")) old_ = old;
    setenv("ZELSYNC_STORE", root.c_str(), 1);
  }
  ~ScopedStoreRoot() { old_ ? setenv("ZELSYNC_STORE", old_->c_str(), 1) : unsetenv("ZELSYNC_STORE"); }
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

  // Each item of a default folder: "<entry ID>: <what the store reads>".
  std::string Listing(int32_t folder) {
    std::string listing;
    for (auto& item : All(folder))
      listing += IdOf(*item) + ": " + Describe(*item, scratch_.path() / "out") + "\n";
    return listing;
  }

  // The item of the file `name` in the scratch folder, which gets `text`.
  std::shared_ptr<outlook::Item> Open(const std::string& text, const std::string& name) {
    WriteText(scratch_.path() / name, text);
    std::shared_ptr<outlook::Item> item;
    return session_->OpenSharedItem(ToWide(scratch_.path() / name), &item) ? item : nullptr;
  }

  // `text` opened as a shared item and saved into the store: its entry ID.
  std::string Save(const std::string& text, const std::string& name) {
    auto item = Open(text, name);
    auto contact = item ? item->QueryContact() : nullptr;
    auto appointment = item ? item->QueryAppointment() : nullptr;
    const bool saved = contact ? contact->Save() : appointment && appointment->Save();
    EXPECT_TRUE(saved) << text;
    return saved ? IdOf(*item) : "";
  }

  // A new note of the library's, saved; and its file.
  std::shared_ptr<outlook::NoteItem> SaveNote(const WString& body) {
    std::shared_ptr<outlook::Item> item;
    EXPECT_TRUE(app_->CreateItem(outlook::kNoteItem, &item) && item->QueryNote()->PutBody(body) &&
                item->QueryNote()->Save());
    return item->QueryNote();
  }
  std::filesystem::path NoteFile(const std::shared_ptr<outlook::NoteItem>& note) {
    return Root() / "notes" / (StemOf(IdOf(*note)) + ".txt");
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
