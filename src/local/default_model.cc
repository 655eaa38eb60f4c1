// On Linux the library's item store is the local store.
#include "local/local_store.h"

namespace zelsync {
namespace outlook {

ObjectModel& ObjectModel::Default() {
  static local::LocalObjectModel model;
  return model;
}

}  // namespace outlook
}  // namespace zelsync
