// The module's entry points and its class factory: the module handle kept at attach, the server
// lock count, the factory that creates the classes of the factory table, and the unload test.
// The exports of the module (module_exports.cpp) are these functions under their own names.
#pragma once

#include "filter/factory_table.h"

class CClassFactory final : public IClassFactory, public CBaseObject {
 public:
  explicit CClassFactory(const CFactoryTemplate* entry);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  const CFactoryTemplate* const m_pTemplate;
  LONG volatile m_cRef = 0;
};

// DllMain: keeps the handle at attach and runs the table's initialisation routines.
BOOL ModuleMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
// DllGetClassObject.
HRESULT ModuleGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
// DllCanUnloadNow: S_OK when no server lock is held and no framework object lives.
HRESULT ModuleCanUnloadNow();

// The handle the loader gave at attach; null before.
HINSTANCE ModuleInstance();
// The server lock count (it may go below zero).
LONG ServerLockCount();
