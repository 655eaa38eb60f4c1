// Received files read whole, as the readers take them: through the platform
// layer's text mode, so a CR LF pair arrives as a single LF, and always
// followed by a zero byte.
//
// Both builds see the same bytes: the content ends at the first Ctrl-Z
// (0x1A), the end-of-file mark of text mode that the Windows C runtime
// honours, and the readers use the text up to its first NUL byte.
#ifndef ZELSYNC_FORMATS_FILE_BUFFER_H
#define ZELSYNC_FORMATS_FILE_BUFFER_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zelsync {
namespace formats {

// The largest file a buffer takes: its size is a 32-bit count.
constexpr int64_t kMaxBufferedFileSize = 0x7FFFFFFE;

// A received vMessage. The file stays open while the buffer lives (shared
// for reading and writing), so a caller that deletes the file destroys the
// buffer first.
class MessageFileBuffer {
 public:
  // Null when the file cannot be opened, its size cannot be found or is
  // larger than kMaxBufferedFileSize, or memory runs out.
  static std::unique_ptr<MessageFileBuffer> Open(const WString& path);

  // size() + 1 bytes: the bytes read, then zeros.
  const char* data() const { return data_.get(); }
  // The file's size in bytes, found by seeking to its end; more than the
  // bytes read when CR LF pairs were folded.
  size_t size() const { return size_; }
  // The bytes read, up to the first NUL.
  const std::string& text() const { return text_; }

 private:
  MessageFileBuffer() = default;
  std::unique_ptr<File> file_;
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  std::string text_;
};

// A received vNote or note text. The file is closed once read.
class FileBuffer {
 public:
  // Null when the file cannot be opened, its size cannot be found or is
  // larger than kMaxBufferedFileSize, or memory runs out.
  static std::unique_ptr<FileBuffer> Open(const WString& path);

  // size() + 1 bytes: the bytes read, then zeros.
  const unsigned char* data() const { return reinterpret_cast<const unsigned char*>(data_.get()); }
  // The file's size in bytes, found by seeking to its end.
  size_t size() const { return size_; }
  // The content up to its first NUL.
  std::string_view text() const;

 private:
  FileBuffer() = default;
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
};

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_FILE_BUFFER_H
