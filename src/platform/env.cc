// What every backend shares: the current-Env switch. The text conversions
// live in the backends (text_posix.cc, text_win32.cc).
#include "platform/platform.h"

namespace zelsync {
namespace {
Env* g_installed = nullptr;
}  // namespace

Env& Env::Current() { return g_installed ? *g_installed : Default(); }

ScopedEnv::ScopedEnv(Env& env) : previous_(g_installed) { g_installed = &env; }
ScopedEnv::~ScopedEnv() { g_installed = previous_; }

}  // namespace zelsync
