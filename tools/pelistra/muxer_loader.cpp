#include "tools/pelistra/muxer_loader.h"

#include "filter/asf_muxer.h"
#include "platform/com/runtime.h"
#include "platform/win/module.h"
#include "tools/pelistra/status_text.h"

namespace {

using GetClassObjectProc = HRESULT (*)(REFCLSID, REFIID, void**);

HRESULT CreateFromModule(const std::string& path, IBaseFilter** muxer, std::string* error) {
  // The module stays loaded for the life of the process, as COM keeps the modules it loads.
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    *error = "cannot load the muxer module " + path + ": " + ModuleLoadFailureText();
    return E_FAIL;
  }
  auto getClassObject = reinterpret_cast<GetClassObjectProc>(GetProcAddress(module, "DllGetClassObject"));
  if (!getClassObject) {
    *error = path + " is not a COM module (no DllGetClassObject)";
    return E_FAIL;
  }
  IClassFactory* factory = nullptr;
  HRESULT hr = getClassObject(CLSID_VelderMuxer, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) {
    *error = path + " does not provide the muxer: " + StatusText(hr);
    return hr;
  }
  hr = factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(muxer));
  factory->Release();
  if (FAILED(hr)) *error = "the muxer in " + path + " could not be created: " + StatusText(hr);
  return hr;
}

std::string ProgramFolder() {
  char path[4096];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return ".";
  std::string s(path, n);
  const size_t slash = s.rfind('/');
  return slash == std::string::npos ? "." : s.substr(0, slash);
}

}  // namespace

HRESULT CreateMuxer(const std::string& modulePath, IBaseFilter** muxer, std::string* error) {
  *muxer = nullptr;
  if (!modulePath.empty()) return CreateFromModule(modulePath, muxer, error);
  if (SUCCEEDED(CoCreateInstance(CLSID_VelderMuxer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                 reinterpret_cast<void**>(muxer))))
    return S_OK;
  *muxer = nullptr;
  HRESULT hr = CreateFromModule(ProgramFolder() + "/pelistra.ax", muxer, error);
  if (FAILED(hr)) *error = "the muxer is not registered, and " + *error;
  return hr;
}
