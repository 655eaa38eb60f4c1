// The behaviour every object-model backend owes the record exports, as one
// GoogleTest suite that each backend instantiates with one line:
//
//   std::unique_ptr<zelsync::testing::ContractBackend> MakeMyBackend();
//   ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(MyBackend, &MakeMyBackend);
//
// (at namespace scope, in a *_test.cc file). The factory is called afresh
// for every test and must give an empty store. The suite checks: entry IDs
// unique and stable across connections; the order of a folder kept for the
// other items when one is added or deleted; Item(i) failing outside
// 1..Count; the four queries telling classes apart; a new item getting its
// entry ID on Save and keeping it; Move filing a mail in the Inbox with its
// attachments byte for byte; SaveAs/OpenSharedItem round trips of FullName
// and Subject; and OpenSharedItem refusing files it cannot read.
#ifndef ZELSYNC_TESTS_SUPPORT_OBJECT_MODEL_CONTRACT_H
#define ZELSYNC_TESTS_SUPPORT_OBJECT_MODEL_CONTRACT_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "object_model/object_model.h"

namespace zelsync {
namespace testing {

// One backend under test, holding an empty store.
class ContractBackend {
 public:
  virtual ~ContractBackend() = default;
  // The object model to connect through; lives as long as this object.
  virtual outlook::ObjectModel& model() = 0;
};

using ContractBackendFactory = std::unique_ptr<ContractBackend> (*)();

class ObjectModelContract : public ::testing::TestWithParam<ContractBackendFactory> {
 protected:
  void SetUp() override;
  void TearDown() override;
  outlook::ObjectModel& model() { return backend_->model(); }
  // A path in the temporary folder, unique to this test, removed at the end.
  WString ScratchPath(const char* name);

 private:
  std::unique_ptr<ContractBackend> backend_;
  std::vector<WString> scratch_files_;
};

}  // namespace testing
}  // namespace zelsync

// The one instance is named after the backend, not after the factory's address.
#define ZELSYNC_INSTANTIATE_OBJECT_MODEL_CONTRACT(prefix, factory)                               \
  namespace zelsync {                                                                            \
  namespace testing {                                                                            \
  INSTANTIATE_TEST_SUITE_P(prefix, ObjectModelContract, ::testing::Values(factory),              \
                           [](const ::testing::TestParamInfo<ObjectModelContract::ParamType>&) { \
                             return std::string(#prefix);                                        \
                           });                                                                   \
  }                                                                                              \
  }                                                                                              \
  static_assert(true, "")

#endif  // ZELSYNC_TESTS_SUPPORT_OBJECT_MODEL_CONTRACT_H
