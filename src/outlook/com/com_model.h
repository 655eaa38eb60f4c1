// The object model of Microsoft Outlook over COM: the application object
// and everything reached from it, called by name through IDispatch.
#ifndef ZELSYNC_OUTLOOK_COM_COM_MODEL_H
#define ZELSYNC_OUTLOOK_COM_COM_MODEL_H

#include <objbase.h>
#include <windows.h>

#include <memory>

#include "object_model/object_model.h"

namespace zelsync {
namespace outlook {
namespace com {

// The application interface `_Application`.
extern const IID kIidApplication;

// The application object behind `application`, which gets a reference of
// its own (the caller keeps its reference); `started` tells whether this
// caller started it. Null for a null `application`.
std::shared_ptr<Application> WrapApplication(IDispatch* application, bool started = true);

// The application object of class `clsid`: the running instance when the
// running object table has one (not started by us), else one created as a
// local server (started by us). kCreationFailed when creation fails or
// throws, kNoObject when it succeeds without an object. *application is set
// only on kOk.
ConnectResult CreateApplication(const CLSID& clsid, std::shared_ptr<Application>* application);

}  // namespace com
}  // namespace outlook
}  // namespace zelsync

#endif  // ZELSYNC_OUTLOOK_COM_COM_MODEL_H
