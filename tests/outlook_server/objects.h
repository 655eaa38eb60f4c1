// The stand-in's automation objects: the part of Outlook's object model the
// library uses, served through IDispatch from the items of a Store. Every
// call is logged with its dispatch flags, argument types and values; every
// object is counted while it lives.
#ifndef ZELSYNC_TESTS_OUTLOOK_SERVER_OBJECTS_H
#define ZELSYNC_TESTS_OUTLOOK_SERVER_OBJECTS_H

#include <oaidl.h>
#include <windows.h>

#include "store.h"

namespace standin {

// The interfaces the library asks for by IID: the application's and the
// four item classes'. Each is described in the type library made at
// registration, so that it can be marshalled.
struct Interface {
  const wchar_t* name;
  IID iid;
};
extern const Interface kInterfaces[5];

// The server's state shared by its objects.
struct Server {
  explicit Server(std::wstring store_path) : store(std::move(store_path)) {}
  Store store;
  long live = 0;         // objects alive, the pinned application not counted
  bool quit = false;     // Quit was called
  bool embedded = true;  // started by COM rather than by the user
};

// A new application object (one reference, the caller's). A pinned one is
// the running instance's own and is left out of the live count.
IDispatch* NewApplication(Server& server, bool pinned);

}  // namespace standin

#endif  // ZELSYNC_TESTS_OUTLOOK_SERVER_OBJECTS_H
