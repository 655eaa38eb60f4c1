#include "store/record_file.h"

#include <vector>

namespace zelsync {

Stream OpenForUpdate(const WString& path) {
  return Env::Current().Open(path, OpenMode::kUpdateBinary, nullptr);
}

bool ReadExact(File& file, void* buffer, size_t size) { return file.Read(buffer, size) == size; }

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
  std::vector<unsigned char> buffer(files.layout.header_size > files.layout.record_size
                                        ? files.layout.header_size
                                        : files.layout.record_size);
  const size_t header = files.layout.header_size;
  if (header && (!ReadExact(*stream, buffer.data(), header) ||
                 scratch->Write(buffer.data(), header) != header)) {
    return fail();
  }
  const size_t size = files.layout.record_size;
  while (ReadExact(*stream, buffer.data(), size)) {
    if (drop(buffer.data())) continue;
    if (scratch->Write(buffer.data(), size) != size) return fail();
  }
  if (!scratch->Sync()) return fail();
  scratch.reset();
  stream.reset();
  return CommitScratchFile(files.scratch, files.path);
}

}  // namespace zelsync
