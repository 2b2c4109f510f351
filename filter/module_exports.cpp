// The module's five exports; everything else in pelistra.ax stays hidden (exports.map).
#include "filter/class_factory.h"
#include "filter/registration.h"

#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))

MODULE_EXPORT HRESULT DllCanUnloadNow() { return ModuleCanUnloadNow(); }

MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return ModuleGetClassObject(clsid, riid, ppv);
}

MODULE_EXPORT BOOL DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  return ModuleMain(instance, reason, reserved);
}

MODULE_EXPORT HRESULT DllRegisterServer() { return RegisterModule(true); }

MODULE_EXPORT HRESULT DllUnregisterServer() { return RegisterModule(false); }
