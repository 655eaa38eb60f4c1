// File helpers of the local item store. Paths are byte strings, as the file
// system has them: a name written by another program need not be valid
// UTF-8. Every write is atomic: the content goes into a scratch file in the
// same folder, is flushed to disk, and is renamed into place, so another
// program never reads half an item and a crash leaves the old item or the
// new one.
#ifndef ZELSYNC_LOCAL_FILES_H
#define ZELSYNC_LOCAL_FILES_H

#include <cstdint>
#include <string>
#include <vector>

namespace zelsync {
namespace local {

// The largest item file the store reads; a larger one reads as unparseable.
constexpr size_t kMaxItemFileSize = 64u << 20;

// The names of the regular files in `folder` (no "." or ".." and nothing
// that is not a regular file), sorted bytewise. The type comes from the
// folder entry where the file system gives it; only entries of unknown type
// (and symbolic links, which count by what they point to) are looked up one
// by one. False when the folder cannot be read.
bool ListFiles(const std::string& folder, std::vector<std::string>* names);

// Reads the whole file; false when it cannot be read or is larger than
// `limit` bytes.
bool ReadWholeFile(const std::string& path, std::string* content,
                   size_t limit = kMaxItemFileSize);

// Writes `content` to `path` atomically through a scratch file in `path`'s
// folder (named ".<name>.tmp-<random>"). False on any failure; `path` is
// then left as it was and the scratch file is removed.
bool WriteFileAtomically(const std::string& path, const std::string& content);

// Writes a file handed to the sync service (a SaveAs of an item or an
// attachment) as WriteFileAtomically does, but without flushing it to disk:
// the service consumes it at once, and after a crash it means nothing.
bool WriteHandedFile(const std::string& path, const std::string& content);

// Writes `content` to `scratch`, flushes it to disk and renames it to
// `path` (both in the same file system). The scratch file is removed on
// failure.
bool WriteThenRename(const std::string& scratch, const std::string& path,
                     const std::string& content);

// Removes the scratch files a killed writer left in `folder`: those named
// ".<name>.tmp-<random>", or every file when `all` is set (a Maildir's
// tmp/), once they are older than `min_age_seconds` (a younger one may
// belong to a writer still at work). Returns how many were removed, and in
// *none_left whether the folder holds no scratch file any more.
int RemoveStaleScratchFiles(const std::string& folder, bool all, int64_t min_age_seconds,
                            bool* none_left = nullptr);

// Renames atomically, replacing a file at `to`.
bool RenameFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
bool FileExists(const std::string& path);
// Creates the folder and the missing folders above it (mode 0700).
bool MakeFolders(const std::string& folder);

// A random 64-bit number for unique names.
uint64_t RandomNumber();
// Microseconds since 1970 by the system clock.
int64_t NowMicroseconds();

// FNV-1a over the bytes: the fingerprint of an item's content.
uint64_t Fingerprint(const std::string& bytes, uint64_t seed = 14695981039346656037ull);

// The file name after the last '/'.
std::string BaseName(const std::string& path);

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_FILES_H
