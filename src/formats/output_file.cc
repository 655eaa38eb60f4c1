#include "formats/output_file.h"

namespace zelsync {
namespace formats {

OutputFile::OutputFile(const WString* path, OpenMode mode) {
  if (!path || path->empty()) return;
  file_ = Env::Current().Open(*path, mode, nullptr);
  if (file_) path_ = *path;  // only a file made here is ever removed
}

OutputFile::~OutputFile() {
  try {
    if (!committed_) Discard();
  } catch (...) {
    // Running out of memory while removing leaves the file; nothing may
    // leave a destructor.
  }
}

void OutputFile::Put(std::string_view bytes) {
  if (!file_ || bytes.empty()) return;
  if (file_->Write(bytes.data(), bytes.size()) != bytes.size()) Discard();
}

bool OutputFile::Commit() {
  if (!file_ || !file_->Sync()) {
    Discard();
    return false;
  }
  file_.reset();
  committed_ = true;
  return true;
}

void OutputFile::Discard() {
  if (path_.empty()) return;
  file_.reset();  // closed before it is removed
  Env::Current().RemoveFile(path_);
  path_.clear();
}

}  // namespace formats
}  // namespace zelsync
