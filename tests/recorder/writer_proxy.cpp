#include "writer_proxy.h"

#include <cstring>

#include "platform/com/ref_count.h"

namespace recorder_test {
namespace {

WriterScript* g_script = nullptr;

std::vector<ProfileStream> Snapshot(IWMProfile* profile) {
  std::vector<ProfileStream> streams;
  DWORD count = 0;
  profile->GetStreamCount(&count);
  for (DWORD i = 0; i < count; ++i) {
    IWMStreamConfig* config = nullptr;
    if (FAILED(profile->GetStream(i, &config))) continue;
    ProfileStream s;
    config->GetStreamType(&s.streamType);
    config->GetStreamNumber(&s.number);
    config->GetBitrate(&s.bitrate);
    config->GetBufferWindow(&s.bufferWindow);
    IWMMediaProps* props = nullptr;
    if (SUCCEEDED(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)))) {
      DWORD size = 0;
      props->GetMediaType(nullptr, &size);
      std::vector<BYTE> record(size);
      auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(record.data());
      if (size >= sizeof(WM_MEDIA_TYPE) && SUCCEEDED(props->GetMediaType(type, &size))) {
        s.majortype = type->majortype;
        s.subtype = type->subtype;
        s.formattype = type->formattype;
        s.hasObject = type->pUnk != nullptr;
        s.format.assign(type->pbFormat, type->pbFormat + type->cbFormat);
      }
      props->Release();
    }
    config->Release();
    streams.push_back(std::move(s));
  }
  return streams;
}

class SinkProxy final : public IWMWriterFileSink2, private RefCount {
 public:
  explicit SinkProxy(IWMWriterSink* inner) : m_inner(inner) {
    inner->QueryInterface(IID_IWMWriterFileSink2, reinterpret_cast<void**>(&m_file));
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    bool wantsSize = IsEqualGUID(riid, IID_IWMWriterFileSink2);
    if (wantsSize && (g_script->sinkWithoutSize || !m_file)) return E_NOINTERFACE;
    if (!wantsSize && !IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IWMWriterSink) &&
        !IsEqualGUID(riid, IID_IWMWriterFileSink))
      return E_NOINTERFACE;
    *ppv = static_cast<IWMWriterFileSink2*>(this);
    AddRef();
    return S_OK;
  }
  PLATFORM_REFCOUNT_METHODS

  HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer* header) override { return m_inner->OnHeader(header); }
  HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* realTime) override { return m_inner->IsRealTime(realTime); }
  HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD size, INSSBuffer** unit) override {
    return m_inner->AllocateDataUnit(size, unit);
  }
  HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer* unit) override { return m_inner->OnDataUnit(unit); }
  HRESULT STDMETHODCALLTYPE OnEndWriting() override { return m_inner->OnEndWriting(); }
  HRESULT STDMETHODCALLTYPE Open(const WCHAR* name) override { return m_file->Open(name); }
  HRESULT STDMETHODCALLTYPE Start(QWORD time) override { return m_file->Start(time); }
  HRESULT STDMETHODCALLTYPE Stop(QWORD time) override { return m_file->Stop(time); }
  HRESULT STDMETHODCALLTYPE IsStopped(BOOL* stopped) override { return m_file->IsStopped(stopped); }
  HRESULT STDMETHODCALLTYPE GetFileDuration(QWORD* duration) override { return m_file->GetFileDuration(duration); }
  HRESULT STDMETHODCALLTYPE GetFileSize(QWORD* size) override {
    if (!g_script->fileSizes.empty()) {
      *size = g_script->fileSizes.front();
      g_script->fileSizes.pop_front();
      return S_OK;
    }
    return m_file->GetFileSize(size);
  }
  HRESULT STDMETHODCALLTYPE Close() override { return m_file->Close(); }
  HRESULT STDMETHODCALLTYPE IsClosed(BOOL* closed) override { return m_file->IsClosed(closed); }

 private:
  ~SinkProxy() override {
    if (m_file) m_file->Release();
    m_inner->Release();
  }
  IWMWriterSink* m_inner;
  IWMWriterFileSink2* m_file = nullptr;
};

class WriterProxy final : public IWMWriter, public IWMWriterAdvanced, public IWMHeaderInfo, private RefCount {
 public:
  WriterProxy(IWMWriter* inner, int index) : m_index(index), m_writer(inner) {
    inner->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&m_advanced));
    inner->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&m_header));
    ++g_script->writersAlive;
  }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWMWriter)) {
      *ppv = static_cast<IWMWriter*>(this);
    } else if (IsEqualGUID(riid, IID_IWMWriterAdvanced) && !g_script->failAdvancedQuery) {
      *ppv = static_cast<IWMWriterAdvanced*>(this);
    } else if (IsEqualGUID(riid, IID_IWMHeaderInfo) && !g_script->failHeaderInfoQuery) {
      *ppv = static_cast<IWMHeaderInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  PLATFORM_REFCOUNT_METHODS

  // IWMWriter
  HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID id) override { return m_writer->SetProfileByID(id); }
  HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* profile) override {
    g_script->profiles.push_back(Snapshot(profile));
    return m_writer->SetProfile(profile);
  }
  HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* name) override {
    g_script->outputNames.emplace_back(name);
    if (FAILED(g_script->outputNameStatus)) return g_script->outputNameStatus;
    return m_writer->SetOutputFilename(name);
  }
  HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* count) override { return m_writer->GetInputCount(count); }
  HRESULT STDMETHODCALLTYPE GetInputProps(DWORD input, IWMInputMediaProps** props) override {
    return m_writer->GetInputProps(input, props);
  }
  HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, IWMInputMediaProps* props) override {
    return m_writer->SetInputProps(input, props);
  }
  HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD input, DWORD* count) override {
    return m_writer->GetInputFormatCount(input, count);
  }
  HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD input, DWORD format, IWMInputMediaProps** props) override {
    return m_writer->GetInputFormat(input, format, props);
  }
  HRESULT STDMETHODCALLTYPE BeginWriting() override {
    if (g_script->onBeginWriting) g_script->onBeginWriting();
    if (FAILED(g_script->beginStatus)) return g_script->beginStatus;
    HRESULT hr = m_writer->BeginWriting();
    if (SUCCEEDED(hr)) ++g_script->begins;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE EndWriting() override {
    HRESULT hr = m_writer->EndWriting();
    if (SUCCEEDED(hr)) ++g_script->ends;
    // The file is ended for real; the failure stands for a final write that did not make it.
    if (SUCCEEDED(hr) && FAILED(g_script->endStatus)) return g_script->endStatus;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** sample) override {
    ++g_script->allocations;
    if (FAILED(g_script->allocateStatus)) return g_script->allocateStatus;
    return m_writer->AllocateSample(size, sample);
  }
  HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, QWORD time, DWORD flags, INSSBuffer* sample) override {
    return m_writer->WriteSample(input, time, flags, sample);
  }
  HRESULT STDMETHODCALLTYPE Flush() override { return m_writer->Flush(); }

  // IWMWriterAdvanced
  HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD* count) override { return m_advanced->GetSinkCount(count); }
  HRESULT STDMETHODCALLTYPE GetSink(DWORD index, IWMWriterSink** sink) override {
    if (!sink) return E_POINTER;
    *sink = nullptr;
    if (FAILED(g_script->getSinkStatus)) return g_script->getSinkStatus;
    if (g_script->nullSink) return S_OK;
    IWMWriterSink* inner = nullptr;
    HRESULT hr = m_advanced->GetSink(index, &inner);
    if (FAILED(hr)) return hr;
    *sink = new SinkProxy(inner);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink* sink) override { return m_advanced->AddSink(sink); }
  HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink* sink) override { return m_advanced->RemoveSink(sink); }
  HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD stream, QWORD time, DWORD sendTime, QWORD duration, DWORD flags,
                                              INSSBuffer* sample) override {
    BYTE* data = nullptr;
    DWORD length = 0;
    sample->GetBufferAndLength(&data, &length);
    HRESULT hr = m_advanced->WriteStreamSample(stream, time, sendTime, duration, flags, sample);
    g_script->samples.push_back({m_index, stream, time, sendTime, duration, flags, {data, data + length}, hr});
    return hr;
  }
  HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL live) override { return m_advanced->SetLiveSource(live); }
  HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* realTime) override { return m_advanced->IsRealTime(realTime); }
  HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD* time) override { return m_advanced->GetWriterTime(time); }
  HRESULT STDMETHODCALLTYPE GetStatistics(WORD stream, WM_WRITER_STATISTICS* stats) override {
    return m_advanced->GetStatistics(stream, stats);
  }
  HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD window) override { return m_advanced->SetSyncTolerance(window); }
  HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD* window) override { return m_advanced->GetSyncTolerance(window); }

  // IWMHeaderInfo
  HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD stream, WORD* count) override {
    return m_header->GetAttributeCount(stream, count);
  }
  HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD index, WORD* stream, WCHAR* name, WORD* nameLength,
                                                WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length) override {
    return m_header->GetAttributeByIndex(index, stream, name, nameLength, type, value, length);
  }
  HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* stream, LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                               WORD* length) override {
    return m_header->GetAttributeByName(stream, name, type, value, length);
  }
  HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value,
                                         WORD length) override {
    if (stream == 0 && type == WMT_TYPE_STRING && std::u16string_view(name) == u"Title")
      g_script->titles.emplace_back(reinterpret_cast<const char16_t*>(value), length / 2);
    return m_header->SetAttribute(stream, name, type, value, length);
  }
  HRESULT STDMETHODCALLTYPE GetMarkerCount(WORD* count) override { return m_header->GetMarkerCount(count); }
  HRESULT STDMETHODCALLTYPE GetMarker(WORD index, WCHAR* name, WORD* nameLength, QWORD* time) override {
    return m_header->GetMarker(index, name, nameLength, time);
  }
  HRESULT STDMETHODCALLTYPE AddMarker(WCHAR* name, QWORD time) override { return m_header->AddMarker(name, time); }
  HRESULT STDMETHODCALLTYPE RemoveMarker(WORD index) override { return m_header->RemoveMarker(index); }
  HRESULT STDMETHODCALLTYPE GetScriptCount(WORD* count) override { return m_header->GetScriptCount(count); }
  HRESULT STDMETHODCALLTYPE GetScript(WORD index, WCHAR* type, WORD* typeLength, WCHAR* command, WORD* commandLength,
                                      QWORD* time) override {
    return m_header->GetScript(index, type, typeLength, command, commandLength, time);
  }
  HRESULT STDMETHODCALLTYPE AddScript(WCHAR* type, WCHAR* command, QWORD time) override {
    return m_header->AddScript(type, command, time);
  }
  HRESULT STDMETHODCALLTYPE RemoveScript(WORD index) override { return m_header->RemoveScript(index); }

 private:
  ~WriterProxy() override {
    --g_script->writersAlive;
    m_header->Release();
    m_advanced->Release();
    m_writer->Release();
  }
  int m_index;
  IWMWriter* m_writer;
  IWMWriterAdvanced* m_advanced = nullptr;
  IWMHeaderInfo* m_header = nullptr;
};

class ProfileManagerProxy final : public IWMProfileManager, private RefCount {
 public:
  explicit ProfileManagerProxy(IWMProfileManager* inner) : m_inner(inner) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualGUID(riid, IID_IUnknown) && !IsEqualGUID(riid, IID_IWMProfileManager)) return E_NOINTERFACE;
    *ppv = static_cast<IWMProfileManager*>(this);
    AddRef();
    return S_OK;
  }
  PLATFORM_REFCOUNT_METHODS

  HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override {
    HRESULT hr = m_inner->CreateEmptyProfile(version, profile);
    if (SUCCEEDED(hr) && g_script) ++g_script->profilesCreated;
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID id, IWMProfile** profile) override {
    return m_inner->LoadProfileByID(id, profile);
  }
  HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR* data, IWMProfile** profile) override {
    return m_inner->LoadProfileByData(data, profile);
  }
  HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile* profile, WCHAR* data, DWORD* length) override {
    return m_inner->SaveProfile(profile, data, length);
  }
  HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* count) override {
    return m_inner->GetSystemProfileCount(count);
  }
  HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD index, IWMProfile** profile) override {
    return m_inner->LoadSystemProfile(index, profile);
  }

 private:
  ~ProfileManagerProxy() override { m_inner->Release(); }
  IWMProfileManager* m_inner;
};

HRESULT CreateProxyWriter(IUnknown* certificate, IWMWriter** writer) {
  if (!writer) return E_POINTER;
  *writer = nullptr;
  if (FAILED(g_script->createStatus)) return g_script->createStatus;
  IWMWriter* inner = nullptr;
  HRESULT hr = CreateRuntimeWriter(certificate, &inner);
  if (FAILED(hr)) return hr;
  *writer = new WriterProxy(inner, g_script->writersCreated++);
  return S_OK;
}

HRESULT CreateProxyProfileManager(IWMProfileManager** manager) {
  if (!manager) return E_POINTER;
  *manager = nullptr;
  IWMProfileManager* inner = nullptr;
  HRESULT hr = CreateRuntimeProfileManager(&inner);
  if (FAILED(hr)) return hr;
  *manager = new ProfileManagerProxy(inner);
  return S_OK;
}

HRESULT RefuseProfileManager(IWMProfileManager** manager) {
  if (manager) *manager = nullptr;
  return E_OUTOFMEMORY;
}

}  // namespace

int WriterScript::CountSamples(WORD stream, int writer) const {
  int n = 0;
  for (const WrittenSample& s : samples)
    if (s.stream == stream && (writer < 0 || s.writer == writer)) ++n;
  return n;
}

WriterSeam::WriterSeam() {
  g_script = &script;
  SetWriterFactory(CreateProxyWriter);
  SetProfileManagerFactory(CreateProxyProfileManager);
}

WriterSeam::~WriterSeam() {
  SetWriterFactory(nullptr);
  SetProfileManagerFactory(nullptr);
  g_script = nullptr;
}

NoProfileManager::NoProfileManager() { SetProfileManagerFactory(RefuseProfileManager); }
NoProfileManager::~NoProfileManager() { SetProfileManagerFactory(nullptr); }

}  // namespace recorder_test
