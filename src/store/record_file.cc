#include "store/record_file.h"

#include <cstring>
#include <iterator>
#include <vector>

#include "store/records.h"

namespace zelsync {

Stream OpenForUpdate(const WString& path) {
  return Env::Current().Open(path, OpenMode::kUpdateBinary, nullptr);
}

bool ReadExact(File& file, void* buffer, size_t size) { return file.Read(buffer, size) == size; }

namespace {
// About a quarter of a megabyte per read or write.
constexpr size_t kBlockBytes = 256 * 1024;
}  // namespace

RecordReader::RecordReader(File& file, size_t record_size)
    : file_(file), record_size_(record_size),
      block_((kBlockBytes / record_size + 1) * record_size) {}

const unsigned char* RecordReader::Next() {
  if (filled_ - next_ < record_size_) {
    if (at_end_) return nullptr;
    // Keep the unread fragment and fill the rest of the block.
    const size_t left = filled_ - next_;
    if (left) memmove(block_.data(), block_.data() + next_, left);
    filled_ = left;
    next_ = 0;
    while (filled_ < block_.size()) {
      const size_t got = file_.Read(block_.data() + filled_, block_.size() - filled_);
      filled_ += got;
      if (got == 0) {
        at_end_ = true;
        break;
      }
    }
    if (filled_ < record_size_) return nullptr;
  }
  const unsigned char* record = block_.data() + next_;
  next_ += record_size_;
  return record;
}

bool SeekAppendPosition(File& file, const RecordLayout& layout) {
  const auto header = static_cast<int64_t>(layout.header_size);
  const auto record = static_cast<int64_t>(layout.record_size);
  if (record <= 0) return false;
  // A size between whole records is a torn last record a killed writer
  // left, cut off so that the records after it stay aligned; or another
  // writer's append still under way (another process's, seen half grown),
  // which cutting would lose. Only a fragment that stays through a few
  // pauses is cut.
  static const unsigned kPauses[] = {1, 5, 20, 50};  // milliseconds
  int64_t whole = 0;
  for (size_t look = 0; look <= std::size(kPauses); ++look) {
    if (look > 0) Env::Current().Pause(kPauses[look - 1]);
    if (!file.Seek(0, SeekFrom::kEnd)) return false;
    const int64_t size = file.Tell();
    if (size < header) return false;
    whole = header + (size - header) / record * record;
    if (whole == size) return true;
  }
  return file.Truncate(whole);
}

Stream OpenForAppend(const WString& path, size_t record_size) {
  Env& env = Env::Current();
  FsStatus status = FsStatus::kOk;
  if (Stream existing = env.Open(path, OpenMode::kUpdateBinary, &status)) {
    if (!SeekAppendPosition(*existing, RecordLayout{0, record_size})) return nullptr;
  } else if (status != FsStatus::kNotFound) {
    return nullptr;
  }
  return env.Open(path, OpenMode::kAppendBinary, nullptr);
}

bool AppendWholeRecord(const WString& path, const void* record, size_t size) {
  Stream stream = OpenForAppend(path, size);
  return stream && stream->Write(record, size) == size && stream->Sync();
}

bool RewriteWithout(Stream stream, const RecordFiles& files,
                    const std::function<bool(const void* record)>& drop) {
  Env& env = Env::Current();
  Stream scratch = env.Open(files.scratch, OpenMode::kCreateBinary, nullptr);
  if (!scratch) return false;
  auto fail = [&] {
    scratch.reset();
    env.RemoveFile(files.scratch);
    return false;
  };
  // The header and the kept records gather in blocks of about the reader's
  // size before each write.
  std::vector<unsigned char> kept;
  kept.reserve(kBlockBytes + files.layout.record_size + files.layout.header_size);
  auto flush = [&] {
    const bool written = kept.empty() || scratch->Write(kept.data(), kept.size()) == kept.size();
    kept.clear();
    return written;
  };
  const size_t header = files.layout.header_size;
  if (header) {
    kept.resize(header);
    if (!ReadExact(*stream, kept.data(), header)) return fail();
  }
  const size_t size = files.layout.record_size;
  RecordReader reader(*stream, size);
  while (const unsigned char* record = reader.Next()) {
    if (drop(record)) continue;
    kept.insert(kept.end(), record, record + size);
    if (kept.size() >= kBlockBytes && !flush()) return fail();
  }
  // Flushed to disk before it takes the file's place: the replacement must
  // never leave an empty or partial file behind a crash.
  if (!flush() || !scratch->Sync()) return fail();
  scratch.reset();
  stream.reset();
  return CommitScratchFile(files.scratch, files.path);
}

bool MarkRemoved(File& file, const RecordLayout& layout, const std::vector<int64_t>& positions,
                 uint32_t original_type) {
  auto write_type = [&](int64_t position, uint32_t type) {
    const int64_t offset = static_cast<int64_t>(layout.header_size) +
                           position * static_cast<int64_t>(layout.record_size);
    return file.Seek(offset, SeekFrom::kBegin) && file.Write(&type, sizeof type) == sizeof type;
  };
  size_t marked = 0;
  while (marked < positions.size() && write_type(positions[marked], kRemovedRecordType)) ++marked;
  if (marked == positions.size() && file.Sync()) return true;
  for (size_t i = 0; i < marked; ++i) write_type(positions[i], original_type);
  file.Flush();
  return false;
}

bool CompactRecordFile(const RecordFiles& files) {
  if (Env::Current().Stat(files.path) != FsStatus::kOk) return true;
  Stream stream = OpenForUpdate(files.path);
  std::vector<unsigned char> header(files.layout.header_size);
  if (!stream || (!header.empty() && !ReadExact(*stream, header.data(), header.size())))
    return false;
  RecordReader reader(*stream, files.layout.record_size);
  bool marked = false;
  while (const unsigned char* record = reader.Next()) {
    if ((marked = IsRemovedRecord(record))) break;
  }
  if (!marked) return true;
  return stream->Seek(0, SeekFrom::kBegin) &&
         RewriteWithout(std::move(stream), files,
                        [](const void* record) { return IsRemovedRecord(record); });
}

}  // namespace zelsync
