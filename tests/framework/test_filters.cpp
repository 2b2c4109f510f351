#include "tests/framework/test_filters.h"

#include <cstring>

#include "platform/dshow/seeking.h"

namespace testing_filters {

CMediaType VideoType(LONG width, REFGUID subtype) {
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(subtype);
  type.SetFormatType(FORMAT_VideoInfo);
  VIDEOINFOHEADER format{};
  format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = 240;
  format.AvgTimePerFrame = 400000;
  type.SetFormat(&format, sizeof format);
  return type;
}

CMediaType AudioType(DWORD rate) {
  CMediaType type;
  type.SetType(MEDIATYPE_Audio);
  type.SetSubtype(MEDIASUBTYPE_PCM);
  type.SetFormatType(FORMAT_WaveFormatEx);
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, rate, rate * 4, 4, 16, 0};
  type.SetFormat(&format, sizeof format);
  return type;
}

// --- source ---

CTestOutputPin::CTestOutputPin(CTestSourceFilter* filter, CRITICAL_SECTION* lock, LPCWSTR name)
    : CBasePin(nullptr, filter, lock, nullptr, name, PINDIR_OUTPUT) {
  offered.push_back(VideoType());
}

CTestOutputPin::~CTestOutputPin() {
  if (m_thread.joinable()) m_thread.join();
  SafeRelease(m_input);
  SafeRelease(m_allocator);
}

HRESULT CTestOutputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (seeking && ppv && (riid == IID_IMediaSeeking || riid == IID_IMediaPosition))
    return seeking->QueryInterface(riid, ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CTestOutputPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  for (const CMediaType& t : offered)
    if (CMediaType(*type) == t) return S_OK;
  return E_FAIL;
}

HRESULT CTestOutputPin::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position >= static_cast<int>(offered.size())) return VFW_S_NO_MORE_ITEMS;
  return type->Set(offered[position]);
}

// Takes the input pin's allocator, sized for our buffers.
HRESULT CTestOutputPin::CompleteConnect(IPin* peer) {
  HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_input));
  if (FAILED(hr)) return hr;
  hr = m_input->GetAllocator(&m_allocator);
  if (FAILED(hr)) return hr;
  ALLOCATOR_PROPERTIES want{bufferCount, bufferSize, 1, 0}, got{};
  hr = m_allocator->SetProperties(&want, &got);
  if (FAILED(hr)) return hr;
  return m_input->NotifyAllocator(m_allocator, FALSE);
}

HRESULT CTestOutputPin::BreakConnect() {
  SafeRelease(m_input);
  SafeRelease(m_allocator);
  return S_OK;
}

HRESULT CTestOutputPin::Active() { return m_allocator ? m_allocator->Commit() : VFW_E_NO_ALLOCATOR; }

HRESULT CTestOutputPin::Inactive() {
  // A decommitted allocator ends the streaming thread at its next GetBuffer.
  HRESULT hr = m_allocator ? m_allocator->Decommit() : S_OK;
  if (m_thread.joinable()) m_thread.join();
  return hr;
}

void CTestOutputPin::Push(std::vector<PushedSample> samples, bool endOfStream) {
  if (m_thread.joinable()) m_thread.join();
  {
    std::lock_guard<std::mutex> hold(m_resultsLock);
    m_results.clear();
  }
  m_thread = std::thread([this, samples = std::move(samples), endOfStream]() mutable {
    Stream(std::move(samples), endOfStream);
  });
}

std::vector<HRESULT> CTestOutputPin::Join() {
  if (m_thread.joinable()) m_thread.join();
  std::lock_guard<std::mutex> hold(m_resultsLock);
  return m_results;
}

void CTestOutputPin::Stream(std::vector<PushedSample> samples, bool endOfStream) {
  for (PushedSample& pushed : samples) {
    IMediaSample* sample = nullptr;
    HRESULT hr = m_allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    if (SUCCEEDED(hr)) {
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      LONG length = static_cast<LONG>(std::min<size_t>(pushed.data.size(), static_cast<size_t>(sample->GetSize())));
      if (length) std::memcpy(data, pushed.data.data(), length);
      sample->SetActualDataLength(length);
      if (pushed.start >= 0) sample->SetTime(&pushed.start, pushed.stop >= 0 ? &pushed.stop : nullptr);
      sample->SetSyncPoint(pushed.syncPoint);
      sample->SetDiscontinuity(pushed.discontinuity);
      if (pushed.typeChange) sample->SetMediaType(const_cast<AM_MEDIA_TYPE*>(pushed.typeChange));
      hr = m_input->Receive(sample);
      sample->Release();
    }
    std::lock_guard<std::mutex> hold(m_resultsLock);
    m_results.push_back(hr);
    if (FAILED(hr)) return;  // a failed delivery ends the stream, as a real source does
  }
  if (endOfStream) GetConnected()->EndOfStream();
}

CTestSourceFilter::CTestSourceFilter() : CBaseFilter(nullptr, nullptr, &m_lock, CLSID_TestSource) {
  InitializeCriticalSection(&m_lock);
  m_pin = new CTestOutputPin(this, &m_lock, u"Output");
}

CTestSourceFilter::~CTestSourceFilter() {
  delete m_pin;
  DeleteCriticalSection(&m_lock);
}

// --- sink ---

CTestInputPin::CTestInputPin(CTestSinkFilter* filter, CRITICAL_SECTION* lock, LPCWSTR name)
    : CRenderedInputPin(nullptr, filter, lock, nullptr, name) {
  accept = [](const AM_MEDIA_TYPE* type) {
    if (!type) return E_POINTER;
    return type->majortype == MEDIATYPE_Video ? S_OK : E_FAIL;
  };
}

HRESULT CTestInputPin::CheckMediaType(const AM_MEDIA_TYPE* type) { return accept(type); }

HRESULT CTestInputPin::GetMediaType(int position, CMediaType* type) {
  if (position < 0 || position >= static_cast<int>(offered.size())) return VFW_S_NO_MORE_ITEMS;
  return type->Set(offered[position]);
}

HRESULT CTestInputPin::BreakConnect() {
  Record("BreakConnect");
  return CRenderedInputPin::BreakConnect();
}

HRESULT CTestInputPin::CompleteConnect(IPin* peer) {
  Record("CompleteConnect");
  return FAILED(completeResult) ? completeResult : CRenderedInputPin::CompleteConnect(peer);
}

HRESULT CTestInputPin::Active() {
  Record("Active");
  return FAILED(activeResult) ? activeResult : CRenderedInputPin::Active();
}

HRESULT CTestInputPin::Inactive() {
  Record("Inactive");
  HRESULT hr = CRenderedInputPin::Inactive();
  return FAILED(inactiveResult) ? inactiveResult : hr;
}

HRESULT CTestInputPin::Run(REFERENCE_TIME start) {
  Record("Run");
  return FAILED(runResult) ? runResult : CRenderedInputPin::Run(start);
}

HRESULT CTestInputPin::Receive(IMediaSample* sample) {
  HRESULT hr = CRenderedInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  ++received;
  std::lock_guard<std::mutex> hold(lock);
  properties.push_back(SampleProps());
  if (receiveResults.empty()) return S_OK;
  HRESULT next = receiveResults.front();
  receiveResults.erase(receiveResults.begin());
  return next;
}

CTestSinkFilter::CTestSinkFilter(int pins, IUnknown* outer) : CBaseFilter(nullptr, outer, &m_lock, CLSID_TestSink) {
  InitializeCriticalSection(&m_lock);
  for (int i = 0; i < pins; ++i) {
    std::u16string name = u"In " + std::u16string(1, static_cast<char16_t>(u'1' + i));
    m_pins.push_back(new CTestInputPin(this, &m_lock, name.c_str()));
  }
}

CTestSinkFilter::~CTestSinkFilter() {
  for (CTestInputPin* pin : m_pins) delete pin;
  DeleteCriticalSection(&m_lock);
}

CBasePin* CTestSinkFilter::GetPin(int index) {
  if (index < 0 || index >= GetPinCount()) return nullptr;
  if (dropLast && index == GetPinCount() - 1) return nullptr;
  return m_pins[index];
}

}  // namespace testing_filters
