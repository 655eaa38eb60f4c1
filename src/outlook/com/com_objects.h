// The wrappers the COM backend hands out, as its own files reach each other:
// every wrapper owns the reference to the automation object it serves.
#ifndef ZELSYNC_OUTLOOK_COM_COM_OBJECTS_H
#define ZELSYNC_OUTLOOK_COM_COM_OBJECTS_H

#include <memory>
#include <utility>

#include "outlook/com/dispatch.h"
#include "object_model/object_model.h"

namespace zelsync {
namespace outlook {
namespace com {

// Each takes over `object`; an empty one gives null.
std::shared_ptr<Namespace> WrapNamespace(Dispatch object);
std::shared_ptr<Folder> WrapFolder(Dispatch object);
std::shared_ptr<outlook::Item> WrapItem(Dispatch object);

// Hands out the object a call gave as a wrapper: false when the call
// failed (*result untouched), else *result is the wrapper or null.
template <class Wrapped>
bool Hand(bool call_ok, Dispatch* object, std::shared_ptr<Wrapped> (*wrap)(Dispatch),
          std::shared_ptr<Wrapped>* result) {
  if (!call_ok) return false;
  *result = wrap(std::move(*object));
  return true;
}

// The automation object behind a folder of this backend; null for a folder
// of another backend.
IDispatch* FolderObject(const Folder& folder);

}  // namespace com
}  // namespace outlook
}  // namespace zelsync

#endif  // ZELSYNC_OUTLOOK_COM_COM_OBJECTS_H
