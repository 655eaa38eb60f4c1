#include "formats/file_buffer.h"

#include <cstring>
#include <new>

namespace zelsync {
namespace formats {
namespace {

constexpr unsigned char kCtrlZ = 0x1A;

// A file in UTF-16 with a byte-order mark, as some phones send them, read
// in binary and handed on as the UTF-8 text the readers take, every CR LF
// folded into LF as text mode would. False when the file holds no such
// mark (or cannot be read), leaving the outputs alone.
bool ReadUtf16(const WString& path, std::unique_ptr<File>* file, std::unique_ptr<char[]>* data,
               size_t* size, size_t* kept) {
  std::unique_ptr<File> binary = Env::Current().Open(path, OpenMode::kReadBinary, nullptr);
  unsigned char mark[2];
  if (!binary || binary->Read(mark, 2) != 2) return false;
  const bool little = mark[0] == 0xFF && mark[1] == 0xFE;
  if (!little && !(mark[0] == 0xFE && mark[1] == 0xFF)) return false;
  WString text;
  unsigned char pair[2];
  while (binary->Read(pair, 2) == 2) {
    if (text.size() >= static_cast<size_t>(kMaxBufferedFileSize) / 2) return false;
    text.push_back(static_cast<char16_t>(little ? pair[0] | pair[1] << 8 : pair[0] << 8 | pair[1]));
  }
  std::string utf8 = Utf16ToUtf8(text);
  size_t out = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
    utf8[out++] = utf8[i];
  }
  utf8.resize(out);
  data->reset(new (std::nothrow) char[utf8.size() + 1]());
  if (!*data) return false;
  std::memcpy(data->get(), utf8.data(), utf8.size());
  *size = *kept = utf8.size();
  *file = std::move(binary);
  return true;
}

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
  if (got >= 2 && ((data->get()[0] == '\xFF' && data->get()[1] == '\xFE') ||
                   (data->get()[0] == '\xFE' && data->get()[1] == '\xFF'))) {
    return ReadUtf16(path, file, data, size, kept);
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
