// The files the writers hand to the device: written whole or not at all. A
// handed file that lost a write would reach the phone cut short while the
// item counted as delivered, so any failure removes it.
#ifndef ZELSYNC_FORMATS_OUTPUT_FILE_H
#define ZELSYNC_FORMATS_OUTPUT_FILE_H

#include <memory>
#include <string_view>

#include "platform/platform.h"

namespace zelsync {
namespace formats {

class OutputFile {
 public:
  // Creates or truncates `path` in `mode`; ok() is false when the path is
  // null or empty or the file cannot be created.
  OutputFile(const WString* path, OpenMode mode);
  // Removes the file unless Commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Appends the bytes; a short write spoils the file for good, and every
  // later Put does nothing.
  void Put(std::string_view bytes);
  bool ok() const { return file_ != nullptr; }
  // Pushes the bytes to the disk and closes the file. True when every byte
  // was written; otherwise the file is removed.
  bool Commit();

 private:
  void Discard();

  WString path_;
  std::unique_ptr<File> file_;
  bool committed_ = false;
};

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_OUTPUT_FILE_H
