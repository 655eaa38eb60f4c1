#include "object_types.h"

#include "text.h"

namespace zelsync_tool {

const std::vector<TypeInfo>& ObjectTypes() {
  static const std::vector<TypeInfo> types = {
      {2, "contact", "contacts", "contacts", "pb", {".vcf"}},
      {3, "calendar", "calendar", "calendar", "cal", {".vcs", ".ics"}},
      {1, "note", "notes", "notes", "nt", {".vnt"}},
      {0, "mail", "mail", "inbox", "msg", {".vmg"}},
  };
  return types;
}

const TypeInfo& TypeByCode(uint32_t code) {
  for (const TypeInfo& info : ObjectTypes())
    if (info.code == code) return info;
  return ObjectTypes().front();
}

const TypeInfo* FindType(const std::string& text) {
  const std::string name = AsciiLower(text);
  for (const TypeInfo& info : ObjectTypes()) {
    if (name == info.name || name == info.title || name == info.folder) return &info;
  }
  if (name == "mails" || name == "message" || name == "messages") return &TypeByCode(0);
  if (name == "event" || name == "events" || name == "calendars") return &TypeByCode(3);
  return nullptr;
}

}  // namespace zelsync_tool
