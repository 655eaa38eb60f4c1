// The vNote reader and the plain-text note import on arbitrary files.
#include "formats/file_buffer.h"
#include "formats/vnote.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelsync;
  fuzz::InputFile input(data, size, ".vnt");
  if (!input.ok()) return 0;
  std::unique_ptr<formats::FileBuffer> buffer = formats::FileBuffer::Open(input.path());
  if (!buffer) return 0;
  formats::ReadVNoteIntoNoteItem(*buffer, std::make_shared<fuzz::AcceptingNote>());
  formats::ImportTextIntoNoteItem(*buffer, std::make_shared<fuzz::AcceptingNote>());
  return 0;
}
