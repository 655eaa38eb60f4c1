// Until the object model is connected these exports report failure: no item
// store is reachable, so no record can be served.
#include "outlook/record_exports.h"

namespace zelsync {

int GetNewRecord(uint32_t, WString*, WString*) { return 0; }
int GetModifiedRecord(uint32_t, WString*, WString*, WString*) { return 0; }
int CreateNewRecord(uint32_t, const WString&, const WString&) { return 0; }
int UpdateRecord(uint32_t, const WString&, const WString&) { return 0; }
int DeleteRecord(uint32_t, const WString&) { return 0; }
int SyncMLGetNewRecord(uint32_t, WString*, WString*) { return 0; }
int SyncMLGetModifiedRecord(uint32_t, WString*, WString*, WString*) { return 0; }
int SyncMLCreateNewRecord(uint32_t, const WString&, const WString*) { return 0; }
int SyncMLUpdateRecord(uint32_t, const WString&, const WString&) { return 0; }
int SyncMLDeleteRecord(uint32_t, const WString&) { return 0; }

}  // namespace zelsync
