// Runs a session: through the library, or as a dry run planned from its
// files; and the device identities a session is run for.
#include <algorithm>
#include <cstdio>

#include "file_util.h"
#include "platform/platform.h"
#include "session_steps.h"
#include "text.h"

namespace zelsync_tool {
namespace fs = std::filesystem;

SessionReport RunSession(const Exports& library, Phone* phone, const SessionOptions& options,
                         const fs::path& sync_folder) {
  SessionReport report;
  report.road = options.road;
  report.phone = PathToUtf8(phone->folder());
  report.dry_run = options.dry_run;
  if (options.dry_run) {
    PlanDryRun(phone, options, sync_folder, &report);
  } else {
    try {
      DriveSession(library, phone, options, sync_folder, &report);
    } catch (const std::exception& e) {
      report.errors.push_back(std::string("the session stopped: ") + e.what());
      report.completed = false;
    }
    if (!report.rolled_back) {
      std::string error;
      if (phone->Save(&error)) {
        if (report.completed) phone->EndJournal();
      } else {
        report.errors.push_back(error);
      }
    }
  }
  // Objects the PC refused do not fail later sessions, but every session
  // says they are there, so that none stays on the phone unnoticed.
  if (const int waiting = phone->WaitingRefusals()) {
    report.notes.push_back(
        std::to_string(waiting) +
        " phone objects the PC refused wait on the phone and are not offered until they "
        "change (zelsync phone --device " +
        report.phone + " lists them; sync --retry offers them again)");
  }
  return report;
}

bool ValidDeviceId(const std::string& id) {
  if (id.empty() || id.size() > 64) return false;
  return std::all_of(id.begin(), id.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-';
  });
}

std::optional<uint64_t> ParseAddress(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (c == ':' || c == '-') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    digits.push_back(c);
  }
  if (digits.size() != 12) return std::nullopt;
  return std::stoull(digits, nullptr, 16);
}

std::string FormatAddress(uint64_t address) {
  char text[13];
  std::snprintf(text, sizeof text, "%012llx", static_cast<unsigned long long>(address & 0xFFFFFFFFFFFFULL));
  return text;
}

std::string UtcTimeAnchor() { return zelsync::UtcTimeStamp(); }

}  // namespace zelsync_tool
