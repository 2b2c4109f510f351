// The test module: the five exports of an in-process server, registering itself the way the
// filter module does (narrow registry calls, wsprintfA with %ls, the filter mapper).
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/com/runtime.h"
#include "platform/dshow/filter_mapper.h"
#include "platform/registry/registry.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "platform/win/wsprintf.h"
#include "tests/com/test_module.h"

#ifndef TEST_MODULE_INDEX
#define TEST_MODULE_INDEX 0
#endif
#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr CLSID kClass = TestModuleClass(TEST_MODULE_INDEX);
std::atomic<LONG> g_live{0};
std::atomic<LONG> g_locks{0};
HINSTANCE g_instance = nullptr;

void Log(const char* event) {
  const char* path = std::getenv("PELISTRA_TEST_MODULE_LOG");
  if (!path) return;
  if (FILE* log = std::fopen(path, "a")) {
    std::fprintf(log, "%s %d\n", event, TEST_MODULE_INDEX);
    std::fclose(log);
  }
}

// A module object giving out IUnknown and one interface; while one lives the module stays loaded.
template <class Interface, const IID& kInterfaceId>
class ModuleObject : public Interface {
 public:
  ModuleObject() { ++g_live; }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != kInterfaceId) return E_NOINTERFACE;
    *ppv = static_cast<Interface*>(this);
    this->AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual ~ModuleObject() { --g_live; }

 private:
  std::atomic<ULONG> refs_{1};
};

class TestObject final : public ModuleObject<ITestValue, IID_ITestValue> {
 public:
  LONG STDMETHODCALLTYPE Value() override { return TestModuleValue(TEST_MODULE_INDEX); }
};

class Factory final : public ModuleObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* value = new TestObject;
    HRESULT hr = value->QueryInterface(riid, ppv);
    value->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? ++g_locks : --g_locks;
    return S_OK;
  }
};

// "CLSID\{...}" for the module's class.
void ClassKey(char* key) {
  WCHAR clsid[39];
  StringFromGUID2(kClass, clsid, 39);
  wsprintfA(key, "CLSID\\%ls", clsid);
}

HRESULT WithMapper(bool registering) {
  IFilterMapper2* mapper = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return hr;
  hr = mapper->UnregisterFilter(nullptr, nullptr, kClass);
  if (registering) {
    static const REGPINTYPES anyType = {&GUID_NULL, &GUID_NULL};
    static WCHAR pinName[] = u"Input";
    REGFILTERPINS pin = {pinName, FALSE, FALSE, FALSE, FALSE, &GUID_NULL, u"Output", 1, &anyType};
    REGFILTER2 data{};
    data.dwVersion = 1;
    data.dwMerit = MERIT_DO_NOT_USE;
    data.cPins = 1;
    data.rgPins = &pin;
    hr = mapper->RegisterFilter(kClass, u"Pelistra Test Module", nullptr, nullptr, nullptr, &data);
  }
  mapper->Release();
  return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
}

}  // namespace

EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    if (std::getenv("PELISTRA_TEST_MODULE_REFUSE")) return FALSE;
    g_instance = instance;
    Log("attach");
  } else if (reason == DLL_PROCESS_DETACH) {
    Log("detach");
  }
  return TRUE;
}

EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (clsid != kClass) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new Factory;
  HRESULT hr = factory->QueryInterface(riid, ppv);
  factory->Release();
  return hr;
}

EXPORT HRESULT DllCanUnloadNow() { return g_live == 0 && g_locks <= 0 ? S_OK : S_FALSE; }

EXPORT HRESULT DllRegisterServer() {
  if (std::getenv("PELISTRA_TEST_MODULE_FAIL")) return E_ACCESSDENIED;
  char path[MAX_PATH];
  if (!GetModuleFileNameA(g_instance, path, MAX_PATH)) return HRESULT_FROM_WIN32(GetLastError());
  char key[MAX_PATH];
  ClassKey(key);
  HKEY classKey, serverKey;
  LONG rc = RegCreateKeyA(HKEY_CLASSES_ROOT, key, &classKey);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = RegSetValueA(classKey, nullptr, REG_SZ, "Pelistra Test Module", 0);
  if (rc == ERROR_SUCCESS) rc = RegCreateKeyA(classKey, "InprocServer32", &serverKey);
  if (rc == ERROR_SUCCESS) {
    rc = RegSetValueExA(serverKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path), strlen(path) + 1);
    if (rc == ERROR_SUCCESS)
      rc = RegSetValueExA(serverKey, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>("Both"), 5);
    RegCloseKey(serverKey);
  }
  RegCloseKey(classKey);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  CoInitialize(nullptr);
  HRESULT hr = WithMapper(true);
  CoUninitialize();
  return hr;
}

EXPORT HRESULT DllUnregisterServer() {
  CoInitialize(nullptr);
  HRESULT hr = WithMapper(false);
  CoUninitialize();
  if (FAILED(hr)) return hr;
  char key[MAX_PATH];
  ClassKey(key);
  LONG rc = RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
  return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(rc);
}
