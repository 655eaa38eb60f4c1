#include "road.h"

namespace zelsync_tool {
namespace {

using Type = _SYNC_OBJECT_TYPE;

const RoadExports kIrmcRoad{
    Road::kIrmc,
    "irmc",
    "IrMC",
    {[](const Exports& lib, Type type, ZS_WCHAR* entry, ZS_WCHAR* path) { return lib.GetNewRecord(type, entry, path); },
     "GetNewRecord"},
    {[](const Exports& lib, Type type, ZS_WCHAR* entry, ZS_WCHAR* luid, ZS_WCHAR* path) {
       return lib.GetModifiedRecord(type, entry, luid, path);
     },
     "GetModifiedRecord"},
    {[](const Exports& lib, Type type, ZS_WCHAR*, ZS_WCHAR* luid, int32_t* hard) {
       return lib.GetDeletedRecord(type, luid, hard);
     },
     "GetDeletedRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* entry, const ZS_WCHAR* luid) {
       return lib.UpdateLUIDofPrevGetNewRecord(type, entry, luid);
     },
     "UpdateLUIDofPrevGetNewRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* entry, const ZS_WCHAR* luid) {
       return lib.UpdateLUIDofPrevModifiedRecord(type, entry, luid);
     },
     "UpdateLUIDofPrevModifiedRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
       return lib.CreateNewRecord(type, luid, path);
     },
     "CreateNewRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
       return lib.UpdateRecord(type, luid, path);
     },
     "UpdateRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* luid) { return lib.DeleteRecord(type, luid); }, "DeleteRecord"},
    {nullptr, ""},
};

const RoadExports kSyncMLRoad{
    Road::kSyncML,
    "syncml",
    "SyncML",
    {[](const Exports& lib, Type type, ZS_WCHAR* entry, ZS_WCHAR* path) {
       return lib.SyncMLGetNewRecord(type, entry, path);
     },
     "SyncMLGetNewRecord"},
    {[](const Exports& lib, Type type, ZS_WCHAR* entry, ZS_WCHAR* luid, ZS_WCHAR* path) {
       return lib.SyncMLGetModifiedRecord(type, entry, luid, path);
     },
     "SyncMLGetModifiedRecord"},
    {[](const Exports& lib, Type type, ZS_WCHAR* entry, ZS_WCHAR* luid, int32_t* hard) {
       return lib.SyncMLGetDeletedRecord(type, entry, luid, hard);
     },
     "SyncMLGetDeletedRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* entry, const ZS_WCHAR* luid) {
       return lib.SyncMLUpdateEntryIDLUIDMapping(type, entry, luid);
     },
     "SyncMLUpdateEntryIDLUIDMapping"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* entry, const ZS_WCHAR* luid) {
       return lib.SyncMLUpdateEntryIDLUIDMapping(type, entry, luid);
     },
     "SyncMLUpdateEntryIDLUIDMapping"},
    // The SyncML export takes the file before the LUID.
    {[](const Exports& lib, Type type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
       return lib.SyncMLCreateNewRecord(type, path, luid);
     },
     "SyncMLCreateNewRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* luid, const ZS_WCHAR* path) {
       return lib.SyncMLUpdateRecord(type, luid, path);
     },
     "SyncMLUpdateRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* luid) { return lib.SyncMLDeleteRecord(type, luid); },
     "SyncMLDeleteRecord"},
    {[](const Exports& lib, Type type, const ZS_WCHAR* luid) { return lib.SyncMLAddNewRecToTempDBFile(type, luid); },
     "SyncMLAddNewRecToTempDBFile"},
};

}  // namespace

const RoadExports& ExportsOf(Road road) { return road == Road::kSyncML ? kSyncMLRoad : kIrmcRoad; }
const char* RoadName(Road road) { return ExportsOf(road).name; }
const char* RoadTitle(Road road) { return ExportsOf(road).title; }

}  // namespace zelsync_tool
