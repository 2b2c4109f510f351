// The base pin: name and direction, the connection to a peer pin with the media type agreed for
// it, the negotiation that finds that type, and the media type enumerator. The derived pin says
// which types it accepts and may hook the connection steps.
#pragma once

#include "framework/combase.h"
#include "framework/mediatype.h"
#include "platform/dshow/pins.h"

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
 public:
  // Pins are their own owners; their reference counting is the filter's. A failed name copy
  // leaves the pin without a name and is not reported.
  CBasePin(LPCSTR objectName, CBaseFilter* filter, CRITICAL_SECTION* lock, HRESULT* status, LPCWSTR pinName,
           PIN_DIRECTION direction);
  ~CBasePin() override;

  FRAMEWORK_DELEGATING_UNKNOWN
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
  ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

  virtual LONG GetMediaTypeVersion();
  // Called by the filter, with its lock held, when it leaves Stopped, stops, and runs.
  virtual HRESULT Active();
  virtual HRESULT Inactive();
  virtual HRESULT Run(REFERENCE_TIME start);
  // S_OK means acceptable.
  virtual HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) = 0;
  virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* type);
  virtual HRESULT CheckConnect(IPin* peer);
  virtual HRESULT BreakConnect();
  virtual HRESULT CompleteConnect(IPin* peer);
  // The pin's own offered types; the base offers none.
  virtual HRESULT GetMediaType(int position, CMediaType* type);

  // IPin
  HRESULT STDMETHODCALLTYPE Connect(IPin* peer, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE Disconnect() override;
  HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** peer) override;
  HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
  HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
  HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // IQualityControl (Notify is the input pin's)
  HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

  bool IsConnected() const { return m_Connected != nullptr; }
  IPin* GetConnected() const { return m_Connected; }
  LPCWSTR Name() const { return m_pName; }
  CBaseFilter* Filter() const { return m_pFilter; }
  const CMediaType& CurrentMediaType() const { return m_mt; }
  REFERENCE_TIME CurrentStartTime() const { return m_tStart; }
  REFERENCE_TIME CurrentStopTime() const { return m_tStop; }
  double CurrentRate() const { return m_dRate; }

 protected:
  bool RunTimeError() const { return __atomic_load_n(&m_bRunTimeError, __ATOMIC_RELAXED); }
  void SetRunTimeError(bool on) { __atomic_store_n(&m_bRunTimeError, on, __ATOMIC_RELAXED); }

  WCHAR* m_pName = nullptr;
  IPin* m_Connected = nullptr;
  PIN_DIRECTION m_dir;
  CRITICAL_SECTION* m_pLock;
  bool m_bRunTimeError = false;
  CBaseFilter* m_pFilter;
  IQualityControl* m_pQSink = nullptr;
  LONG m_TypeVersion = 1;
  CMediaType m_mt;
  REFERENCE_TIME m_tStart = 0;
  REFERENCE_TIME m_tStop = INT64_MAX;
  double m_dRate = 1.0;

 private:
  HRESULT AgreeMediaType(IPin* peer, const AM_MEDIA_TYPE* type);
  HRESULT TryMediaTypes(IPin* peer, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types);
  HRESULT AttemptConnection(IPin* peer, const AM_MEDIA_TYPE* type);
};

// Enumerates the types a pin offers (GetMediaType); notices a changed list by the pin's version.
class CEnumMediaTypes final : public IEnumMediaTypes {
 public:
  CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
  HRESULT STDMETHODCALLTYPE Reset() override;
  HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** out) override;

 private:
  virtual ~CEnumMediaTypes();
  bool AreInSync() const { return m_Version == m_pPin->GetMediaTypeVersion(); }

  int m_Position = 0;
  CBasePin* m_pPin;
  LONG m_Version = 0;
  LONG volatile m_cRef = 1;
};
