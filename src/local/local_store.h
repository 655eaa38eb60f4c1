// The object model of the local item store (the Linux backend): contacts,
// calendar, mail and notes as plain files in the layouts that address-book,
// calendar and mail programs share. See docs/local-store.md.
#ifndef ZELSYNC_LOCAL_LOCAL_STORE_H
#define ZELSYNC_LOCAL_LOCAL_STORE_H

#include <memory>

#include "object_model/object_model.h"

namespace zelsync {
namespace local {

// Connects to the store named by the environment (ZELSYNC_STORE, else
// XDG_DATA_HOME or HOME), creating its folders when they are missing.
// kNotRegistered when no root can be named, kCreationFailed when the
// folders cannot be made.
class LocalObjectModel : public outlook::ObjectModel {
 public:
  outlook::ConnectResult Connect(std::shared_ptr<outlook::Application>* application) override;
};

}  // namespace local
}  // namespace zelsync

#endif  // ZELSYNC_LOCAL_LOCAL_STORE_H
