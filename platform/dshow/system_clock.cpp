// CLSID_SystemClock: the reference clock a graph uses when no filter offers one. Time is the
// system's monotonic clock in 100 ns units; advise requests are served by one thread per clock.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/dshow/clock.h"
#include "platform/dshow/runtime_object.h"
#include "platform/win/event.h"

namespace {

REFERENCE_TIME Now() {
  using namespace std::chrono;
  return duration_cast<duration<int64_t, std::ratio<1, 10000000>>>(steady_clock::now().time_since_epoch()).count();
}

class SystemClock final : public RuntimeObject, public IReferenceClock {
 public:
  ~SystemClock() override {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      m_quit = true;
      m_changed.notify_all();
    }
    if (m_worker.joinable()) m_worker.join();
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IReferenceClock) {
      *ppv = static_cast<IReferenceClock*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return AddRefObject(); }
  ULONG STDMETHODCALLTYPE Release() override { return ReleaseObject(); }

  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override {
    if (!time) return E_POINTER;
    *time = Now();
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event,
                                       DWORD_PTR* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (base < 0 || stream < 0) return E_INVALIDARG;
    return Add(base + stream, 0, event, cookie);
  }

  HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE event,
                                           DWORD_PTR* cookie) override {
    if (!cookie) return E_POINTER;
    *cookie = 0;
    if (start < 0 || period <= 0) return E_INVALIDARG;
    return Add(start, period, event, cookie);
  }

  HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR cookie) override {
    std::lock_guard<std::mutex> hold(m_lock);
    for (size_t i = 0; i < m_advises.size(); ++i) {
      if (m_advises[i].cookie == cookie) {
        m_advises.erase(m_advises.begin() + i);
        return S_OK;
      }
    }
    return S_FALSE;
  }

 private:
  struct Advise {
    DWORD_PTR cookie;
    REFERENCE_TIME due;
    REFERENCE_TIME period;  // 0: once
    HEVENT event;
  };

  HRESULT Add(REFERENCE_TIME due, REFERENCE_TIME period, HEVENT event, DWORD_PTR* cookie) {
    if (!event) return E_INVALIDARG;
    std::lock_guard<std::mutex> hold(m_lock);
    try {
      if (!m_worker.joinable()) m_worker = std::thread([this] { Serve(); });
      m_advises.push_back({m_nextCookie, due, period, event});
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    *cookie = m_nextCookie++;
    m_changed.notify_all();
    return S_OK;
  }

  void Serve() {
    std::unique_lock<std::mutex> hold(m_lock);
    while (!m_quit) {
      REFERENCE_TIME now = Now();
      REFERENCE_TIME next = INT64_MAX;
      for (size_t i = 0; i < m_advises.size();) {
        Advise& a = m_advises[i];
        if (a.due <= now) {
          SetEvent(reinterpret_cast<HANDLE>(a.event));
          if (a.period == 0) {
            m_advises.erase(m_advises.begin() + i);
            continue;
          }
          a.due += (now - a.due) / a.period * a.period + a.period;  // skip missed periods
        }
        if (a.due < next) next = a.due;
        ++i;
      }
      if (next == INT64_MAX)
        m_changed.wait(hold);
      else
        m_changed.wait_for(hold, std::chrono::microseconds((next - now) / 10 + 1));
    }
  }

  std::mutex m_lock;
  std::condition_variable m_changed;
  std::vector<Advise> m_advises;
  DWORD_PTR m_nextCookie = 1;
  bool m_quit = false;
  std::thread m_worker;
};

HRESULT CreateSystemClock(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer) return CLASS_E_NOAGGREGATION;
  auto* clock = new (std::nothrow) SystemClock;
  if (!clock) return E_OUTOFMEMORY;
  HRESULT hr = clock->QueryInterface(riid, ppv);
  clock->Release();
  return hr;
}

const bool g_registered = (RegisterBuiltinClass(CLSID_SystemClock, CreateSystemClock), true);

}  // namespace
