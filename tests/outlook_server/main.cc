// A stand-in for Outlook as a COM local server, for the end-to-end test of
// the library under Wine.
//
//   outlook_server /regserver STORE  registers the type library that lets
//                                    its interfaces be marshalled (the test
//                                    registers the class, kClsid, under the
//                                    ProgID "Outlook.Application")
//   outlook_server /run STORE        plays an Outlook the user started: it
//                                    is in the running object table and
//                                    serves until the file "stop" appears
//                                    next to STORE
//   outlook_server STORE -Embedding  started by COM for a client; goes once
//                                    Quit was called and every object is
//                                    released, or when "stop" appears
//
// STORE is the JSON file of store.h; the call log "calls.log" is written
// next to it.
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <string>

#include "objects.h"

namespace standin {
namespace {

// {8E4F1B2A-6C3D-4E5F-9A0B-1C2D3E4F5A6B}: the stand-in's own class.
const CLSID kClsid = {0x8e4f1b2a, 0x6c3d, 0x4e5f, {0x9a, 0x0b, 0x1c, 0x2d, 0x3e, 0x4f, 0x5a, 0x6b}};
// {8E4F1B2B-6C3D-4E5F-9A0B-1C2D3E4F5A6B}: its type library.
const GUID kLibId = {0x8e4f1b2b, 0x6c3d, 0x4e5f, {0x9a, 0x0b, 0x1c, 0x2d, 0x3e, 0x4f, 0x5a, 0x6b}};
const IID kIidStdOle = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

std::wstring GuidText(const GUID& guid) {
  wchar_t text[40];
  StringFromGUID2(guid, text, 40);
  return text;
}

// Each interface the library asks for by IID becomes a dispinterface of a
// type library made here, which registering sets up for marshalling.
bool RegisterTypeLibrary(const std::wstring& path) {
  ITypeLib* stdole = nullptr;
  ITypeInfo* dispatch = nullptr;
  ICreateTypeLib2* library = nullptr;
  bool ok = SUCCEEDED(LoadRegTypeLib(kIidStdOle, 2, 0, 0, &stdole)) &&
            SUCCEEDED(stdole->GetTypeInfoOfGuid(IID_IDispatch, &dispatch)) &&
            SUCCEEDED(CreateTypeLib2(SYS_WIN64, path.c_str(), &library)) &&
            SUCCEEDED(library->SetGuid(kLibId)) &&
            SUCCEEDED(library->SetName(const_cast<LPOLESTR>(L"StandInOutlook"))) &&
            SUCCEEDED(library->SetVersion(1, 0)) && SUCCEEDED(library->SetLcid(0));
  for (const Interface& face : kInterfaces) {
    if (!ok) break;
    ICreateTypeInfo* info = nullptr;
    HREFTYPE base = 0;
    ok = SUCCEEDED(
             library->CreateTypeInfo(const_cast<LPOLESTR>(face.name), TKIND_DISPATCH, &info)) &&
         SUCCEEDED(info->SetGuid(face.iid)) && SUCCEEDED(info->AddRefTypeInfo(dispatch, &base)) &&
         SUCCEEDED(info->AddImplType(0, base)) && SUCCEEDED(info->LayOut());
    if (info) info->Release();
  }
  ok = ok && SUCCEEDED(library->SaveAllChanges());
  if (library) library->Release();
  if (dispatch) dispatch->Release();
  if (stdole) stdole->Release();
  ITypeLib* loaded = nullptr;
  ok = ok && SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &loaded));
  if (loaded) loaded->Release();
  return ok;
}

int Register(const std::wstring& store) {
  const size_t slash = store.find_last_of(L"\\/");
  return RegisterTypeLibrary(store.substr(0, slash + 1) + L"standin.tlb") ? 0 : 1;
}

class Factory : public IClassFactory {
 public:
  Factory(Server& server, IDispatch* pinned) : server_(server), pinned_(pinned) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    server_.store.Log("create " + Utf8(GuidText(iid)));
    // A running instance is the one every client gets.
    IDispatch* application = pinned_ ? pinned_ : NewApplication(server_, false);
    if (pinned_) pinned_->AddRef();
    const HRESULT hr = application->QueryInterface(iid, out);
    application->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  Server& server_;
  IDispatch* pinned_;
};

int Serve(const std::wstring& store_path, bool embedded) {
  Server server(store_path);
  server.embedded = embedded;
  if (!server.store.Load()) return 1;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  IDispatch* pinned = embedded ? nullptr : NewApplication(server, true);
  Factory factory(server, pinned);
  DWORD class_cookie = 0, active_cookie = 0;
  bool ok = SUCCEEDED(CoRegisterClassObject(kClsid, &factory, CLSCTX_LOCAL_SERVER,
                                            REGCLS_MULTIPLEUSE, &class_cookie));
  if (ok && pinned) {
    ok = SUCCEEDED(RegisterActiveObject(pinned, kClsid, ACTIVEOBJECT_STRONG, &active_cookie));
  }
  server.store.Log(std::string(ok ? "ready " : "! cannot register ") +
                   (embedded ? "embedded" : "running"));
  const std::wstring stop = server.store.folder() + L"\\stop";
  SetTimer(nullptr, 0, 200, nullptr);
  MSG message;
  while (ok && GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER &&
        GetFileAttributesW(stop.c_str()) != INVALID_FILE_ATTRIBUTES) {
      break;
    }
    DispatchMessageW(&message);
  }
  if (active_cookie) RevokeActiveObject(active_cookie, nullptr);
  if (class_cookie) CoRevokeClassObject(class_cookie);
  if (pinned) {
    CoDisconnectObject(pinned, 0);
    pinned->Release();
  }
  server.store.Log("exit live " + std::to_string(server.live) + (server.quit ? " quit" : ""));
  CoUninitialize();
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace standin

int wmain(int argc, wchar_t** argv) {
  std::wstring store, mode;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"/regserver" || arg == L"/run") {
      mode = arg;
    } else if (_wcsicmp(arg.c_str(), L"-Embedding") != 0 &&
               _wcsicmp(arg.c_str(), L"/Embedding") != 0) {
      store = arg;
    }
  }
  if (store.empty()) return 2;
  if (mode == L"/regserver") {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    const int result = standin::Register(store);
    CoUninitialize();
    return result;
  }
  return standin::Serve(store, mode != L"/run");
}
