// The four object types of the interface, as the host names and files them.
#ifndef ZELSYNC_TOOL_OBJECT_TYPES_H
#define ZELSYNC_TOOL_OBJECT_TYPES_H

#include <cstdint>
#include <string>
#include <vector>

namespace zelsync_tool {

struct TypeInfo {
  uint32_t code;               // _SYNC_OBJECT_TYPE
  const char* name;            // "contact": in state files, JSON and options
  const char* title;           // "contacts": in reports
  const char* folder;          // the phone's folder of this type
  const char* irmc_database;   // the IrMC database ID of this type
  std::vector<std::string> extensions;  // lower case; the first is the usual one
};

// In the order a session handles them: contacts, calendar, notes, mail.
const std::vector<TypeInfo>& ObjectTypes();
const TypeInfo& TypeByCode(uint32_t code);
// Accepts the name, the title and a few common forms ("contacts", "inbox",
// "mails", "events"); null for anything else.
const TypeInfo* FindType(const std::string& text);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_OBJECT_TYPES_H
