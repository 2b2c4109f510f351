// The COM object base: the module's live-object count, the owner (aggregation) pointer with the
// non-delegating IUnknown, and GetInterface, through which every QueryInterface hands out a pointer.
#pragma once

#include "platform/com/unknown.h"
#include "platform/win/sync.h"

// IUnknown's three slots under other names: the inner unknown of an aggregatable object.
struct INonDelegatingUnknown {
  virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Counts the module's live framework objects; the module may unload only at zero.
class CBaseObject {
 public:
  explicit CBaseObject(LPCSTR name);  // the name is a label and is not kept
  ~CBaseObject();
  CBaseObject(const CBaseObject&) = delete;
  CBaseObject& operator=(const CBaseObject&) = delete;

  static LONG ObjectsActive();
};

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
 public:
  // Aggregated under `outer` when it is given; else the object is its own owner.
  CUnknown(LPCSTR name, IUnknown* outer);
  virtual ~CUnknown() = default;

  // The object every delegating IUnknown method goes to.
  IUnknown* GetOwner() const { return m_owner; }

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

 private:
  // The non-delegating interface as an IUnknown, so an outer object and the object's own
  // interfaces call it through IUnknown's table.
  class NonDelegatingUnknown final : public IUnknown {
   public:
    explicit NonDelegatingUnknown(CUnknown* object) : m_object(object) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
      return m_object->NonDelegatingQueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_object->NonDelegatingAddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_object->NonDelegatingRelease(); }

   private:
    CUnknown* const m_object;
  };

  IUnknown* const m_owner;  // not counted
  LONG volatile m_refCount = 0;
  NonDelegatingUnknown m_nonDelegating{this};

 protected:
  // The non-delegating interface as handed out for IID_IUnknown.
  IUnknown* NonDelegatingInterface() { return &m_nonDelegating; }
};

// Stores `unk` in *ppv with a reference added: E_POINTER for a null out pointer, else S_OK.
HRESULT GetInterface(IUnknown* unk, void** ppv);

// The OLE Automation library, loaded on first need and freed when the last live object goes.
// Null when it cannot be loaded; a later call tries again.
HMODULE LoadOLEAut32();
// The handle held now, without loading: null when the library is not loaded.
HMODULE LoadedOLEAut32();

// The IUnknown methods of every interface an object implements besides the non-delegating one:
// all go to the owner.
#define FRAMEWORK_DELEGATING_UNKNOWN                                                          \
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {                \
    return GetOwner()->QueryInterface(riid, ppv);                                             \
  }                                                                                           \
  ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }                  \
  ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }

// Holds a critical section for the life of a scope.
class CAutoLock {
 public:
  explicit CAutoLock(CRITICAL_SECTION* lock) : m_lock(lock) { EnterCriticalSection(m_lock); }
  ~CAutoLock() { LeaveCriticalSection(m_lock); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CRITICAL_SECTION* m_lock;
};
