// Input pins that receive samples: the allocator agreed with the upstream pin, the checks every
// incoming sample passes (stopped, flushing, failed), in-stream type changes, flushing; and the
// rendered input pin, which reports the end of its stream to the graph once per run.
#pragma once

#include "framework/basepin.h"

class CBaseInputPin : public CBasePin, public IMemInputPin {
 public:
  CBaseInputPin(LPCSTR objectName, CBaseFilter* filter, CRITICAL_SECTION* lock, HRESULT* status, LPCWSTR pinName);
  ~CBaseInputPin() override;

  FRAMEWORK_DELEGATING_UNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  HRESULT Inactive() override;
  HRESULT BreakConnect() override;
  // S_OK when a sample may be taken now: VFW_E_WRONG_STATE while the filter is stopped, S_FALSE
  // while flushing, VFW_E_RUNTIME_ERROR after a refused type change.
  virtual HRESULT CheckStreaming();

  // IMemInputPin
  HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
  HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
  HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
  HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;
  // IPin
  HRESULT STDMETHODCALLTYPE BeginFlush() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;
  // IQualityControl
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality q) override;

  bool IsFlushing() const { return __atomic_load_n(&m_bFlushing, __ATOMIC_RELAXED); }
  bool IsReadOnly() const { return m_bReadOnly; }
  // The properties of the sample being received, read by Receive.
  const AM_SAMPLE2_PROPERTIES& SampleProps() const { return m_SampleProps; }

 protected:
  void SetFlushing(bool on) { __atomic_store_n(&m_bFlushing, on, __ATOMIC_RELAXED); }

  IMemAllocator* m_pAllocator = nullptr;
  bool m_bReadOnly = false;
  bool m_bFlushing = false;
  AM_SAMPLE2_PROPERTIES m_SampleProps{};

 private:
  HRESULT ReadSampleProperties(IMediaSample* sample, AM_MEDIA_TYPE** ownedType);
};

class CRenderedInputPin : public CBaseInputPin {
 public:
  CRenderedInputPin(LPCSTR objectName, CBaseFilter* filter, CRITICAL_SECTION* lock, HRESULT* status, LPCWSTR pinName);

  HRESULT Active() override;
  HRESULT Run(REFERENCE_TIME start) override;

  HRESULT STDMETHODCALLTYPE EndOfStream() override;
  HRESULT STDMETHODCALLTYPE EndFlush() override;

  bool IsAtEndOfStream() const { return __atomic_load_n(&m_bAtEndOfStream, __ATOMIC_RELAXED) != FALSE; }
  bool IsCompleteNotified() const { return __atomic_load_n(&m_bCompleteNotified, __ATOMIC_RELAXED) != FALSE; }

 protected:
  void SetAtEndOfStream(bool on) { __atomic_store_n(&m_bAtEndOfStream, on ? TRUE : FALSE, __ATOMIC_RELAXED); }
  void SetCompleteNotified(bool on) { __atomic_store_n(&m_bCompleteNotified, on ? TRUE : FALSE, __ATOMIC_RELAXED); }
  // Raises EC_COMPLETE unless it was raised already in this run.
  void DoCompleteHandling();

  BOOL m_bAtEndOfStream = FALSE;
  BOOL m_bCompleteNotified = FALSE;
};
