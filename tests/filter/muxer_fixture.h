// The muxer filter in a graph of its own, made through its creation function, with push sources
// to connect to its pins, the graph's event queue, and the recorder's writer watched through the
// writer seam. Every test ends with the live-object count where it began.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "filter/input_pins.h"
#include "filter/velder_muxer.h"
#include "platform/com/runtime.h"
#include "platform/dshow/graph.h"
#include "platform/win/text.h"
#include "tests/filter/push_source.h"
#include "tests/recorder/writer_proxy.h"
#include "tests/registry/temp_machine_root.h"

namespace filter_test {

CMediaType VideoType(REFGUID subtype = FourCCGuid("MJPG"), REFGUID format = FORMAT_VideoInfo);
CMediaType AudioType(REFGUID subtype = MEDIASUBTYPE_PCM, REFGUID format = FORMAT_WaveFormatEx);

// A media sample over its own bytes, not from any allocator.
class TestSample final : public IMediaSample {
 public:
  explicit TestSample(REFERENCE_TIME start = 0, size_t size = 64, bool sync = true);
  HRESULT timeStatus = S_OK;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetPointer(BYTE** buffer) override;
  LONG STDMETHODCALLTYPE GetSize() override { return static_cast<LONG>(m_bytes.size()); }
  HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
  HRESULT STDMETHODCALLTYPE SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsSyncPoint() override { return m_sync ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetSyncPoint(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsPreroll() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetPreroll(BOOL) override { return E_NOTIMPL; }
  LONG STDMETHODCALLTYPE GetActualDataLength() override { return static_cast<LONG>(m_bytes.size()); }
  HRESULT STDMETHODCALLTYPE SetActualDataLength(LONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaType(AM_MEDIA_TYPE** type) override;
  HRESULT STDMETHODCALLTYPE SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsDiscontinuity() override { return S_FALSE; }
  HRESULT STDMETHODCALLTYPE SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
  HRESULT STDMETHODCALLTYPE SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

 private:
  REFERENCE_TIME m_start;
  std::vector<BYTE> m_bytes;
  bool m_sync;
};

struct Event {
  LONG code;
  LONG_PTR param1, param2;
};

class MuxerTest : public TempMachineRoot {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Connects a push source of `type` (no units) to the pin; the source joins the graph.
  HRESULT Connect(int pin, const CMediaType& type);
  // The events queued so far, in order.
  std::vector<Event> TakeEvents();
  std::vector<LONG> TakeEventCodes();

  CVelderMuxer* muxer = nullptr;
  IBaseFilter* filter = nullptr;  // the creator's one reference
  CXRenderedPin* Pin(int index) { return static_cast<CXRenderedPin*>(muxer->GetPin(index)); }
  IMemInputPin* Input(int index) { return static_cast<IMemInputPin*>(Pin(index)); }
  IPin* PinInterface(int index) { return static_cast<IPin*>(Pin(index)); }
  std::string OutputPath(const std::string& name) const { return root() + "/" + name; }

  recorder_test::WriterSeam* writer = nullptr;  // made before the filter, which makes the recorder
  IGraphBuilder* graph = nullptr;
  IMediaEvent* events = nullptr;
  std::vector<CPushSource*> sources;
  LONG objectsAtStart = 0;
};

}  // namespace filter_test
