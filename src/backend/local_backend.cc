// The library's backend on Linux: the local item store, with the change
// tracker told of every item the library writes or removes through it, so
// that the library's own work never goes back to the device as a change.
// This file is the one place that joins the two; neither includes the other.
#include "local/local_store.h"
#include "local/store.h"
#include "tracker/change_scanner.h"

namespace zelsync {
namespace outlook {

ObjectModel& ObjectModel::Default() {
  static local::LocalObjectModel model;
  static const bool observed = (local::SetStoreObserver(&local::LibraryWriteObserver()), true);
  (void)observed;
  return model;
}

}  // namespace outlook
}  // namespace zelsync
