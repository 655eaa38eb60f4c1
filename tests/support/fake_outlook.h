// Mail and note items in memory, for the tests of the formats' readers and
// writers: the item's data, a log of the calls made through the interface,
// and a hook that fails any call on demand.
//
//   FakeOutlook fake;
//   auto mail = fake.NewMail(MailData{.subject = u"Hi"});
//   fake.FailOn("Attachments.Item", 0, {"2"});
//   ... run a writer ...
//   EXPECT_EQ(1u, fake.Calls("Attachment.SaveAsFile").size());
//   EXPECT_EQ(0, fake.live_objects());
//
// Each call is logged as "Interface.Method" with its arguments as UTF-8 text
// (Attachments.Item(4) -> {"4"}, PutUnRead(true) -> {"1"}). FailOn(op, nth,
// args) makes the nth (1-based; 0: every) call of `op` with those arguments
// (none given: any) fail (false) and change nothing. Attachments are read
// and written through Env::Current().
#ifndef ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
#define ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H

#include <memory>
#include <string>
#include <vector>

#include "object_model/object_model.h"

namespace zelsync {
namespace testing {

using outlook::OptString;

struct AttachmentData {
  WString file_name = {};
  std::string bytes = {};
  OptString display_name = std::nullopt;  // as given to Attachments::Add
  int32_t position = 0;
};

// All defaulted, so that a test names only what it cares about
// (designated initialisers, in this order).
struct MailData {
  OptString sender_name = std::nullopt;
  OptString sent_on_behalf_of_name = std::nullopt;
  OptString to = std::nullopt;
  OptString cc = std::nullopt;
  OptString subject = std::nullopt;
  double sent_on = 0;  // OLE Automation date
  int32_t importance = 1;
  OptString html_body = std::nullopt;
  bool unread = false;
  std::vector<AttachmentData> attachments = {};
};
struct NoteData {
  OptString body = std::nullopt;
};

struct Call {
  std::string op;                 // "Attachments.Item"
  std::vector<std::string> args;  // UTF-8
};

class FakeOutlook {
 public:
  struct State;
  FakeOutlook();

  std::shared_ptr<outlook::MailItem> NewMail(MailData data = {});
  std::shared_ptr<outlook::NoteItem> NewNote(NoteData data = {});
  // The data behind a mail or note the fake handed out.
  static MailData* DataOf(outlook::MailItem& item);
  static NoteData* DataOf(outlook::NoteItem& item);

  void FailOn(std::string op, int nth = 0, std::vector<std::string> args = {});
  void ClearFailures();

  std::vector<Call> Calls(const std::string& op) const;
  void ClearCalls();

  // The objects handed out and not yet released.
  int live_objects() const;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace testing
}  // namespace zelsync

#endif  // ZELSYNC_TESTS_SUPPORT_FAKE_OUTLOOK_H
