// The local item store of the Linux library, looked at and changed on its
// files so that a person can try changes on the PC side:
//   <root>/contacts/<stem>.vcf      vCards
//   <root>/calendar/<stem>.ics      iCalendar files
//   <root>/notes/<stem>.txt         UTF-8 text
//   <root>/mail/inbox/{cur,new}/    a Maildir: the Inbox
// The root is $ZELSYNC_STORE, else $XDG_DATA_HOME/zelsync, else
// ~/.local/share/zelsync. An item's entry ID is its file's stem (the name
// without extension or Maildir flags). The library's change scanner finds
// every change made here at the start of the next session.
//
// This module works on the files directly; it is the one place to switch
// over should the library come to offer store operations of its own.
#ifndef ZELSYNC_TOOL_LOCAL_STORE_H
#define ZELSYNC_TOOL_LOCAL_STORE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zelsync_tool {

struct StoreItem {
  uint32_t type = 0;
  std::string id;       // the entry ID
  std::filesystem::path path;
  std::string summary;  // a one-line description
};

// What `store add` and `store edit` are given. Fields that do not apply to
// the type are refused by the command line before they get here.
struct ItemFields {
  std::optional<std::string> name, phone, email;        // contact
  std::optional<std::string> summary, start, end, location;  // calendar (start/end: YYYYMMDDTHHMMSS)
  std::optional<std::string> text;                       // note; mail body
  std::optional<std::string> from, to, subject;          // mail
  std::vector<std::filesystem::path> attachments;        // mail
};

class LocalStore {
 public:
  // False on a platform without the local store (Windows: the items live
  // in Outlook) or when no root can be named; *why says which.
  static bool Find(LocalStore* store, std::string* why);
  explicit LocalStore(std::filesystem::path root) : root_(std::move(root)) {}
  const std::filesystem::path& root() const { return root_; }

  std::vector<StoreItem> List(uint32_t type) const;
  std::optional<StoreItem> Get(uint32_t type, const std::string& id) const;
  // Adds an item made from `fields`, or a copy of `file` when given. The
  // new entry ID in *id. False with a message naming the fault.
  bool Add(uint32_t type, const ItemFields& fields, const std::optional<std::filesystem::path>& file,
           std::string* id, std::string* error) const;
  // Replaces the item with `file`, or changes the given fields.
  bool Edit(uint32_t type, const std::string& id, const ItemFields& fields,
            const std::optional<std::filesystem::path>& file, std::string* error) const;
  bool Delete(uint32_t type, const std::string& id, std::string* error) const;

 private:
  std::filesystem::path Folder(uint32_t type) const;
  std::filesystem::path root_;
};

// Builders of item texts, shared with the demo.
std::string MakeVCard(const ItemFields& fields);
std::string MakeVEvent(const ItemFields& fields);
std::string MakeMail(const ItemFields& fields, std::string* error);
// Sets (replaces or adds) a property line "NAME:value" in a vObject text,
// inside its first component; values are escaped as vCard/iCalendar text.
std::string SetProperty(const std::string& text, const std::string& name, const std::string& value);
// The value of the first property line NAME (unfolded, unescaped), or "".
std::string GetProperty(const std::string& text, const std::string& name);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_LOCAL_STORE_H
