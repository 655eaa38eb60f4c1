// The in-memory item store keeps the object-model contract the backends
// keep, so what the record-export tests show with it holds for them.
#include "support/fake_outlook.h"

#include <gtest/gtest.h>

#include "support/object_model_contract.h"

namespace zelsync {
namespace testing {
namespace {

// Seeds straight into the store, so that null strings stay null.
class FakeBackend : public ContractBackend {
 public:
  outlook::ObjectModel& model() override { return fake_; }
  OptString SeedMail(const MailData& data) override {
    return fake_.AddMail(outlook::kFolderInbox, Fresh(data));
  }
  OptString SeedNote(const NoteData& data) override {
    return fake_.AddNote(outlook::kFolderNotes, Fresh(data));
  }
  OptString SeedContact(const ContactData& data) override {
    return fake_.AddContact(outlook::kFolderContacts, Fresh(data));
  }
  OptString SeedAppointment(const AppointmentData& data) override {
    return fake_.AddAppointment(outlook::kFolderCalendar, Fresh(data));
  }
  bool KeepsNullStrings() const override { return true; }
  int LiveObjects() const override { return fake_.live_objects(); }

 private:
  template <class Data>
  static Data Fresh(Data data) {
    data.entry_id.reset();
    return data;
  }
  FakeOutlook fake_;
};

std::unique_ptr<ContractBackend> MakeFakeBackend() { return std::make_unique<FakeBackend>(); }

}  // namespace
}  // namespace testing
}  // namespace zelsync

ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(Fake, &MakeFakeBackend);
