// The vMessage reader and its MIME parser on arbitrary received files, with
// attachments travelling inside the message.
#include "formats/file_buffer.h"
#include "formats/vmessage.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelsync;
  fuzz::InputFile input(data, size, ".vmg");
  if (!input.ok()) return 0;
  std::unique_ptr<formats::MessageFileBuffer> buffer = formats::MessageFileBuffer::Open(input.path());
  if (!buffer) return 0;
  formats::ReadVMessageIntoMailItem(*buffer, std::make_shared<fuzz::AcceptingMail>(), 1);
  return 0;
}
