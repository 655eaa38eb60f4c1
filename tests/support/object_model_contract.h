// The behaviour every object-model backend owes the record exports, as one
// GoogleTest suite that each backend instantiates with one line:
//
//   std::unique_ptr<zelsync::testing::ContractBackend> MakeMyBackend();
//   ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(MyBackend, &MakeMyBackend);
//
// (at namespace scope, in a *_test.cc file). The factory is called afresh
// for every test and must give an empty store: no item in the default
// folders. The suite checks: entry IDs that are non-empty, unique and stable
// across reads, connections and saves; the same order of Items on every
// read, kept for the other items when one is added or deleted; Item(i)
// failing outside 1..Count; the four queries telling classes apart; new
// items getting an entry ID on Save; Move filing a mail in the Inbox; Delete
// removing exactly one item; null apart from empty strings (where the
// backend keeps them); SaveAs/OpenSharedItem round trips of FullName and
// Subject; attachments surviving Add/Save/SaveAsFile byte for byte; and,
// where the backend counts them, no object left alive after a test.
#ifndef ZELSYNC_TESTS_SUPPORT_OBJECT_MODEL_CONTRACT_H
#define ZELSYNC_TESTS_SUPPORT_OBJECT_MODEL_CONTRACT_H

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "object_model/object_model.h"
#include "support/fake_outlook.h"

namespace zelsync {
namespace testing {

// One backend under test, holding an empty store.
class ContractBackend {
 public:
  virtual ~ContractBackend() = default;

  // The object model to connect through; lives as long as this object.
  virtual outlook::ObjectModel& model() = 0;

  // Files an item in the default folder of its class, after the items
  // already there, and returns its entry ID (nullopt when it cannot). The
  // entry_id field of `data` is ignored. The default implementations go
  // through the object model itself (CreateItem, Put, Save and Move for mail
  // and notes; OpenSharedItem of a written vCard or vCalendar and Save for
  // the others) and set only the text the suite reads back: Subject, Body,
  // FullName, Subject. A backend with a direct way into its store overrides
  // them.
  virtual OptString SeedMail(const MailData& data);
  virtual OptString SeedNote(const NoteData& data);
  virtual OptString SeedContact(const ContactData& data);
  virtual OptString SeedAppointment(const AppointmentData& data);

  // True when the Seed* functions keep a null string apart from the empty
  // string, and Put of an empty string reads back empty, not null.
  virtual bool KeepsNullStrings() const { return false; }

  // Objects handed out and not yet released, or -1 when the backend does
  // not count them.
  virtual int LiveObjects() const { return -1; }
};

using ContractBackendFactory = std::unique_ptr<ContractBackend> (*)();

class ObjectModelContract : public ::testing::TestWithParam<ContractBackendFactory> {
 protected:
  void SetUp() override;
  void TearDown() override;

  ContractBackend& backend() { return *backend_; }

  // Connected objects; each helper adds a failure and returns null when a
  // step fails.
  std::shared_ptr<outlook::Application> Connect();
  std::shared_ptr<outlook::Namespace> Session();
  std::shared_ptr<outlook::Items> FolderItems(int32_t folder);

  // The entry IDs of the items of `folder`, read through a fresh
  // connection, in collection order.
  std::vector<WString> ReadEntryIds(int32_t folder);
  // The item of `folder` with this entry ID, through a fresh connection.
  std::shared_ptr<outlook::Item> FindItem(int32_t folder, const WString& entry_id);
  // The text the suite checks each class by (Subject, Body, FullName,
  // Subject) of that item; a failure when it cannot be read.
  OptString StoredText(int32_t folder, const WString& entry_id);

  // A path in the temporary folder, unique to this test, removed at the end.
  WString ScratchPath(const char* name);

 private:
  std::unique_ptr<ContractBackend> backend_;
  std::vector<WString> scratch_files_;
};

}  // namespace testing
}  // namespace zelsync

// The one instance is named after the backend, not after the factory's address.
#define ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(prefix, factory)                              \
  namespace zelsync {                                                                           \
  namespace testing {                                                                           \
  INSTANTIATE_TEST_SUITE_P(prefix, ObjectModelContract, ::testing::Values(factory),             \
                           [](const ::testing::TestParamInfo<ObjectModelContract::ParamType>&) { \
                             return std::string(#prefix);                                        \
                           });                                                                   \
  }                                                                                             \
  }                                                                                             \
  static_assert(true, "")

#endif  // ZELSYNC_TESTS_SUPPORT_OBJECT_MODEL_CONTRACT_H
