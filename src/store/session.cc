#include "store/session.h"

namespace zelsync {
namespace {
Session g_session;
}

Session& CurrentSession() { return g_session; }
void ResetSession() { g_session = Session{}; }

}  // namespace zelsync
