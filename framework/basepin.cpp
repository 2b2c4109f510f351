#include "framework/basepin.h"

#include <algorithm>
#include <new>

#include "framework/basefilter.h"
#include "platform/com/taskmem.h"
#include "platform/win/text.h"

namespace {
// Refusals that let the negotiation go on with the next type; anything else is significant.
bool IsSoftRefusal(HRESULT hr) { return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED; }

// A type the pin did not accept: a success code, E_FAIL or E_INVALIDARG says "not this type".
HRESULT TypeRefusal(HRESULT hr) {
  return SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG ? VFW_E_TYPE_NOT_ACCEPTED : hr;
}
}  // namespace

CBasePin::CBasePin(LPCSTR objectName, CBaseFilter* filter, CRITICAL_SECTION* lock, HRESULT*, LPCWSTR pinName,
                   PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr), m_dir(direction), m_pLock(lock), m_pFilter(filter) {
  if (pinName) {
    size_t length = WideLength(pinName);
    m_pName = new (std::nothrow) WCHAR[length + 1];
    if (m_pName) std::copy(pinName, pinName + length + 1, m_pName);
  }
}

CBasePin::~CBasePin() { delete[] m_pName; }

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
  if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

// A pin lives as long as its filter keeps it: its references are the filter's.
ULONG CBasePin::NonDelegatingAddRef() { return static_cast<IBaseFilter*>(m_pFilter)->AddRef(); }
ULONG CBasePin::NonDelegatingRelease() { return static_cast<IBaseFilter*>(m_pFilter)->Release(); }

LONG CBasePin::GetMediaTypeVersion() { return m_TypeVersion; }

HRESULT CBasePin::Active() { return S_OK; }

HRESULT CBasePin::Inactive() {
  SetRunTimeError(false);
  return S_OK;
}

HRESULT CBasePin::Run(REFERENCE_TIME) { return S_OK; }

HRESULT CBasePin::SetMediaType(const AM_MEDIA_TYPE* type) {
  HRESULT hr = m_mt.Set(*type);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT CBasePin::CheckConnect(IPin* peer) {
  // A peer that cannot tell its direction is taken to be of ours, and refused.
  PIN_DIRECTION peerDirection = m_dir;
  peer->QueryDirection(&peerDirection);
  return peerDirection == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::BreakConnect() { return S_OK; }
HRESULT CBasePin::CompleteConnect(IPin*) { return S_OK; }
HRESULT CBasePin::GetMediaType(int, CMediaType*) { return E_UNEXPECTED; }

HRESULT CBasePin::Connect(IPin* peer, const AM_MEDIA_TYPE* type) {
  if (!peer) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  HRESULT hr = AgreeMediaType(peer, type);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  return S_OK;
}

HRESULT CBasePin::AgreeMediaType(IPin* peer, const AM_MEDIA_TYPE* type) {
  if (type && !IsPartiallySpecified(type)) return AttemptConnection(peer, type);
  HRESULT result = VFW_E_NO_ACCEPTABLE_TYPES;
  // The peer's types first, then our own.
  for (int pass = 0; pass < 2; ++pass) {
    IEnumMediaTypes* types = nullptr;
    HRESULT hr = pass == 0 ? peer->EnumMediaTypes(&types) : static_cast<IPin*>(this)->EnumMediaTypes(&types);
    if (FAILED(hr) || !types) continue;
    hr = TryMediaTypes(peer, type, types);
    types->Release();
    if (SUCCEEDED(hr)) return S_OK;
    if (!IsSoftRefusal(hr)) result = hr;
  }
  return result;
}

HRESULT CBasePin::TryMediaTypes(IPin* peer, const AM_MEDIA_TYPE* partial, IEnumMediaTypes* types) {
  HRESULT hr = types->Reset();
  if (FAILED(hr)) return hr;
  HRESULT significant = S_OK;  // none yet
  AM_MEDIA_TYPE* candidate = nullptr;
  ULONG fetched = 0;
  while (types->Next(1, &candidate, &fetched) == S_OK) {
    if (!candidate) break;  // an enumerator that claims a type it did not give
    if (partial && !MatchesPartial(candidate, partial)) {
      hr = VFW_E_NO_ACCEPTABLE_TYPES;
    } else {
      hr = AttemptConnection(peer, candidate);
      if (FAILED(hr) && !IsSoftRefusal(hr) && significant == S_OK) significant = hr;
    }
    DeleteMediaType(candidate);
    candidate = nullptr;
    if (hr == S_OK) return S_OK;
  }
  return significant != S_OK ? significant : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT CBasePin::AttemptConnection(IPin* peer, const AM_MEDIA_TYPE* type) {
  HRESULT hr = CheckConnect(peer);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(type);
  if (hr == S_OK) {
    m_Connected = peer;
    m_Connected->AddRef();
    hr = SetMediaType(type);
    if (SUCCEEDED(hr)) {
      hr = peer->ReceiveConnection(static_cast<IPin*>(this), type);
      if (SUCCEEDED(hr)) {
        hr = CompleteConnect(peer);
        if (SUCCEEDED(hr)) return hr;
        peer->Disconnect();
      }
    }
  } else {
    hr = TypeRefusal(hr);
  }
  BreakConnect();
  SafeRelease(m_Connected);
  return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(type);
  if (hr != S_OK) {
    BreakConnect();
    return TypeRefusal(hr);
  }
  m_Connected = connector;
  m_Connected->AddRef();
  hr = SetMediaType(type);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(connector);
    if (SUCCEEDED(hr)) return S_OK;
  }
  SafeRelease(m_Connected);
  BreakConnect();
  return hr;
}

HRESULT CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  if (!m_Connected) return S_FALSE;
  HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  SafeRelease(m_Connected);
  return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** peer) {
  if (!peer) return E_POINTER;
  IPin* connected = m_Connected;
  *peer = connected;
  if (!connected) return VFW_E_NOT_CONNECTED;
  connected->AddRef();
  return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_Connected) {
    InitMediaType(type);
    return VFW_E_NOT_CONNECTED;
  }
  // A copy without its format block is no answer: the caller learns that memory ran out.
  return CopyMediaType(type, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = m_pFilter;
  static_cast<IBaseFilter*>(m_pFilter)->AddRef();
  size_t length = m_pName ? std::min<size_t>(WideLength(m_pName), MAX_PIN_NAME - 1) : 0;
  std::copy(m_pName, m_pName + length, info->achName);
  info->achName[length] = 0;
  info->dir = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = m_dir;
  return S_OK;
}

HRESULT CBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  // A pin whose name could not be kept answers with an empty name, as QueryPinInfo does.
  size_t length = m_pName ? WideLength(m_pName) : 0;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
  if (!*id) return E_OUTOFMEMORY;
  std::copy(m_pName, m_pName + length, *id);
  (*id)[length] = 0;
  return S_OK;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  HRESULT hr = CheckMediaType(type);
  return FAILED(hr) ? S_FALSE : hr;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = new (std::nothrow) CEnumMediaTypes(this, nullptr);
  return *types ? S_OK : E_OUTOFMEMORY;
}

HRESULT CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  m_tStart = start;
  m_tStop = stop;
  m_dRate = rate;
  return S_OK;
}

HRESULT CBasePin::SetSink(IQualityControl* sink) {
  CAutoLock lock(m_pLock);
  m_pQSink = sink;
  return S_OK;
}

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source) : m_pPin(pin) {
  static_cast<IPin*>(m_pPin)->AddRef();
  if (source) {
    m_Position = source->m_Position;
    m_Version = source->m_Version;
  } else {
    m_Version = pin->GetMediaTypeVersion();
  }
}

CEnumMediaTypes::~CEnumMediaTypes() { static_cast<IPin*>(m_pPin)->Release(); }

HRESULT CEnumMediaTypes::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (riid == IID_IEnumMediaTypes || riid == IID_IUnknown)
    return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

ULONG CEnumMediaTypes::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_cRef)); }

ULONG CEnumMediaTypes::Release() {
  LONG left = InterlockedDecrement(&m_cRef);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
  if (!types) return E_POINTER;
  if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  if (fetched)
    *fetched = 0;
  else if (count > 1)
    return E_INVALIDARG;
  ULONG got = 0;
  while (got < count) {
    CMediaType type;
    if (m_pPin->GetMediaType(m_Position++, &type) != S_OK) break;
    types[got] = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!types[got]) break;
    // The record takes over the format block and the object reference.
    *types[got] = type;
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    type.pUnk = nullptr;
    ++got;
  }
  if (fetched) *fetched = got;
  return got == count ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Skip(ULONG count) {
  if (count == 0) return S_OK;
  if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  // Far past the end is past the end; the position must not wrap.
  m_Position = count > static_cast<ULONG>(INT32_MAX - m_Position) ? INT32_MAX : m_Position + static_cast<int>(count);
  CMediaType type;
  return m_pPin->GetMediaType(m_Position - 1, &type) == S_OK ? S_OK : S_FALSE;
}

HRESULT CEnumMediaTypes::Reset() {
  m_Position = 0;
  m_Version = m_pPin->GetMediaTypeVersion();
  return S_OK;
}

HRESULT CEnumMediaTypes::Clone(IEnumMediaTypes** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!AreInSync()) return VFW_E_ENUM_OUT_OF_SYNC;
  *out = new (std::nothrow) CEnumMediaTypes(m_pPin, this);
  return *out ? S_OK : E_OUTOFMEMORY;
}
