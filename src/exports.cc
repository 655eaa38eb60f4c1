// The C boundary: every export checks its pointers, converts its strings,
// runs the library's operation inside a catch-all and returns 1 or 0.
// Nothing thrown inside ever reaches the caller.
#include <cstring>

#include "records/record_exports.h"
#include "store/store_exports.h"
#include "store/wide.h"
#include "zelsyncdll.h"

namespace zelsync {
namespace {

static_assert(sizeof(ZS_WCHAR) == sizeof(char16_t), "UTF-16 code units");

// Reads a caller's string: false for a null pointer or a text that does not
// fit a 260-unit buffer (no terminator within 260 units).
bool In(const ZS_WCHAR* text, WString* out) {
  if (!text) return false;
  const auto* units = reinterpret_cast<const char16_t*>(text);
  size_t n = 0;
  while (n < kWideUnits && units[n] != 0) ++n;
  if (n == kWideUnits) return false;
  out->assign(units, n);
  return true;
}

// Writes a result into a caller's 260-unit buffer.
void Out(ZS_WCHAR* buffer, const WString& text) {
  CopyBounded(reinterpret_cast<char16_t*>(buffer), kWideUnits, text);
}

template <typename Body>
int Guard(Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return 0;
  }
}

}  // namespace
}  // namespace zelsync

using namespace zelsync;

extern "C" {

int SetDeviceIDDatabaseID(const ZS_WCHAR* deviceID, const ZS_WCHAR* databaseID) {
  return Guard([&] {
    WString device, database;
    // A missing or over-long ID is kept as an invalid one, so the session
    // is still set up (without a usable database path) and the result is 0.
    if (!In(deviceID, &device)) device.clear();
    if (!In(databaseID, &database)) database.clear();
    return zelsync::SetDeviceIDDatabaseID(device, database);
  });
}

int IsDeviceIDKnown(void) { return Guard([] { return zelsync::IsDeviceIDKnown(); }); }

int FileExists(const ZS_WCHAR* path) {
  return Guard([&] {
    WString p;
    return In(path, &p) ? zelsync::FileExists(p) : 0;
  });
}

int GetChangeCounter(uint32_t* counter) {
  return Guard([&] { return counter ? zelsync::GetChangeCounter(counter) : 0; });
}

int UpdateChangeCounter(uint32_t value) {
  return Guard([&] { return zelsync::UpdateChangeCounter(value); });
}

int UpdateLUIDofPrevGetNewRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entryID,
                                 const ZS_WCHAR* LUID) {
  return Guard([&] {
    WString entry, luid;
    if (!In(entryID, &entry) || !In(LUID, &luid)) return 0;
    return zelsync::UpdateLUIDofPrevGetNewRecord(type, entry, luid);
  });
}

// The same function under its second name.
int UpdateLUIDofPrevModifiedRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entryID,
                                   const ZS_WCHAR* LUID)
    __attribute__((alias("UpdateLUIDofPrevGetNewRecord")));

int GetDeletedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* LUID, int32_t* hardDelete) {
  return Guard([&] {
    if (!LUID || !hardDelete) return 0;
    WString luid;
    if (!zelsync::GetDeletedRecord(type, &luid, hardDelete)) return 0;
    Out(LUID, luid);
    return 1;
  });
}

int DeleteDBRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID) {
  return Guard([&] {
    WString luid;
    return In(LUID, &luid) ? zelsync::DeleteDBRecord(type, luid) : 0;
  });
}

int GetNewRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* filePath) {
  return Guard([&] {
    if (!entryID || !filePath) return 0;
    WString entry, path;
    if (!zelsync::GetNewRecord(type, &entry, &path)) return 0;
    Out(entryID, entry);
    Out(filePath, path);
    return 1;
  });
}

int GetModifiedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* LUID,
                      ZS_WCHAR* filePath) {
  return Guard([&] {
    if (!entryID || !LUID || !filePath) return 0;
    WString entry, luid, path;
    if (!zelsync::GetModifiedRecord(type, &entry, &luid, &path)) return 0;
    Out(entryID, entry);
    Out(LUID, luid);
    Out(filePath, path);
    return 1;
  });
}

int CreateNewRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID, const ZS_WCHAR* filePath) {
  return Guard([&] {
    WString luid, path;
    if (!In(LUID, &luid) || !In(filePath, &path)) return 0;
    return zelsync::CreateNewRecord(type, luid, path);
  });
}

int UpdateRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID, const ZS_WCHAR* filePath) {
  return Guard([&] {
    WString luid, path;
    if (!In(LUID, &luid) || !In(filePath, &path)) return 0;
    return zelsync::UpdateRecord(type, luid, path);
  });
}

int DeleteRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID) {
  return Guard([&] {
    WString luid;
    return In(LUID, &luid) ? zelsync::DeleteRecord(type, luid) : 0;
  });
}

int SyncMLSetBDAddrLastSyncAnchor(uint64_t deviceAddress, _SYNCML_SYNCANCHOR_RECORD anchor) {
  return Guard([&] { return zelsync::SyncMLSetBDAddrLastSyncAnchor(deviceAddress, anchor); });
}

int SyncMLGetLastSyncAnchor(uint64_t deviceAddress, _SYNCML_SYNCANCHOR_RECORD* anchor) {
  return Guard(
      [&] { return anchor ? zelsync::SyncMLGetLastSyncAnchor(deviceAddress, anchor) : 0; });
}

int SyncMLSetSyncComplete(_SYNCML_SYNCANCHOR_RECORD anchor) {
  return Guard([&] { return zelsync::SyncMLSetSyncComplete(anchor); });
}

int SyncMLResetCounters(void) { return Guard([] { return zelsync::SyncMLResetCounters(); }); }

int SyncMLDecrementSyncObjectIndex(_SYNC_OBJECT_TYPE type) {
  return Guard([&] { return zelsync::SyncMLDecrementSyncObjectIndex(type); });
}

int SyncMLSaveDBFiles(uint64_t deviceAddress) {
  return Guard([&] { return zelsync::SyncMLSaveDBFiles(deviceAddress); });
}

int SyncMLRestoreDBFiles(uint64_t deviceAddress) {
  return Guard([&] {
    return zelsync::SyncMLRestoreDBFiles(
        deviceAddress,
        [](uint32_t type, const WString& luid) {
          return zelsync::SyncMLDeleteSessionRecord(type, luid);
        },
        [] { return zelsync::SyncMLFinishPendingChange(); });
  });
}

int SyncMLAddNewRecToTempDBFile(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID) {
  return Guard([&] {
    WString luid;
    return In(LUID, &luid) ? zelsync::SyncMLAddNewRecToTempDBFile(type, luid) : 0;
  });
}

void SyncMLDeleteTempFiles(void) {
  Guard([] {
    zelsync::SyncMLDeleteTempFiles();
    return 1;
  });
}

int SyncMLGetDeletedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* LUID,
                           int32_t* hardDelete) {
  return Guard([&] {
    if (!entryID || !LUID || !hardDelete) return 0;
    WString entry, luid;
    if (!zelsync::SyncMLGetDeletedRecord(type, &entry, &luid, hardDelete)) return 0;
    Out(entryID, entry);
    Out(LUID, luid);
    return 1;
  });
}

int SyncMLUpdateEntryIDLUIDMapping(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entryID,
                                   const ZS_WCHAR* LUID) {
  return Guard([&] {
    WString entry, luid;
    if (!In(entryID, &entry) || !In(LUID, &luid)) return 0;
    return zelsync::SyncMLUpdateEntryIDLUIDMapping(type, entry, luid);
  });
}

int SyncMLGetNewRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* filePath) {
  return Guard([&] {
    if (!entryID || !filePath) return 0;
    WString entry, path;
    if (!zelsync::SyncMLGetNewRecord(type, &entry, &path)) return 0;
    Out(entryID, entry);
    Out(filePath, path);
    return 1;
  });
}

int SyncMLGetModifiedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* LUID,
                            ZS_WCHAR* filePath) {
  return Guard([&] {
    if (!entryID || !LUID || !filePath) return 0;
    WString entry, luid, path;
    if (!zelsync::SyncMLGetModifiedRecord(type, &entry, &luid, &path)) return 0;
    Out(entryID, entry);
    Out(LUID, luid);
    Out(filePath, path);
    return 1;
  });
}

int SyncMLCreateNewRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* filePath, const ZS_WCHAR* LUID) {
  return Guard([&] {
    WString path, luid;
    if (!In(filePath, &path)) return 0;
    if (LUID && !In(LUID, &luid)) return 0;
    return zelsync::SyncMLCreateNewRecord(type, path, LUID ? &luid : nullptr);
  });
}

int SyncMLUpdateRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID, const ZS_WCHAR* filePath) {
  return Guard([&] {
    WString luid, path;
    if (!In(LUID, &luid) || !In(filePath, &path)) return 0;
    return zelsync::SyncMLUpdateRecord(type, luid, path);
  });
}

int SyncMLDeleteRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID) {
  return Guard([&] {
    WString luid;
    return In(LUID, &luid) ? zelsync::SyncMLDeleteRecord(type, luid) : 0;
  });
}

}  // extern "C"
