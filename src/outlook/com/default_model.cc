// The platform's object-model backend is not connected yet: connecting
// reports that no item store is registered.
#include "outlook/object_model.h"

namespace zelsync {
namespace outlook {
namespace {
class Unavailable : public ObjectModel {
 public:
  ConnectResult Connect(std::shared_ptr<Application>*) override {
    return ConnectResult::kNotRegistered;
  }
};
}  // namespace

ObjectModel& ObjectModel::Default() {
  static Unavailable model;
  return model;
}

}  // namespace outlook
}  // namespace zelsync
