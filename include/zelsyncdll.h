/*
 * zelsyncdll: the library through which a Bluetooth stack's synchronisation
 * service keeps a remote device in step with the PC's mail inbox, notes,
 * contacts and calendar.
 *
 * Every string that crosses this interface is NUL-terminated UTF-16 in a
 * caller-owned buffer of ZS_MAX_PATH units (terminator included). Every
 * export returns 1 for success and 0 for failure, except
 * SyncMLDeleteTempFiles, which returns nothing. Calls must not overlap.
 */
#ifndef ZELSYNCDLL_H
#define ZELSYNCDLL_H

#include <stdint.h>

#ifdef _WIN32
#include <wchar.h>
typedef wchar_t ZS_WCHAR;
#else
#ifdef __cplusplus
typedef char16_t ZS_WCHAR;
#else
#include <uchar.h>
typedef char16_t ZS_WCHAR;
#endif
#endif

/* Size of every wide-string buffer of the interface, terminator included. */
#define ZS_MAX_PATH 260

/* The Windows DLL names its exports in its module-definition file. */
#if defined(_WIN32)
#define ZS_API
#elif defined(__GNUC__)
#define ZS_API __attribute__((visibility("default")))
#else
#define ZS_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The object kind passed to every record export (32 bits). */
typedef enum _SYNC_OBJECT_TYPE {
  SYNC_OBJECT_MESSAGE = 0,  /* mail, the Inbox */
  SYNC_OBJECT_NOTE = 1,     /* notes */
  SYNC_OBJECT_CONTACT = 2,  /* contacts */
  SYNC_OBJECT_CALENDAR = 3, /* calendar entries */
  /* These two keep the type 32 bits wide and every 32-bit value a valid
   * one (the range of a signed 32-bit integer; 0xFFFFFFFF arrives as -1 and
   * reaches the library as 0xFFFFFFFF again), so an unknown type from a
   * caller is refused rather than undefined. */
  SYNC_OBJECT_TYPE_FORCE_DWORD = 0x7FFFFFFF,
  SYNC_OBJECT_TYPE_FORCE_SIGNED = -0x7FFFFFFF - 1
} _SYNC_OBJECT_TYPE;

/* A SyncML sync anchor; also the 48-byte header of each SyncML database.
 * AnchorKind 0: NumericAnchor is valid; otherwise TimeAnchor
 * ("00000000T000000Z") is valid. */
typedef struct _SYNCML_SYNCANCHOR_RECORD {
  uint32_t AnchorKind;
  ZS_WCHAR TimeAnchor[20];
  uint32_t NumericAnchor;
} _SYNCML_SYNCANCHOR_RECORD;

#ifdef __cplusplus
static_assert(sizeof(_SYNC_OBJECT_TYPE) == 4, "object type is 32 bits");
static_assert(sizeof(ZS_WCHAR) == 2, "wide characters are UTF-16 code units");
static_assert(sizeof(_SYNCML_SYNCANCHOR_RECORD) == 48, "anchor record is 48 bytes");
#else
_Static_assert(sizeof(_SYNC_OBJECT_TYPE) == 4, "object type is 32 bits");
_Static_assert(sizeof(ZS_WCHAR) == 2, "wide characters are UTF-16 code units");
_Static_assert(sizeof(_SYNCML_SYNCANCHOR_RECORD) == 48, "anchor record is 48 bytes");
#endif

/* IrMC: device session and change counter. */
ZS_API int SetDeviceIDDatabaseID(const ZS_WCHAR* deviceID, const ZS_WCHAR* databaseID);
ZS_API int IsDeviceIDKnown(void);
ZS_API int FileExists(const ZS_WCHAR* path);
ZS_API int GetChangeCounter(uint32_t* counter);
ZS_API int UpdateChangeCounter(uint32_t value);

/* IrMC: record bookkeeping. The two LUID updates are one function. */
ZS_API int UpdateLUIDofPrevGetNewRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entryID,
                                        const ZS_WCHAR* LUID);
ZS_API int UpdateLUIDofPrevModifiedRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entryID,
                                          const ZS_WCHAR* LUID);
ZS_API int GetDeletedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* LUID, int32_t* hardDelete);
ZS_API int DeleteDBRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID);

/* IrMC: records between the PC store and the device. */
ZS_API int GetNewRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* filePath);
ZS_API int GetModifiedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* LUID,
                             ZS_WCHAR* filePath);
ZS_API int CreateNewRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID, const ZS_WCHAR* filePath);
ZS_API int UpdateRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID, const ZS_WCHAR* filePath);
ZS_API int DeleteRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID);

/* SyncML: device store and sync anchors. */
ZS_API int SyncMLSetBDAddrLastSyncAnchor(uint64_t deviceAddress, _SYNCML_SYNCANCHOR_RECORD anchor);
ZS_API int SyncMLGetLastSyncAnchor(uint64_t deviceAddress, _SYNCML_SYNCANCHOR_RECORD* anchor);
ZS_API int SyncMLSetSyncComplete(_SYNCML_SYNCANCHOR_RECORD anchor);

/* SyncML: session bookkeeping, backups and rollback. */
ZS_API int SyncMLResetCounters(void);
ZS_API int SyncMLDecrementSyncObjectIndex(_SYNC_OBJECT_TYPE type);
ZS_API int SyncMLSaveDBFiles(uint64_t deviceAddress);
ZS_API int SyncMLRestoreDBFiles(uint64_t deviceAddress);
ZS_API int SyncMLAddNewRecToTempDBFile(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID);
ZS_API void SyncMLDeleteTempFiles(void);
ZS_API int SyncMLGetDeletedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* LUID,
                                  int32_t* hardDelete);
ZS_API int SyncMLUpdateEntryIDLUIDMapping(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* entryID,
                                          const ZS_WCHAR* LUID);

/* SyncML: records between the PC store and the device. Note the argument
 * order of SyncMLCreateNewRecord: the file path comes before the LUID, and
 * the LUID may be null. */
ZS_API int SyncMLGetNewRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* filePath);
ZS_API int SyncMLGetModifiedRecord(_SYNC_OBJECT_TYPE type, ZS_WCHAR* entryID, ZS_WCHAR* LUID,
                                   ZS_WCHAR* filePath);
ZS_API int SyncMLCreateNewRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* filePath,
                                 const ZS_WCHAR* LUID);
ZS_API int SyncMLUpdateRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID,
                              const ZS_WCHAR* filePath);
ZS_API int SyncMLDeleteRecord(_SYNC_OBJECT_TYPE type, const ZS_WCHAR* LUID);

#ifdef __cplusplus
}
#endif

#endif /* ZELSYNCDLL_H */
