// Connecting to Outlook and the objects above the items: the application,
// its namespace, folders and item collections.
#include "outlook/com/com_model.h"

#include <utility>

#include "outlook/com/com_objects.h"

namespace zelsync {
namespace outlook {
namespace com {

const IID kIidApplication = {
    0x00063001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

class ComItems : public Items {
 public:
  explicit ComItems(Dispatch object) : object_(std::move(object)) {
    object_.Bind(&IdsOf<Items>());
  }
  bool Count(int32_t* count) override { return object_.GetInt32(L"Count", count); }
  bool Item(int32_t index, std::shared_ptr<outlook::Item>* item) override {
    Dispatch found;
    return Hand(object_.CallForDispatch(L"Item", Args().Int32(index), &found), &found, WrapItem,
                item);
  }

 private:
  Dispatch object_;
};

std::shared_ptr<Items> WrapItems(Dispatch object) {
  if (!object) return nullptr;
  return std::make_shared<ComItems>(std::move(object));
}

class ComFolder : public Folder {
 public:
  explicit ComFolder(Dispatch object) : object_(std::move(object)) {
    object_.Bind(&IdsOf<Folder>());
  }
  bool GetItems(std::shared_ptr<Items>* items) override {
    Dispatch found;
    return Hand(object_.GetDispatch(L"Items", &found), &found, WrapItems, items);
  }
  IDispatch* object() const { return object_.get(); }

 private:
  Dispatch object_;
};

class ComNamespace : public Namespace {
 public:
  explicit ComNamespace(Dispatch object) : object_(std::move(object)) {
    object_.Bind(&IdsOf<Namespace>());
  }
  bool GetDefaultFolder(int32_t folder, std::shared_ptr<Folder>* result) override {
    Dispatch found;
    return Hand(object_.CallForDispatch(L"GetDefaultFolder", Args().Int32(folder), &found), &found,
                WrapFolder, result);
  }
  bool OpenSharedItem(const WString& path, std::shared_ptr<outlook::Item>* item) override {
    Dispatch opened;
    return Hand(object_.CallForDispatch(L"OpenSharedItem", Args().String(path), &opened), &opened,
                WrapItem, item);
  }
  bool Logoff() override { return object_.Call(L"Logoff"); }

 private:
  Dispatch object_;
};

class ComApplication : public Application {
 public:
  ComApplication(Dispatch object, bool started) : object_(std::move(object)), started_(started) {
    object_.Bind(&IdsOf<Application>());
  }
  bool StartedByConnect() const override { return started_; }
  bool ActiveExplorer(bool* present) override {
    Dispatch explorer;
    if (!object_.CallForDispatch(L"ActiveExplorer", &explorer)) return false;
    *present = static_cast<bool>(explorer);
    return true;
  }
  bool Session(std::shared_ptr<Namespace>* result) override {
    Dispatch session;
    return Hand(object_.GetDispatch(L"Session", &session), &session, WrapNamespace, result);
  }
  bool GetNamespace(const WString& type, std::shared_ptr<Namespace>* result) override {
    Dispatch found;
    return Hand(object_.CallForDispatch(L"GetNamespace", Args().String(type), &found), &found,
                WrapNamespace, result);
  }
  bool CreateItem(int32_t type, std::shared_ptr<outlook::Item>* item) override {
    Dispatch created;
    return Hand(object_.CallForDispatch(L"CreateItem", Args().Int32(type), &created), &created,
                WrapItem, item);
  }
  bool Quit() override { return object_.Call(L"Quit"); }

 private:
  Dispatch object_;
  const bool started_;
};

class ComObjectModel : public ObjectModel {
 public:
  ConnectResult Connect(std::shared_ptr<Application>* application) override {
    try {
      CLSID clsid;
      if (CLSIDFromProgID(L"Outlook.Application", &clsid) != S_OK) {
        return ConnectResult::kNotRegistered;
      }
      return CreateApplication(clsid, application);
    } catch (...) {
      return ConnectResult::kCreationFailed;
    }
  }
};

}  // namespace

std::shared_ptr<Namespace> WrapNamespace(Dispatch object) {
  if (!object) return nullptr;
  return std::make_shared<ComNamespace>(std::move(object));
}

std::shared_ptr<Folder> WrapFolder(Dispatch object) {
  if (!object) return nullptr;
  return std::make_shared<ComFolder>(std::move(object));
}

IDispatch* FolderObject(const Folder& folder) {
  const auto* ours = dynamic_cast<const ComFolder*>(&folder);
  return ours ? ours->object() : nullptr;
}

std::shared_ptr<Application> WrapApplication(IDispatch* application, bool started) {
  Dispatch object = Dispatch::Share(application);
  if (!object) return nullptr;
  return std::make_shared<ComApplication>(std::move(object), started);
}

ConnectResult CreateApplication(const CLSID& clsid, std::shared_ptr<Application>* application) {
  try {
    // An instance in the running object table was started by someone else
    // (the user, maybe minimised to the notification area with no window):
    // it is used as it is and never told to log off or quit.
    IUnknown* running = nullptr;
    const bool was_running = SUCCEEDED(GetActiveObject(clsid, nullptr, &running)) && running;
    void* found = nullptr;
    HRESULT hr = E_NOINTERFACE;
    if (was_running) {
      hr = running->QueryInterface(kIidApplication, &found);
      running->Release();
    }
    if (FAILED(hr)) {
      found = nullptr;
      if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, kIidApplication, &found))) {
        return ConnectResult::kCreationFailed;
      }
    }
    // `_Application` is a dual interface: an IDispatch.
    Dispatch object(static_cast<IDispatch*>(found));
    if (!object) return ConnectResult::kNoObject;
    *application = std::make_shared<ComApplication>(std::move(object), !was_running);
    return ConnectResult::kOk;
  } catch (...) {
    return ConnectResult::kCreationFailed;
  }
}

}  // namespace com

ObjectModel& ObjectModel::Default() {
  static com::ComObjectModel model;
  return model;
}

}  // namespace outlook
}  // namespace zelsync
