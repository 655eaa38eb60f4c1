// The engine under every bookkeeping file: a fixed-size header (possibly
// empty) followed by fixed-size records to the end of the file, no count.
// Scans stop at the first short read, so a trailing fragment is never a
// record.
#ifndef ZELSYNC_STORE_RECORD_FILE_H
#define ZELSYNC_STORE_RECORD_FILE_H

#include <functional>
#include <memory>
#include <vector>

#include "platform/platform.h"

namespace zelsync {

// A file handed to a record operation, opened "rb+" at offset 0 by the
// caller. The operation owns it: it is closed on every path.
using Stream = std::unique_ptr<File>;

struct RecordLayout {
  size_t header_size;
  size_t record_size;
};

// A record file and the scratch file a removal rewrites it into.
struct RecordFiles {
  RecordLayout layout;
  WString path;
  WString scratch;
};

// Opens `path` "rb+"; null when it cannot be opened.
Stream OpenForUpdate(const WString& path);

// Reads exactly `size` bytes; false on a short read.
bool ReadExact(File& file, void* buffer, size_t size);

// Reads a record file from its current position in large blocks and hands
// out its whole records one at a time. A trailing fragment shorter than a
// record is never handed out.
class RecordReader {
 public:
  RecordReader(File& file, size_t record_size);
  // The next whole record (valid until the next call), or null at the end
  // of the file or on a read error.
  const unsigned char* Next();

 private:
  File& file_;
  size_t record_size_;
  std::vector<unsigned char> block_;
  size_t filled_ = 0;
  size_t next_ = 0;
  bool at_end_ = false;
};

// Readies a record file for an append: a trailing fragment (an append cut
// short, by a power loss say) is cut off, so that the record appended next
// starts where the last whole one ends and every record after it stays
// aligned. Leaves the position at the end. False when the file is shorter
// than its header (damage, not an empty file) or a step fails.
bool SeekAppendPosition(File& file, const RecordLayout& layout);

// Opens a record file without header for appending, creating it when
// missing: a trailing fragment is cut off first (SeekAppendPosition), then
// the file is opened in append mode, so that every write lands at its end
// even when another writer appended meanwhile. Null on failure.
Stream OpenForAppend(const WString& path, size_t record_size);
// Appends one record of `size` bytes to such a file and syncs it; false
// when a step fails.
bool AppendWholeRecord(const WString& path, const void* record, size_t size);

// Rewrites the file without the records for which `drop` is true: the header
// and the kept records go, in order, into the scratch file, which then
// replaces the file in one atomic step. The file keeps its name throughout,
// and on any failure it is left as it was (the scratch file is removed).
// Returns false on failure, also when the header cannot be read.
bool RewriteWithout(Stream stream, const RecordFiles& files,
                    const std::function<bool(const void* record)>& drop);

// Marks the records at `positions` (counted from 0 after the header)
// removed in place, each by a 4-byte write over its type, then syncs the
// file once. On a failure the records marked so far get `original_type`
// back (as far as the file lets) and false is returned.
bool MarkRemoved(File& file, const RecordLayout& layout, const std::vector<int64_t>& positions,
                 uint32_t original_type);

// Rewrites the file without its marked records (RewriteWithout) when it
// holds any; a file without marks is only read. True when the file is
// missing or holds no marks afterwards.
bool CompactRecordFile(const RecordFiles& files);

}  // namespace zelsync

#endif  // ZELSYNC_STORE_RECORD_FILE_H
