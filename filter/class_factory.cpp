#include "filter/class_factory.h"

#include "filter/new_object.h"
#include "platform/win/module.h"

namespace {

HINSTANCE g_hInst = nullptr;
LONG volatile g_cServerLocks = 0;

}  // namespace

CClassFactory::CClassFactory(const CFactoryTemplate* entry) : CBaseObject(nullptr), m_pTemplate(entry) {}

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  *ppv = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

ULONG CClassFactory::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG CClassFactory::Release() {
  LONG left = InterlockedDecrement(&m_cRef);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  // An aggregated object can be asked only for its inner IUnknown.
  if (outer && riid != IID_IUnknown) return E_NOINTERFACE;
  HRESULT hr = S_OK;
  CUnknown* object = m_pTemplate->m_lpfnNew(outer, &hr);
  if (!object) return FAILED(hr) ? hr : E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete object;
    return hr;
  }
  // The query holds the caller's reference; a failed one leaves none and the object goes.
  object->NonDelegatingAddRef();
  hr = object->NonDelegatingQueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

HRESULT CClassFactory::LockServer(BOOL lock) {
  if (lock)
    InterlockedIncrement(&g_cServerLocks);
  else
    InterlockedDecrement(&g_cServerLocks);
  return S_OK;
}

BOOL ModuleMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    g_hInst = instance;
  }
  if (reason == DLL_PROCESS_ATTACH || reason == DLL_PROCESS_DETACH) {
    for (int i = 0; i < g_cTemplates; ++i)
      if (g_Templates[i].m_lpfnInit) g_Templates[i].m_lpfnInit(reason == DLL_PROCESS_ATTACH, g_Templates[i].m_ClsID);
  }
  return TRUE;
}

HRESULT ModuleGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
  for (int i = 0; i < g_cTemplates; ++i) {
    if (*g_Templates[i].m_ClsID != clsid) continue;
    if (!ppv) return E_POINTER;
    CClassFactory* factory = NewObject<CClassFactory>(&g_Templates[i]);
    *ppv = factory;
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    return S_OK;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ModuleCanUnloadNow() {
  LONG locks = __atomic_load_n(&g_cServerLocks, __ATOMIC_SEQ_CST);
  return locks > 0 || CBaseObject::ObjectsActive() != 0 ? S_FALSE : S_OK;
}

HINSTANCE ModuleInstance() { return g_hInst; }

LONG ServerLockCount() { return __atomic_load_n(&g_cServerLocks, __ATOMIC_SEQ_CST); }
