#include "tests/filter/muxer_fixture.h"

#include <cstring>

namespace filter_test {

CMediaType VideoType(REFGUID subtype, REFGUID format) {
  CMediaType type;
  type.SetType(MEDIATYPE_Video);
  type.SetSubtype(subtype);
  type.SetFormatType(format);
  VIDEOINFOHEADER info{};
  info.AvgTimePerFrame = 400000;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 160;
  info.bmiHeader.biHeight = 120;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = IsFourCCGuid(subtype) ? subtype.Data1 : 0;
  if (format == FORMAT_MPEG2Video) {
    MPEG2VIDEOINFO mpeg2{};
    std::memcpy(&mpeg2.hdr.bmiHeader, &info.bmiHeader, sizeof info.bmiHeader);
    mpeg2.hdr.AvgTimePerFrame = info.AvgTimePerFrame;
    type.SetFormat(&mpeg2, offsetof(MPEG2VIDEOINFO, dwSequenceHeader));
  } else {
    type.SetFormat(&info, sizeof info);
  }
  return type;
}

CMediaType AudioType(REFGUID subtype, REFGUID format) {
  CMediaType type;
  type.SetType(MEDIATYPE_Audio);
  type.SetSubtype(subtype);
  type.SetFormatType(format);
  WAVEFORMATEX wave{1, 2, 16000, 64000, 4, 16, 0};
  type.SetFormat(&wave, sizeof wave);
  return type;
}

TestSample::TestSample(REFERENCE_TIME start, size_t size, bool sync)
    : m_start(start), m_bytes(size, 0x5A), m_sync(sync) {}

HRESULT TestSample::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IMediaSample) return E_NOINTERFACE;
  *ppv = static_cast<IMediaSample*>(this);
  return S_OK;
}

HRESULT TestSample::GetPointer(BYTE** buffer) {
  if (!buffer) return E_POINTER;
  *buffer = m_bytes.data();
  return S_OK;
}

HRESULT TestSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) {
  if (FAILED(timeStatus)) return timeStatus;
  *start = m_start;
  *end = m_start + 400000;
  return S_OK;
}

HRESULT TestSample::GetMediaType(AM_MEDIA_TYPE** type) {
  *type = nullptr;
  return S_FALSE;
}

void MuxerTest::SetUp() {
  TempMachineRoot::SetUp();
  objectsAtStart = CBaseObject::ObjectsActive();
  writer = new recorder_test::WriterSeam;
  HRESULT hr = E_FAIL;
  CUnknown* object = CVelderMuxer::CreateInstance(nullptr, &hr);
  ASSERT_EQ(S_OK, hr);
  ASSERT_NE(nullptr, object);
  ASSERT_EQ(S_OK, object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
  muxer = static_cast<CVelderMuxer*>(filter);
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   reinterpret_cast<void**>(&graph)));
  ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
  // Every EC_COMPLETE the filter raises reaches the queue as it was raised.
  events->CancelDefaultHandling(EC_COMPLETE);
  ASSERT_EQ(S_OK, graph->AddFilter(filter, u"muxer"));
  ASSERT_EQ(S_OK, muxer->SetFileName(Utf8ToWide(OutputPath("out.asf")).c_str(), nullptr));
}

void MuxerTest::TearDown() {
  if (filter) filter->Stop();
  for (CPushSource* source : sources) source->Filter()->Stop();
  SafeRelease(events);
  // The graph breaks the connections and lets go of its filters.
  SafeRelease(graph);
  for (CPushSource* source : sources) source->Filter()->Release();
  sources.clear();
  if (filter) {
    EXPECT_EQ(0u, filter->Release());
  }
  filter = nullptr;
  delete writer;
  EXPECT_EQ(objectsAtStart, CBaseObject::ObjectsActive()) << "a framework object outlived the test";
  TempMachineRoot::TearDown();
}

HRESULT MuxerTest::Connect(int pin, const CMediaType& type) {
  CPushSource* source = NewPushSource(type, {});
  sources.push_back(source);
  HRESULT hr = graph->AddFilter(source->Filter(), u"source");
  if (FAILED(hr)) return hr;
  return graph->ConnectDirect(source->Output(), PinInterface(pin), nullptr);
}

std::vector<Event> MuxerTest::TakeEvents() {
  std::vector<Event> taken;
  Event e;
  while (events->GetEvent(&e.code, &e.param1, &e.param2, 0) == S_OK) taken.push_back(e);
  return taken;
}

std::vector<LONG> MuxerTest::TakeEventCodes() {
  std::vector<LONG> codes;
  for (const Event& e : TakeEvents()) codes.push_back(e.code);
  return codes;
}

}  // namespace filter_test
