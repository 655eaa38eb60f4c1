// Base64 from file to file, in blocks: the codecs run over large attachments
// with one read and one write per block, never per byte.
#include <cstdio>

#include "formats/codecs.h"

namespace zelsync {
namespace formats {
namespace {

// A multiple of 54 bytes (one 72-character line), so an encoded block ends
// on a line end.
constexpr size_t kBlockSize = 54 * 1024;
constexpr size_t kFlushSize = 64 * 1024;

// Reads until `size` bytes or end of file: a short read is not taken as the
// end until a read returns nothing.
size_t ReadBlock(File& file, unsigned char* buffer, size_t size) {
  size_t got = 0;
  while (got < size) {
    const size_t n = file.Read(buffer + got, size - got);
    if (n == 0) break;
    got += n;
  }
  return got;
}

bool Flush(File& output, std::string* pending) {
  const bool ok = pending->empty() || output.Write(pending->data(), pending->size()) == pending->size();
  pending->clear();  // keeps its capacity
  return ok;
}

template <typename Codec, typename Byte>
bool RunCodec(Codec& codec, File& input, File& output) {
  std::string block(kBlockSize, '\0');
  std::string pending;
  pending.reserve(kFlushSize + kBlockSize * 2);
  bool ok = true;
  for (;;) {
    const size_t n = ReadBlock(input, reinterpret_cast<unsigned char*>(&block[0]), block.size());
    if (n == 0) break;
    codec.Update(reinterpret_cast<const Byte*>(block.data()), n, &pending);
    if (pending.size() >= kFlushSize && !Flush(output, &pending)) ok = false;
    if (n < block.size()) break;
  }
  codec.Finish(&pending);
  if (!Flush(output, &pending)) ok = false;
  return ok;
}

const char* StatusMessage(FsStatus status) {
  switch (status) {
    case FsStatus::kNotFound:
    case FsStatus::kPathNotFound:
      return "No such file or directory";
    case FsStatus::kExists:
      return "File exists";
    default:
      return "Cannot open the file";
  }
}

void ReportOpenFailure(const WString& name, FsStatus status) {
  std::fprintf(stderr, "%s: %s\n", Utf16ToUtf8(name).c_str(), StatusMessage(status));
}

}  // namespace

bool Base64EncodeFile(File& input, File& output) {
  Base64Encoder encoder("\r\n");
  return RunCodec<Base64Encoder, unsigned char>(encoder, input, output);
}

bool Base64DecodeFile(File& input, File& output) {
  Base64Decoder decoder;
  return RunCodec<Base64Decoder, char>(decoder, input, output);
}

int Base64FileCodec(char mode, const WString& input, const WString& output) {
  FsStatus status = FsStatus::kOk;
  std::unique_ptr<File> in = Env::Current().Open(input, OpenMode::kReadBinary, &status);
  if (!in) {
    ReportOpenFailure(input, status);
    return kCodecOpenFailed;
  }
  std::unique_ptr<File> out = Env::Current().Open(output, OpenMode::kCreateBinary, &status);
  if (!out) {
    ReportOpenFailure(output, status);
    return kCodecOpenFailed;
  }
  const bool ok = mode == 'e' ? Base64EncodeFile(*in, *out) : Base64DecodeFile(*in, *out);
  return ok ? kCodecOk : kCodecStreamError;
}

}  // namespace formats
}  // namespace zelsync
