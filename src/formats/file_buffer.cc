#include "formats/file_buffer.h"

#include <cstring>
#include <new>

namespace zelsync {
namespace formats {
namespace {

constexpr unsigned char kCtrlZ = 0x1A;

// Opens `path` in text mode and reads it whole into a zero-filled array of
// its size plus one; *kept is the count of bytes kept. False when the file
// cannot be opened or sized, or memory runs out.
bool ReadWhole(const WString& path, std::unique_ptr<File>* file, std::unique_ptr<char[]>* data,
               size_t* size, size_t* kept) {
  *file = Env::Current().Open(path, OpenMode::kReadText, nullptr);
  if (!*file) return false;
  if (!(*file)->Seek(0, SeekFrom::kEnd)) return false;
  const int64_t end = (*file)->Tell();
  if (end < 0 || end > kMaxBufferedFileSize || !(*file)->Seek(0, SeekFrom::kBegin)) return false;
  *size = static_cast<size_t>(end);
  data->reset(new (std::nothrow) char[*size + 1]());
  if (!*data) return false;
  size_t got = 0;
  while (got < *size) {
    const size_t n = (*file)->Read(data->get() + got, *size - got);
    if (n == 0) break;
    got += n;
  }
  // Text mode ends at Ctrl-Z on Windows; the same on every platform.
  const void* eof = std::memchr(data->get(), kCtrlZ, got);
  if (eof) {
    const size_t at = static_cast<size_t>(static_cast<const char*>(eof) - data->get());
    std::memset(data->get() + at, 0, got - at);
    got = at;
  }
  *kept = got;
  return true;
}

size_t LengthUpToNul(const char* text, size_t size) {
  const void* nul = std::memchr(text, '\0', size);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : size;
}

}  // namespace

std::unique_ptr<MessageFileBuffer> MessageFileBuffer::Open(const WString& path) {
  std::unique_ptr<MessageFileBuffer> buffer(new (std::nothrow) MessageFileBuffer());
  if (!buffer) return nullptr;
  size_t kept = 0;
  if (!ReadWhole(path, &buffer->file_, &buffer->data_, &buffer->size_, &kept)) return nullptr;
  try {
    buffer->text_.assign(buffer->data_.get(), LengthUpToNul(buffer->data_.get(), kept));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return buffer;
}

std::unique_ptr<FileBuffer> FileBuffer::Open(const WString& path) {
  std::unique_ptr<FileBuffer> buffer(new (std::nothrow) FileBuffer());
  if (!buffer) return nullptr;
  std::unique_ptr<File> file;
  size_t kept = 0;
  if (!ReadWhole(path, &file, &buffer->data_, &buffer->size_, &kept)) return nullptr;
  return buffer;
}

std::string_view FileBuffer::text() const {
  return std::string_view(data_.get(), LengthUpToNul(data_.get(), size_ + 1));
}

}  // namespace formats
}  // namespace zelsync
