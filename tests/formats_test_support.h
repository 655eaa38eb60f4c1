// What the tests of the object formats share: a scratch folder that serves
// as the temporary folder, the "MailAttachment" setting under the test's
// control, and files as byte strings.
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
  // The names of the files in the temporary folder.
  std::set<std::string> TempFiles() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Temp())) {
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
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_FORMATS_TEST_SUPPORT_H
