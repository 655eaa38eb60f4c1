// The subcommands of `zelsync`, each returning its exit status: 0 success,
// 1 a failed session or a fault in a named file, 2 bad usage.
#ifndef ZELSYNC_TOOL_COMMANDS_H
#define ZELSYNC_TOOL_COMMANDS_H

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library.h"
#include "local_store.h"
#include "session.h"

namespace zelsync_tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// Loads the library from `path`, else from the default places. On failure
// prints why and sets *status (2 when the given path is at fault).
std::unique_ptr<Library> LoadZelsyncLibrary(const std::string& path, std::ostream& err, int* status);

// A progress line on stderr when it is a terminal; nothing otherwise.
std::function<void(const std::string&)> TerminalProgress();
void EndTerminalProgress();

struct SyncCommand {
  std::string road;
  std::string device;
  bool dry_run = false;
  bool retry = false;  // offer again what the PC refused before
  std::optional<int> interrupt_after;
  std::string device_id;
  std::string address;
  bool json = false;
  bool verbose = false;
};
int RunSync(const SyncCommand& command, const std::string& library_path, std::ostream& out, std::ostream& err);

int RunPhoneShow(const std::string& device, bool json, std::ostream& out, std::ostream& err);

// Removes the library's databases of the phone in `device` and makes the
// phone forget its partner: the next session is a first one, which pairs
// the phone's objects with the PC's items by content.
int RunReset(const std::string& device, std::ostream& out, std::ostream& err);

struct StoreCommand {
  std::string action;  // list, show, add, edit, delete
  std::string type;
  std::string id;
  std::optional<std::string> file;
  ItemFields fields;
  std::vector<std::string> attachments;
  bool json = false;
};
int RunStore(const StoreCommand& command, std::ostream& out, std::ostream& err);

struct DemoCommand {
  std::optional<std::string> folder;  // keep everything in this folder
  bool keep = false;
};
int RunDemo(const DemoCommand& command, const std::string& library_path, std::ostream& out, std::ostream& err);

int Main(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_COMMANDS_H
