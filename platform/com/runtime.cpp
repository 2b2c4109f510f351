#include "platform/com/runtime.h"

#include <mutex>
#include <vector>

#include "platform/win/guid.h"

namespace {
struct BuiltinClass {
  CLSID clsid;
  BuiltinCreator creator;
};

std::mutex g_classesLock;
std::vector<BuiltinClass>& BuiltinClasses() {
  static std::vector<BuiltinClass> classes;
  return classes;
}
RegisteredClassResolver g_resolver = nullptr;

BuiltinCreator FindBuiltin(REFCLSID clsid) {
  std::lock_guard<std::mutex> hold(g_classesLock);
  for (const BuiltinClass& c : BuiltinClasses())
    if (IsEqualGUID(c.clsid, clsid)) return c.creator;
  return nullptr;
}
}  // namespace

void RegisterBuiltinClass(REFCLSID clsid, BuiltinCreator creator) {
  std::lock_guard<std::mutex> hold(g_classesLock);
  for (BuiltinClass& c : BuiltinClasses()) {
    if (IsEqualGUID(c.clsid, clsid)) {
      c.creator = creator;
      return;
    }
  }
  BuiltinClasses().push_back({clsid, creator});
}

void SetRegisteredClassResolver(RegisteredClassResolver resolver) {
  std::lock_guard<std::mutex> hold(g_classesLock);
  g_resolver = resolver;
}

extern "C" HRESULT CoInitialize(void*) { return S_OK; }
extern "C" HRESULT CoInitializeEx(void*, DWORD) { return S_OK; }
extern "C" void CoUninitialize() {}

extern "C" int StringFromGUID2(REFGUID guid, WCHAR* out, int max) {
  std::string text = GuidToString(guid);
  if (!out || max < static_cast<int>(text.size()) + 1) return 0;
  for (size_t i = 0; i < text.size(); ++i) out[i] = static_cast<WCHAR>(text[i]);
  out[text.size()] = 0;
  return static_cast<int>(text.size()) + 1;
}

extern "C" HRESULT CoGetClassObject(REFCLSID clsid, DWORD, void*, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  RegisteredClassResolver resolver;
  {
    std::lock_guard<std::mutex> hold(g_classesLock);
    resolver = g_resolver;
  }
  if (!resolver) return REGDB_E_CLASSNOTREG;
  return resolver(clsid, riid, ppv);
}

extern "C" HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  // An aggregated object hands out its inner IUnknown only.
  if (outer && !IsEqualGUID(riid, IID_IUnknown)) return E_INVALIDARG;
  if (BuiltinCreator creator = FindBuiltin(clsid)) return creator(outer, riid, ppv);
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(clsid, context, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}
