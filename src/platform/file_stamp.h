// Judging how far a file's stamp can be trusted, for the caches that keep
// what was read of a file or folder for as long as its stamp stays.
#ifndef ZELSYNC_PLATFORM_FILE_STAMP_H
#define ZELSYNC_PLATFORM_FILE_STAMP_H

#include "platform/platform.h"

namespace zelsync {

// Whether a stamp of a file or folder, taken just now, can vouch for what
// is read of it: a file system stamps from a coarse clock, so a further
// change within the same tick as the last one keeps the stamp. A stamp
// without fractions of a second comes from a file system that keeps whole
// (or two) seconds, and must be older.
bool StampSettled(const FileStamp& stamp);

}  // namespace zelsync

#endif  // ZELSYNC_PLATFORM_FILE_STAMP_H
