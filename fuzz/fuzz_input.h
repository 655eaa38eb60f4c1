// Shared by the fuzz targets: the input as a file, for the readers that take
// a path, and item stand-ins that accept whatever a reader puts into them.
#ifndef ZELSYNC_FUZZ_FUZZ_INPUT_H
#define ZELSYNC_FUZZ_FUZZ_INPUT_H

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "object_model/object_model.h"
#include "platform/platform.h"

namespace zelsync {
namespace fuzz {

// The input written to a file of this process in the temporary folder,
// named with `extension`; removed when the object goes.
class InputFile {
 public:
  InputFile(const uint8_t* data, size_t size, const char* extension) {
    path_ = "/tmp/zelsync-fuzz-" + std::to_string(getpid()) + extension;
    if (FILE* file = std::fopen(path_.c_str(), "wb")) {
      ok_ = std::fwrite(data, 1, size, file) == size;
      ok_ = std::fclose(file) == 0 && ok_;
    }
  }
  ~InputFile() { std::remove(path_.c_str()); }
  bool ok() const { return ok_; }
  WString path() const { return Utf8ToUtf16(path_); }

 private:
  std::string path_;
  bool ok_ = false;
};

class AcceptingNote : public outlook::NoteItem {
 public:
  bool EntryID(outlook::OptString* id) override { return (*id = u"N", true); }
  bool Save() override { return true; }
  bool Delete() override { return true; }
  bool Body(outlook::OptString* value) override { return (*value = body, true); }
  bool PutBody(const WString& value) override { return (body = value, true); }
  outlook::OptString body;
};

class AcceptingAttachments : public outlook::Attachments {
 public:
  bool Count(int32_t* count) override { return (*count = 0, true); }
  bool Item(int32_t, std::shared_ptr<outlook::Attachment>*) override { return false; }
  bool Add(const WString&, int32_t, int32_t, const WString&) override { return true; }
};

class AcceptingMail : public outlook::MailItem {
 public:
  bool EntryID(outlook::OptString* id) override { return (*id = u"M", true); }
  bool Save() override { return true; }
  bool Delete() override { return true; }
  bool SenderName(outlook::OptString* value) override { return (*value = from, true); }
  bool SentOnBehalfOfName(outlook::OptString* value) override { return (*value = from, true); }
  bool PutSentOnBehalfOfName(const WString& value) override { return (from = value, true); }
  bool To(outlook::OptString* value) override { return (*value = to, true); }
  bool PutTo(const WString& value) override { return (to = value, true); }
  bool CC(outlook::OptString* value) override { return (*value = to, true); }
  bool PutCC(const WString& value) override { return (to = value, true); }
  bool Subject(outlook::OptString* value) override { return (*value = subject, true); }
  bool PutSubject(const WString& value) override { return (subject = value, true); }
  bool SentOn(double* date) override { return (*date = 0, true); }
  bool Importance(int32_t* value) override { return (*value = 1, true); }
  bool PutImportance(int32_t) override { return true; }
  bool HTMLBody(outlook::OptString* value) override { return (*value = body, true); }
  bool PutHTMLBody(const WString& value) override { return (body = value, true); }
  bool UnRead(bool* value) override { return (*value = false, true); }
  bool PutUnRead(bool) override { return true; }
  bool PutBodyFormat(int32_t) override { return true; }
  bool GetAttachments(std::shared_ptr<outlook::Attachments>* attachments) override {
    *attachments = std::make_shared<AcceptingAttachments>();
    return true;
  }
  bool Move(const std::shared_ptr<outlook::Folder>&, std::shared_ptr<outlook::MailItem>*) override {
    return false;
  }
  outlook::OptString from, to, subject, body;
};

}  // namespace fuzz
}  // namespace zelsync

#endif  // ZELSYNC_FUZZ_FUZZ_INPUT_H
