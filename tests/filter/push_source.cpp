#include "tests/filter/push_source.h"

#include <algorithm>
#include <cstring>

#include "platform/com/runtime.h"

namespace {

const CLSID CLSID_PushSource = MakeGuid("7C0A65D2-3F5B-4E0B-9E43-2B8E1F6A0C11");
constexpr LONG kBuffers = 4;

}  // namespace

CPushPin::CPushPin(CPushSource* filter, CRITICAL_SECTION* lock)
    : CBasePin(nullptr, filter, lock, nullptr, u"Output", PINDIR_OUTPUT) {}

CPushPin::~CPushPin() {
  if (m_thread.joinable()) m_thread.join();
  SafeRelease(m_input);
  SafeRelease(m_allocator);
}

CPushSource* CPushPin::Source() const { return static_cast<CPushSource*>(m_pFilter); }

HRESULT CPushPin::CheckMediaType(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  return CMediaType(*type) == Source()->m_type ? S_OK : E_FAIL;
}

HRESULT CPushPin::GetMediaType(int position, CMediaType* type) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return S_FALSE;  // no more types
  return type->Set(Source()->m_type);
}

// The input pin's allocator when it offers one, else a memory allocator; sized for the largest unit.
HRESULT CPushPin::CompleteConnect(IPin* peer) {
  HRESULT hr = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_input));
  if (FAILED(hr)) return hr;
  if (FAILED(m_input->GetAllocator(&m_allocator))) {
    hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                          reinterpret_cast<void**>(&m_allocator));
    if (FAILED(hr)) return hr;
  }
  size_t largest = 1;
  for (const PushUnit& unit : Source()->m_units) largest = std::max(largest, unit.bytes.size());
  ALLOCATOR_PROPERTIES want{kBuffers, static_cast<LONG>(largest), 1, 0}, got{};
  hr = m_allocator->SetProperties(&want, &got);
  if (FAILED(hr)) return hr;
  return m_input->NotifyAllocator(m_allocator, FALSE);
}

HRESULT CPushPin::BreakConnect() {
  SafeRelease(m_input);
  SafeRelease(m_allocator);
  return S_OK;
}

HRESULT CPushPin::Active() {
  if (!m_allocator) return VFW_E_NO_ALLOCATOR;
  m_stopping = false;
  return m_allocator->Commit();
}

HRESULT CPushPin::Inactive() {
  // A decommitted allocator fails the streaming thread's next GetBuffer.
  m_stopping = true;
  HRESULT hr = m_allocator ? m_allocator->Decommit() : S_OK;
  if (m_thread.joinable()) m_thread.join();
  return hr;
}

// A live source: streaming begins when the graph first runs after leaving the stopped state.
HRESULT CPushPin::Run(REFERENCE_TIME) {
  if (m_thread.joinable()) return S_OK;
  Source()->m_delivered = 0;
  Source()->m_refusal = S_OK;
  try {
    m_thread = std::thread([this] { Stream(); });
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

void CPushPin::Stream() {
  CPushSource* source = Source();
  for (int loop = 0; loop < source->m_loops; ++loop) {
    const REFERENCE_TIME shift = loop * source->m_loopDuration;
    for (const PushUnit& unit : source->m_units) {
      if (m_stopping) return;
      IMediaSample* sample = nullptr;
      HRESULT hr = m_allocator->GetBuffer(&sample, nullptr, nullptr, 0);
      if (FAILED(hr)) return;  // decommitted: the graph is stopping
      BYTE* data = nullptr;
      sample->GetPointer(&data);
      std::memcpy(data, unit.bytes.data(), unit.bytes.size());
      sample->SetActualDataLength(static_cast<LONG>(unit.bytes.size()));
      REFERENCE_TIME start = unit.start + shift, stop = unit.stop + shift;
      sample->SetTime(&start, &stop);
      sample->SetSyncPoint(unit.sync);
      sample->SetDiscontinuity(loop == 0 && &unit == &source->m_units.front());
      hr = m_input->Receive(sample);
      sample->Release();
      if (hr != S_OK) {
        // A refused sample ends the stream, as a real source does.
        HRESULT none = S_OK;
        source->m_refusal.compare_exchange_strong(none, FAILED(hr) ? hr : S_FALSE);
        return;
      }
      ++source->m_delivered;
    }
  }
  if (IPin* peer = GetConnected()) peer->EndOfStream();
}

CPushSource::CPushSource(const CMediaType& type, std::vector<PushUnit> units, int loops, REFERENCE_TIME loopDuration)
    : CBaseFilter(nullptr, nullptr, &m_lock, CLSID_PushSource),
      m_type(type),
      m_units(std::move(units)),
      m_loops(loops),
      m_loopDuration(loopDuration) {
  InitializeCriticalSection(&m_lock);
  m_pin = new CPushPin(this, &m_lock);
}

CPushSource::~CPushSource() {
  delete m_pin;
  DeleteCriticalSection(&m_lock);
}

size_t CPushSource::PassBytes() const {
  size_t bytes = 0;
  for (const PushUnit& unit : m_units) bytes += unit.bytes.size();
  return bytes;
}

CPushSource* NewPushSource(const CMediaType& type, std::vector<PushUnit> units, int loops, REFERENCE_TIME loopDuration) {
  auto* source = new CPushSource(type, std::move(units), loops, loopDuration);
  source->Filter()->AddRef();
  return source;
}
