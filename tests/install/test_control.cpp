// A small control module for the installer's tests, installed as "test_control.ocx": the exports
// of an in-process server, registering its class under HKEY_CLASSES_ROOT\CLSID and a key of its
// own, HKEY_LOCAL_MACHINE\SOFTWARE\Pelistra Test Control, whose "Path" is the module's path.
#include <cstring>

#include "platform/com/unknown.h"
#include "platform/registry/registry.h"
#include "platform/win/guid.h"
#include "platform/win/module.h"
#include "tests/install/test_control.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

HINSTANCE g_instance = nullptr;

LONG SetText(HKEY root, const char* keyPath, const char* valueName, const char* text) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyA(root, keyPath, &key);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                      static_cast<DWORD>(std::strlen(text) + 1));
  RegCloseKey(key);
  return rc;
}

}  // namespace

EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_instance = instance;
  return TRUE;
}

EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID, void** ppv) {
  if (ppv) *ppv = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

EXPORT HRESULT DllCanUnloadNow() { return S_OK; }

EXPORT HRESULT DllRegisterServer() {
  char path[MAX_PATH];
  if (!GetModuleFileNameA(g_instance, path, MAX_PATH)) return E_FAIL;
  std::string server = kTestControlClassKey + std::string("\\InprocServer32");
  LONG rc = SetText(HKEY_CLASSES_ROOT, server.c_str(), nullptr, path);
  if (rc == ERROR_SUCCESS) rc = SetText(HKEY_LOCAL_MACHINE, kTestControlKey, "Path", path);
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

EXPORT HRESULT DllUnregisterServer() {
  RegDeleteTreeA(HKEY_CLASSES_ROOT, kTestControlClassKey);
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, kTestControlKey);
  return S_OK;
}
