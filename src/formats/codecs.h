// The text codecs of the vObject writers and readers: UTF-16 to UTF-8, the
// vNote value escaper, the quoted-printable encoder and decoder of HTML mail
// bodies, and the Base64 codecs of mail attachments.
//
// Each does exactly what its one use needs, and the bytes they produce are
// part of the file formats the devices see: quoted-printable encodes every
// space and line break and never breaks lines; Base64 lines hold 72
// characters. Every input ends at its first NUL byte.
#ifndef ZELSYNC_FORMATS_CODECS_H
#define ZELSYNC_FORMATS_CODECS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zelsync {
namespace formats {

// The UTF-8 form of an item-store text, up to its first NUL. No text (as
// opposed to an empty one) when the input is absent or empty or cannot be
// converted; the writers then leave the value empty.
std::optional<std::string> WideToUtf8(const std::optional<WString>& text);

// Escapes a vNote property value: CR LF becomes "=0D=0A=" and a line break
// (a quoted-printable soft break), ":" "=3A", ";" "=5C=3B" (an escaped
// semicolon), "=" "=3D"; each sets *escaped to 1, which is never cleared.
// Every other byte, a lone CR or LF included, is kept.
std::string EscapeNoteValue(std::string_view value, int* escaped);

// Quoted-printable for HTML mail bodies: bytes 0x21 to 0x7E except "=" are
// kept, every other byte (space, TAB, CR, LF included) becomes "=XX" with
// upper-case digits. One line, however long.
std::string QuotedPrintableEncode(std::string_view text);

// The same encoding as a stream, for a body of any size: each Update
// appends the encoded form of its chunk to the caller's string, so memory
// stays bounded by the chunk. The input ends at its first NUL, whichever
// chunk holds it.
class QuotedPrintableEncoder {
 public:
  void Update(std::string_view chunk, std::string* out);

 private:
  bool ended_ = false;
};

// Decodes "=XX" (either case) and drops soft line breaks written as "=" CR LF;
// an "=" before anything else is dropped and the next byte kept; an "=" with
// fewer than two bytes after it is kept.
std::string QuotedPrintableDecode(std::string_view text);

// Base64 encoding as a stream: 4 characters for each 3 bytes ("=" padding
// in the last group), 18 groups (72 characters) a line, every line ending
// in `line_end`, the last one too; nothing for an empty input. Appends to
// the caller's string, so a loop over a file allocates nothing per byte.
class Base64Encoder {
 public:
  explicit Base64Encoder(std::string_view line_end) : line_end_(line_end) {}
  void Update(const unsigned char* data, size_t size, std::string* out);
  void Finish(std::string* out);

 private:
  std::string_view line_end_;
  unsigned char pending_[3] = {0, 0, 0};
  size_t pending_size_ = 0;
  int groups_on_line_ = 0;
};

// Base64 decoding as a stream: every byte outside the alphabet ("=", line
// ends, blanks) is skipped; each four characters give three bytes, and at
// the end three give two, two give one, a single one nothing.
class Base64Decoder {
 public:
  void Update(const char* data, size_t size, std::string* out);
  void Finish(std::string* out);

 private:
  uint32_t bits_ = 0;  // the values of the group so far, 6 bits each
  int count_ = 0;
};

// File to file, both opened in binary mode; lines end CR LF. False when a
// byte could not be written.
bool Base64EncodeFile(File& input, File& output);
bool Base64DecodeFile(File& input, File& output);

// Results of Base64FileCodec.
constexpr int kCodecOk = 0;
constexpr int kCodecOpenFailed = 2;
constexpr int kCodecStreamError = 3;

// Encodes (mode 'e') or decodes (any other mode) the file `input` into the
// file `output`, created or truncated. A file that cannot be opened is
// reported on standard error with its name.
int Base64FileCodec(char mode, const WString& input, const WString& output);

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_FORMATS_CODECS_H
