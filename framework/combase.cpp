#include "framework/combase.h"

#include <atomic>

#include "platform/win/module.h"

namespace {
LONG volatile g_activeObjects = 0;
// Read and written without a lock, as a plain handle would be; atomic so that is well defined.
std::atomic<HMODULE> g_oleAut32{nullptr};
}  // namespace

CBaseObject::CBaseObject(LPCSTR) { InterlockedIncrement(&g_activeObjects); }

CBaseObject::~CBaseObject() {
  if (InterlockedDecrement(&g_activeObjects) == 0) {
    if (HMODULE library = g_oleAut32.exchange(nullptr)) FreeLibrary(library);
  }
}

LONG CBaseObject::ObjectsActive() { return __atomic_load_n(&g_activeObjects, __ATOMIC_SEQ_CST); }

CUnknown::CUnknown(LPCSTR name, IUnknown* outer) : CBaseObject(name), m_owner(outer ? outer : &m_nonDelegating) {}

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  // Also when aggregated: the outer object holds the inner one through this interface.
  if (riid == IID_IUnknown) return GetInterface(&m_nonDelegating, ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
  InterlockedIncrement(&m_refCount);
  // Information only: read apart from the increment, never below 1.
  ULONG now = static_cast<ULONG>(__atomic_load_n(&m_refCount, __ATOMIC_RELAXED));
  return now > 1 ? now : 1;
}

ULONG CUnknown::NonDelegatingRelease() {
  if (InterlockedDecrement(&m_refCount) == 0) {
    // An AddRef/Release pair made by the destructor must not start a second destruction.
    __atomic_store_n(&m_refCount, 1, __ATOMIC_RELAXED);
    delete this;
    return 0;
  }
  ULONG now = static_cast<ULONG>(__atomic_load_n(&m_refCount, __ATOMIC_RELAXED));
  return now > 1 ? now : 1;
}

HRESULT GetInterface(IUnknown* unk, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = unk;
  unk->AddRef();
  return S_OK;
}

HMODULE LoadOLEAut32() {
  HMODULE library = g_oleAut32.load();
  if (!library) {
    library = LoadLibraryA("OleAut32.dll");
    if (library) {
      // Another thread may have loaded it meanwhile: keep one handle, free the extra load.
      HMODULE expected = nullptr;
      if (!g_oleAut32.compare_exchange_strong(expected, library)) {
        FreeLibrary(library);
        library = expected;
      }
    }
  }
  return library;
}

HMODULE LoadedOLEAut32() { return g_oleAut32.load(); }
