// What tells the two roads of a session apart: the exports each calls for
// the same step, with the names the reports give them. The session driver is
// written once against this table, as the library's record exports are
// written once against its Scheme.
#ifndef ZELSYNC_TOOL_ROAD_H
#define ZELSYNC_TOOL_ROAD_H

#include "library.h"

namespace zelsync_tool {

enum class Road { kIrmc, kSyncML };

// One step of a session: how the host calls it and the export's name.
template <typename Function>
struct RoadCall {
  Function call;
  const char* name;
};

struct RoadExports {
  Road road;
  const char* name;   // "irmc": in options, state files and JSON
  const char* title;  // "IrMC": in reports

  // The next new PC item: its entry ID and the file the library wrote.
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, ZS_WCHAR* entry, ZS_WCHAR* path)> get_new;
  // The next changed PC item: entry ID, the phone's LUID, the file.
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, ZS_WCHAR* entry, ZS_WCHAR* luid, ZS_WCHAR* path)>
      get_modified;
  // The next PC deletion: the entry ID (left empty on the IrMC road, which
  // does not report it), the LUID and whether it is a hard delete.
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, ZS_WCHAR* entry, ZS_WCHAR* luid, int32_t* hard)>
      get_deleted;
  // The LUID the phone gave a new PC item, and the new LUID of a changed
  // item the phone no longer had.
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, const ZS_WCHAR* entry, const ZS_WCHAR* luid)> map_new;
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, const ZS_WCHAR* entry, const ZS_WCHAR* luid)>
      map_modified;
  // A phone object reaching the PC: created, updated or deleted.
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, const ZS_WCHAR* luid, const ZS_WCHAR* path)> create;
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, const ZS_WCHAR* luid, const ZS_WCHAR* path)> update;
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, const ZS_WCHAR* luid)> remove;
  // After a phone object was created on the PC, so that a rollback removes
  // it again; null where the road has no rollback.
  RoadCall<int (*)(const Exports&, _SYNC_OBJECT_TYPE, const ZS_WCHAR* luid)> remember_new;
};

const RoadExports& ExportsOf(Road road);
const char* RoadName(Road road);   // "irmc", "syncml"
const char* RoadTitle(Road road);  // "IrMC", "SyncML"

}  // namespace zelsync_tool

#endif  // ZELSYNC_TOOL_ROAD_H
