// A push source for the filter's tests, its end-to-end client and its benchmark: one output pin
// that offers one media type, takes the input pin's allocator (or a memory allocator of its own),
// and from the moment the graph runs pushes its units, as fast as the input takes them, on a
// streaming thread of its own; then it ends its stream. A real source will replace it.
#pragma once

#include <atomic>
#include <thread>
#include <vector>

#include "framework/basefilter.h"
#include "framework/basepin.h"

struct PushUnit {
  std::vector<BYTE> bytes;
  REFERENCE_TIME start = 0, stop = 0;
  bool sync = false;
};

class CPushSource;

class CPushPin final : public CBasePin {
 public:
  CPushPin(CPushSource* filter, CRITICAL_SECTION* lock);
  ~CPushPin() override;

  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT CompleteConnect(IPin* peer) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;
  HRESULT Run(REFERENCE_TIME start) override;

  // An output pin takes no stream calls.
  HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }

 private:
  void Stream();
  CPushSource* Source() const;

  IMemInputPin* m_input = nullptr;
  IMemAllocator* m_allocator = nullptr;
  std::thread m_thread;
  std::atomic<bool> m_stopping{false};
};

class CPushSource final : public CBaseFilter {
 public:
  // The units go out `loops` times, each pass `loopDuration` later than the one before.
  CPushSource(const CMediaType& type, std::vector<PushUnit> units, int loops = 1, REFERENCE_TIME loopDuration = 0);
  ~CPushSource() override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int index) override { return index == 0 ? m_pin : nullptr; }

  // The filter with the one reference its creator holds; and its output pin (not counted).
  IBaseFilter* Filter() { return static_cast<IBaseFilter*>(this); }
  IPin* Output() { return static_cast<IPin*>(m_pin); }

  // Of the latest run: samples the input took, and the first refusal (S_OK when none).
  size_t Delivered() const { return m_delivered.load(); }
  HRESULT Refusal() const { return m_refusal.load(); }
  // Bytes of one pass over the units.
  size_t PassBytes() const;

 private:
  friend class CPushPin;
  CRITICAL_SECTION m_lock;
  CPushPin* m_pin;
  CMediaType m_type;
  std::vector<PushUnit> m_units;
  int m_loops;
  REFERENCE_TIME m_loopDuration;
  std::atomic<size_t> m_delivered{0};
  std::atomic<HRESULT> m_refusal{S_OK};
};

// Creates a source with one reference held by the caller.
CPushSource* NewPushSource(const CMediaType& type, std::vector<PushUnit> units, int loops = 1,
                           REFERENCE_TIME loopDuration = 0);
