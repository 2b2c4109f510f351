#include "framework/posthru.h"

#include "platform/win/module.h"

namespace {
using LoadRegTypeLibProc = HRESULT (*)(REFGUID, WORD, WORD, LCID, ITypeLib**);
using LoadTypeLibProc = HRESULT (*)(LPCOLESTR, ITypeLib**);

HRESULT LastErrorStatus() { return MakeStatus(0x80070000u | GetLastError()); }

// Looks up the peer's interface, calls `call` on it and releases it; E_NOTIMPL without one.
template <class Interface, class Lookup, class Call>
HRESULT Forward(Lookup lookup, Call call) {
  Interface* peer = nullptr;
  HRESULT hr = lookup(&peer);
  if (FAILED(hr)) return hr;
  hr = call(peer);
  peer->Release();
  return hr;
}
}  // namespace

CMediaPosition::CMediaPosition(LPCSTR name, IUnknown* outer) : CUnknown(name, outer) {}

CMediaPosition::~CMediaPosition() { SafeRelease(m_pTypeInfo); }

HRESULT CMediaPosition::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

HRESULT CMediaPosition::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) {
  return GetTypeInfoOf(IID_IMediaPosition, index, lcid, info);
}

HRESULT CMediaPosition::GetTypeInfoOf(REFIID riid, UINT index, LCID lcid, ITypeInfo** info) {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return TYPE_E_ELEMENTNOTFOUND;
  ITypeInfo* held = __atomic_load_n(&m_pTypeInfo, __ATOMIC_ACQUIRE);
  if (!held) {
    HMODULE automation = LoadOLEAut32();
    if (!automation) return LastErrorStatus();
    auto loadRegistered = reinterpret_cast<LoadRegTypeLibProc>(GetProcAddress(automation, "LoadRegTypeLib"));
    if (!loadRegistered) return LastErrorStatus();
    ITypeLib* library = nullptr;
    HRESULT hr = loadRegistered(LIBID_QuartzTypeLib, 1, 0, lcid, &library);
    if (FAILED(hr)) {
      auto loadFile = reinterpret_cast<LoadTypeLibProc>(GetProcAddress(automation, "LoadTypeLib"));
      if (!loadFile) return LastErrorStatus();
      hr = loadFile(u"control.tlb", &library);
      if (FAILED(hr)) return hr;
    }
    hr = library->GetTypeInfoOfGuid(riid, &held);
    library->Release();
    if (FAILED(hr)) return hr;
    // Two threads may both have loaded it: the first one stored is kept.
    ITypeInfo* expected = nullptr;
    if (!__atomic_compare_exchange_n(&m_pTypeInfo, &expected, held, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
      held->Release();
      held = expected;
    }
  }
  *info = held;
  held->AddRef();
  return S_OK;
}

HRESULT CMediaPosition::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) {
  ITypeInfo* info = nullptr;
  HRESULT hr = GetTypeInfoOf(IID_IMediaPosition, 0, lcid, &info);
  if (FAILED(hr)) return hr;
  hr = info->GetIDsOfNames(names, count, ids);
  info->Release();
  return hr;
}

HRESULT CMediaPosition::Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  ITypeInfo* info = nullptr;
  HRESULT hr = GetTypeInfo(0, lcid, &info);
  if (FAILED(hr)) return hr;
  hr = info->Invoke(static_cast<IMediaPosition*>(this), member, flags, params, result, exception, argumentError);
  info->Release();
  return hr;
}

CPosPassThru::CPosPassThru(LPCSTR name, IUnknown* outer, HRESULT* status, IPin* pin)
    : CMediaPosition(name, outer), m_pPin(pin) {
  if (!pin && status) *status = E_POINTER;
}

HRESULT CPosPassThru::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IMediaSeeking) return GetInterface(static_cast<IMediaSeeking*>(this), ppv);
  if (riid == IID_IMediaPosition) return GetInterface(static_cast<IMediaPosition*>(this), ppv);
  return CMediaPosition::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CPosPassThru::GetPeerSeeking(IMediaSeeking** seeking) {
  *seeking = nullptr;
  IPin* peer = nullptr;
  if (!m_pPin || FAILED(m_pPin->ConnectedTo(&peer)) || !peer) return E_NOTIMPL;
  HRESULT hr = peer->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(seeking));
  peer->Release();
  return FAILED(hr) ? E_NOTIMPL : S_OK;
}

HRESULT CPosPassThru::GetPeer(IMediaPosition** position) {
  *position = nullptr;
  IPin* peer = nullptr;
  if (!m_pPin || FAILED(m_pPin->ConnectedTo(&peer)) || !peer) return E_NOTIMPL;
  HRESULT hr = peer->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(position));
  peer->Release();
  return FAILED(hr) ? E_NOTIMPL : S_OK;
}

#define FORWARD_SEEKING(call) \
  return Forward<IMediaSeeking>([this](IMediaSeeking** p) { return GetPeerSeeking(p); }, [&](IMediaSeeking* peer) { return peer->call; })
#define FORWARD_POSITION(call) \
  return Forward<IMediaPosition>([this](IMediaPosition** p) { return GetPeer(p); }, [&](IMediaPosition* peer) { return peer->call; })

HRESULT CPosPassThru::GetCapabilities(DWORD* capabilities) { FORWARD_SEEKING(GetCapabilities(capabilities)); }
HRESULT CPosPassThru::CheckCapabilities(DWORD* capabilities) { FORWARD_SEEKING(CheckCapabilities(capabilities)); }
HRESULT CPosPassThru::IsFormatSupported(const GUID* format) { FORWARD_SEEKING(IsFormatSupported(format)); }
HRESULT CPosPassThru::QueryPreferredFormat(GUID* format) { FORWARD_SEEKING(QueryPreferredFormat(format)); }
HRESULT CPosPassThru::GetTimeFormat(GUID* format) { FORWARD_SEEKING(GetTimeFormat(format)); }
HRESULT CPosPassThru::IsUsingTimeFormat(const GUID* format) { FORWARD_SEEKING(IsUsingTimeFormat(format)); }
HRESULT CPosPassThru::SetTimeFormat(const GUID* format) { FORWARD_SEEKING(SetTimeFormat(format)); }
HRESULT CPosPassThru::GetDuration(LONGLONG* duration) { FORWARD_SEEKING(GetDuration(duration)); }
HRESULT CPosPassThru::GetStopPosition(LONGLONG* stop) { FORWARD_SEEKING(GetStopPosition(stop)); }
HRESULT CPosPassThru::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                        const GUID* sourceFormat) {
  FORWARD_SEEKING(ConvertTimeFormat(target, targetFormat, source, sourceFormat));
}
HRESULT CPosPassThru::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
  FORWARD_SEEKING(SetPositions(current, currentFlags, stop, stopFlags));
}
HRESULT CPosPassThru::GetPositions(LONGLONG* current, LONGLONG* stop) { FORWARD_SEEKING(GetPositions(current, stop)); }
HRESULT CPosPassThru::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
  FORWARD_SEEKING(GetAvailable(earliest, latest));
}
HRESULT CPosPassThru::SetRate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  FORWARD_SEEKING(SetRate(rate));
}
HRESULT CPosPassThru::GetRate(double* rate) { FORWARD_SEEKING(GetRate(rate)); }
HRESULT CPosPassThru::GetPreroll(LONGLONG* preroll) { FORWARD_SEEKING(GetPreroll(preroll)); }

HRESULT CPosPassThru::GetCurrentPosition(LONGLONG* current) {
  if (SUCCEEDED(GetMediaTime(current, nullptr))) return S_OK;
  FORWARD_SEEKING(GetCurrentPosition(current));
}

HRESULT CPosPassThru::GetMediaTime(LONGLONG*, LONGLONG*) { return E_FAIL; }

HRESULT CPosPassThru::get_Duration(REFTIME* length) { FORWARD_POSITION(get_Duration(length)); }
HRESULT CPosPassThru::put_CurrentPosition(REFTIME time) { FORWARD_POSITION(put_CurrentPosition(time)); }
HRESULT CPosPassThru::get_CurrentPosition(REFTIME* time) { FORWARD_POSITION(get_CurrentPosition(time)); }
HRESULT CPosPassThru::get_StopTime(REFTIME* time) { FORWARD_POSITION(get_StopTime(time)); }
HRESULT CPosPassThru::put_StopTime(REFTIME time) { FORWARD_POSITION(put_StopTime(time)); }
HRESULT CPosPassThru::get_PrerollTime(REFTIME* time) { FORWARD_POSITION(get_PrerollTime(time)); }
HRESULT CPosPassThru::put_PrerollTime(REFTIME time) { FORWARD_POSITION(put_PrerollTime(time)); }
HRESULT CPosPassThru::put_Rate(double rate) {
  if (rate == 0.0) return E_INVALIDARG;
  FORWARD_POSITION(put_Rate(rate));
}
HRESULT CPosPassThru::get_Rate(double* rate) { FORWARD_POSITION(get_Rate(rate)); }
HRESULT CPosPassThru::CanSeekForward(LONG* can) { FORWARD_POSITION(CanSeekForward(can)); }
HRESULT CPosPassThru::CanSeekBackward(LONG* can) { FORWARD_POSITION(CanSeekBackward(can)); }
