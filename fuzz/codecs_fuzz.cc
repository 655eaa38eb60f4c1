// The quoted-printable and Base64 codecs and the vNote line decoder on any
// text: encoding and decoding stay within their buffers.
#include <string>

#include "formats/codecs.h"
#include "formats/vnote.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zelsync::formats;
  const std::string text(reinterpret_cast<const char*>(data), size);
  QuotedPrintableDecode(text);
  QuotedPrintableDecode(QuotedPrintableEncode(text));
  std::string decoded;
  Base64Decoder decoder;
  decoder.Update(text.data(), text.size(), &decoded);
  decoder.Finish(&decoded);
  std::string line;
  DecodeVNoteLine(text, &line);
  int escaped = 0;
  EscapeNoteValue(text, &escaped);
  return 0;
}
