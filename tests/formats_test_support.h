// What the tests of the object formats share: a scratch folder that serves
// as the temporary folder, the "MailAttachment" setting under the test's
// control, files as byte strings, and the pieces of a multipart vMessage.
#ifndef ZELSYNC_TESTS_FORMATS_TEST_SUPPORT_H
#define ZELSYNC_TESTS_FORMATS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "support/scratch.h"

namespace zelsync {
namespace testing {

class FormatsEnv : public TestEnv {
 public:
  using TestEnv::TestEnv;
  uint32_t MailAttachmentSetting() override { return mail_attachment_; }
  void set_mail_attachment(uint32_t value) { mail_attachment_ = value; }

 private:
  uint32_t mail_attachment_ = 0;
};

class FormatsTest : public ::testing::Test {
 protected:
  FormatsTest() : env_(scratch_.path() / "appdata", scratch_.path() / "temp"), scoped_(env_) {}

  std::filesystem::path Temp() const { return scratch_.path() / "temp"; }
  // The temporary folder as the library spells it, with its separator.
  WString TempFolder() const {
    WString folder = ToWide(Temp());
    folder.push_back(kPathSeparator);
    return folder;
  }
  std::filesystem::path Path(const std::string& name) const { return scratch_.path() / name; }
  WString Wide(const std::string& name) const { return ToWide(Path(name)); }

  static std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static void Write(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  // The names in a folder: by default the temporary folder.
  std::set<std::string> TempFiles(const std::filesystem::path& folder = {}) const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? Temp() : folder)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  ScratchFolder scratch_;
  FormatsEnv env_;

 private:
  ScopedEnv scoped_;
};

}  // namespace testing

namespace formats {

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
inline std::string PartHeader(const std::string& name) {
  return "------=_NextPart_001\nContent-Type:text/plain; charset=US-ASCII; name=\"" + name +
         "\"\nContent-Transfer-Encoding:base64\n\n\n";
}
inline std::string Part(const std::string& name, const std::string& base64) {
  return PartHeader(name) + base64 + "\n\n";
}

}  // namespace formats
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_FORMATS_TEST_SUPPORT_H
