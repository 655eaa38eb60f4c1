// The local item store of the Linux library, looked at and changed on its
// files so that a person can try changes on the PC side:
//   <root>/contacts/<stem>.vcf      vCards
//   <root>/calendar/<stem>.ics      iCalendar files
//   <root>/notes/<stem>.txt         UTF-8 text
//   <root>/mail/inbox/{cur,new}/    a Maildir: the Inbox
// The root is the store's own (ZELSYNC_STORE, else the data folder). Items
// are named by the library's entry IDs. What is written is built by the
// store's own format code (vCards, libical, GMime); the files are written
// as another program would write them, so the library's change scanner
// finds every change made here at the start of the next session.
#ifndef ZELSYNC_TOOL_LOCAL_STORE_H
#define ZELSYNC_TOOL_LOCAL_STORE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
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
  // True when the event times in `fields` can be stored (a start is needed
  // when `new_item`); else a message to `err`, for the command line to
  // refuse them.
  static bool IsItemTime(const ItemFields& fields, bool new_item, std::ostream& err);
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

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_LOCAL_STORE_H
