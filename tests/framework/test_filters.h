// Filters for tests, built on the framework: a source whose output pin connects to an input pin
// through ReceiveConnection, takes that pin's allocator and pushes samples on its own streaming
// thread; a sink whose rendered input pins record what reaches them and can be made to fail.
// Reusable by every test that needs a peer or a whole graph.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/basefilter.h"
#include "framework/inputpin.h"

namespace testing_filters {

inline constexpr CLSID CLSID_TestSource = MakeGuid("6B1D3A10-0C1E-4E55-9C55-5A1D7E0A0001");
inline constexpr CLSID CLSID_TestSink = MakeGuid("6B1D3A10-0C1E-4E55-9C55-5A1D7E0A0002");

// A video type with a VIDEOINFOHEADER of the given width.
CMediaType VideoType(LONG width = 320, REFGUID subtype = FourCCGuid("h264"));
CMediaType AudioType(DWORD rate = 48000);

// What one pushed sample carries.
struct PushedSample {
  std::vector<BYTE> data;
  REFERENCE_TIME start = -1, stop = -1;  // -1: no time
  bool syncPoint = false;
  bool discontinuity = false;
  const AM_MEDIA_TYPE* typeChange = nullptr;  // a new type carried by the sample
};

class CTestSourceFilter;

class CTestOutputPin final : public CBasePin {
 public:
  CTestOutputPin(CTestSourceFilter* filter, CRITICAL_SECTION* lock, LPCWSTR name);
  ~CTestOutputPin() override;

  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT CompleteConnect(IPin* peer) override;
  HRESULT BreakConnect() override;
  HRESULT Active() override;
  HRESULT Inactive() override;

  HRESULT STDMETHODCALLTYPE EndOfStream() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE BeginFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE EndFlush() override { return E_UNEXPECTED; }
  HRESULT STDMETHODCALLTYPE Notify(IBaseFilter*, Quality) override { return E_NOTIMPL; }

  // The types offered (and the only ones accepted), in order.
  std::vector<CMediaType> offered;
  // Answers IMediaSeeking and IMediaPosition queries when set (not counted).
  IUnknown* seeking = nullptr;
  LONG bufferSize = 4096;
  LONG bufferCount = 2;

  // Pushes the samples on a new streaming thread, then an end of stream when asked.
  void Push(std::vector<PushedSample> samples, bool endOfStream);
  // Waits for the streaming thread; the results of its Receive calls in order.
  std::vector<HRESULT> Join();
  IMemAllocator* Allocator() const { return m_allocator; }

 private:
  void Stream(std::vector<PushedSample> samples, bool endOfStream);

  IMemInputPin* m_input = nullptr;
  IMemAllocator* m_allocator = nullptr;
  std::thread m_thread;
  std::mutex m_resultsLock;
  std::vector<HRESULT> m_results;
};

class CTestSourceFilter final : public CBaseFilter {
 public:
  CTestSourceFilter();
  ~CTestSourceFilter() override;
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int index) override { return index == 0 ? m_pin : nullptr; }
  CTestOutputPin* Output() { return m_pin; }
  // The filter as its creator holds it: one reference.
  IBaseFilter* Interface() { return static_cast<IBaseFilter*>(this); }

 private:
  CRITICAL_SECTION m_lock;
  CTestOutputPin* m_pin;
};

class CTestSinkFilter;

// A rendered input pin that records the calls the filter makes on it.
class CTestInputPin final : public CRenderedInputPin {
 public:
  CTestInputPin(CTestSinkFilter* filter, CRITICAL_SECTION* lock, LPCWSTR name);

  HRESULT CheckMediaType(const AM_MEDIA_TYPE* type) override;
  HRESULT GetMediaType(int position, CMediaType* type) override;
  HRESULT BreakConnect() override;
  HRESULT CompleteConnect(IPin* peer) override;
  HRESULT Active() override;
  HRESULT Inactive() override;
  HRESULT Run(REFERENCE_TIME start) override;
  HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;

  // The answer CheckMediaType gives; by default S_OK for video, E_FAIL otherwise.
  std::function<HRESULT(const AM_MEDIA_TYPE*)> accept;
  std::vector<CMediaType> offered;
  HRESULT activeResult = S_OK, inactiveResult = S_OK, runResult = S_OK, completeResult = S_OK;
  std::vector<HRESULT> receiveResults;  // what Receive answers, in turn, after the base checks pass
  std::vector<std::string> calls;  // "Active", "Inactive", "Run", "BreakConnect"...
  std::atomic<int> received{0};
  std::vector<AM_SAMPLE2_PROPERTIES> properties;  // of each sample that passed the base checks
  std::mutex lock;

  void BumpTypeVersion() { ++m_TypeVersion; }
  void Record(const char* call) {
    std::lock_guard<std::mutex> hold(lock);
    calls.push_back(call);
  }
};

class CTestSinkFilter final : public CBaseFilter {
 public:
  explicit CTestSinkFilter(int pins = 1, IUnknown* outer = nullptr);
  ~CTestSinkFilter() override;
  int GetPinCount() override { return static_cast<int>(m_pins.size()); }
  CBasePin* GetPin(int index) override;
  CTestInputPin* Input(int index = 0) { return m_pins[index]; }
  IBaseFilter* Interface() { return static_cast<IBaseFilter*>(this); }
  CRITICAL_SECTION* Lock() { return &m_lock; }
  void BumpPinVersion() { ++m_PinVersion; }
  bool dropLast = false;
  int pauseCalls = 0;
  HRESULT STDMETHODCALLTYPE Pause() override {
    ++pauseCalls;
    return CBaseFilter::Pause();
  }

 private:
  CRITICAL_SECTION m_lock;
  std::vector<CTestInputPin*> m_pins;
};

// Creates a filter with one reference, as a class factory would.
template <class Filter, class... Args>
Filter* Create(Args&&... args) {
  auto* filter = new Filter(std::forward<Args>(args)...);
  filter->NonDelegatingAddRef();
  return filter;
}

}  // namespace testing_filters
