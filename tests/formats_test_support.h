// What the tests of the object formats share: files in the scratch folder,
// and the pieces of a multipart vMessage.
#ifndef ZELSYNC_TESTS_FORMATS_TEST_SUPPORT_H
#define ZELSYNC_TESTS_FORMATS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/scratch.h"
#include "support/text_files.h"

namespace zelsync {
namespace testing {

class FormatsTest : public LibraryTest {
 protected:
  std::filesystem::path Path(const std::string& name) const { return scratch_.path() / name; }
  WString Wide(const std::string& name) const { return ToWide(Path(name)); }
};

// `text` as UTF-16 after a byte-order mark, as some phones send files.
inline std::string Utf16WithMark(const std::u16string& text, bool big_endian = false) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char low = static_cast<char>(c & 0xFF), high = static_cast<char>(c >> 8);
    out += big_endian ? std::string{high, low} : std::string{low, high};
  }
  return out;
}

}  // namespace testing

namespace formats {

using testing::ReadText;
using testing::WriteText;

// 54 bytes, a full Base64 line of 72 characters.
inline const std::string kLine54 = "The quick brown fox jumps over the lazy dog. 012345678";
inline const std::string kLine54Encoded =
    "VGhlIHF1aWNrIGJyb3duIGZveCBqdW1wcyBvdmVyIHRoZSBsYXp5IGRvZy4gMDEyMzQ1Njc4";

// A multipart vMessage: the HTML part's header, the preamble before it, an
// attachment part and the closing separator, then the end markers.
inline const std::string kHtmlHeader =
    "Content-Type:text/html; charset=\"US-ASCII\"\nContent-Transfer-Encoding:quoted-printable\n";
inline const std::string kPreamble =
    "Content-Type:multipart/mixed; boundary=\"----=_NextPart_001\"\n\n"
    "This is a multi-part message in MIME format.\n\n\n------=_NextPart_001\r\n";
inline const std::string kClose = "------=_NextPart_001--\n";
inline const std::string kTail = "END:VBODY\nEND:VENV\nEND:VMSG\n";
inline std::string Part(const std::string& name, const std::string& base64) {
  return "------=_NextPart_001\nContent-Type:text/plain; charset=US-ASCII; name=\"" + name +
         "\"\nContent-Transfer-Encoding:base64\n\n\n" + base64 + "\n\n";
}

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_FORMATS_TEST_SUPPORT_H
