// What every backend shares: the current-Env switch. The text conversions
// live in the backends (text_posix.cc, text_win32.cc).
#include "platform/platform.h"

#include <ctime>

namespace zelsync {
namespace {
Env* g_installed = nullptr;
}  // namespace

Env& Env::Current() { return g_installed ? *g_installed : Default(); }

ScopedEnv::ScopedEnv(Env& env) : previous_(g_installed) { g_installed = &env; }
ScopedEnv::~ScopedEnv() { g_installed = previous_; }

std::string UtcTimeStamp() {
  const std::time_t now = std::time(nullptr);
  const std::tm* utc = now == static_cast<std::time_t>(-1) ? nullptr : std::gmtime(&now);
  char text[20];
  if (!utc || std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", utc) != 16) return "00000000T000000Z";
  return text;
}

}  // namespace zelsync
