#include "platform/wmf/writer.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/win/text.h"
#include "platform/wmf/factory_seam.h"

namespace {

// The video stream's BITMAPINFOHEADER as the file carries it, codec-specific bytes after it.
std::vector<BYTE> VideoFormatBytes(const WM_MEDIA_TYPE& type, int32_t* width, int32_t* height,
                                   int64_t* averageTimePerFrame) {
  BITMAPINFOHEADER bmi;
  const BYTE* extra = nullptr;
  size_t extraLength = 0;
  if (IsEqualGUID(type.formattype, FORMAT_MPEG2Video)) {
    auto* info = reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat);
    std::memcpy(&bmi, &info->hdr.bmiHeader, sizeof bmi);
    *averageTimePerFrame = info->hdr.AvgTimePerFrame;
    extra = reinterpret_cast<const BYTE*>(info->dwSequenceHeader);
    extraLength = info->cbSequenceHeader;
  } else {
    auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    std::memcpy(&bmi, &info->bmiHeader, sizeof bmi);
    *averageTimePerFrame = info->AvgTimePerFrame;
    extra = type.pbFormat + sizeof(VIDEOINFOHEADER);
    extraLength = type.cbFormat - sizeof(VIDEOINFOHEADER);
  }
  // The subtype names the codec; players pick their decoder by this code.
  if (IsFourCCGuid(type.subtype)) bmi.biCompression = type.subtype.Data1;
  bmi.biSize = static_cast<DWORD>(sizeof bmi + extraLength);
  *width = bmi.biWidth;
  int64_t height64 = bmi.biHeight;  // negative for a top-down image
  *height = static_cast<int32_t>(std::min<int64_t>(height64 < 0 ? -height64 : height64, INT32_MAX));
  std::vector<BYTE> bytes(sizeof bmi + extraLength);
  std::memcpy(bytes.data(), &bmi, sizeof bmi);
  if (extraLength) std::memcpy(bytes.data() + sizeof bmi, extra, extraLength);
  return bytes;
}

std::vector<BYTE> AudioFormatBytes(const WM_MEDIA_TYPE& type) {
  auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
  return std::vector<BYTE>(type.pbFormat, type.pbFormat + sizeof(WAVEFORMATEX) + wave->cbSize);
}

}  // namespace

Writer* Writer::Create() {
  auto* writer = new (std::nothrow) Writer;
  if (!writer) return nullptr;
  writer->m_pool = BufferPool::Create();
  if (!writer->m_pool) {
    writer->Release();
    return nullptr;
  }
  return writer;
}

Writer::~Writer() {
  if (m_sink) m_sink->Release();
  if (m_pool) m_pool->Release();
}

HRESULT Writer::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWMWriter)) {
    *ppv = static_cast<IWMWriter*>(this);
  } else if (IsEqualGUID(riid, IID_IWMWriterAdvanced)) {
    *ppv = static_cast<IWMWriterAdvanced*>(this);
  } else if (IsEqualGUID(riid, IID_IWMHeaderInfo)) {
    *ppv = static_cast<IWMHeaderInfo*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

// --- IWMWriter ----------------------------------------------------------------------------------

HRESULT Writer::SetProfileByID(REFGUID) { return E_NOTIMPL; }

HRESULT Writer::SetProfile(IWMProfile* profile) {
  if (!profile) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  if (m_writing) return NS_E_INVALID_REQUEST;
  DWORD count = 0;
  HRESULT hr = profile->GetStreamCount(&count);
  if (FAILED(hr)) return hr;
  std::vector<Stream> streams;
  try {
    for (DWORD i = 0; i < count; ++i) {
      IWMStreamConfig* config = nullptr;
      hr = profile->GetStream(i, &config);
      if (FAILED(hr)) return hr;
      Stream stream{};
      config->GetStreamType(&stream.streamType);
      config->GetStreamNumber(&stream.number);
      config->GetBitrate(&stream.bitrate);
      config->GetBufferWindow(&stream.bufferWindow);
      IWMMediaProps* props = nullptr;
      hr = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
      config->Release();
      if (FAILED(hr)) return hr;
      DWORD size = 0;
      hr = props->GetMediaType(nullptr, &size);
      std::vector<BYTE> record(SUCCEEDED(hr) ? size : 0);
      if (SUCCEEDED(hr)) hr = props->GetMediaType(reinterpret_cast<WM_MEDIA_TYPE*>(record.data()), &size);
      props->Release();
      if (FAILED(hr)) return hr;
      hr = stream.mediaType.Assign(*reinterpret_cast<WM_MEDIA_TYPE*>(record.data()));
      if (FAILED(hr)) return hr;
      if (!IsWritableMediaType(stream.streamType, stream.mediaType.Record())) return NS_E_INVALID_INPUT_FORMAT;
      streams.push_back(std::move(stream));
    }
    m_streams = std::move(streams);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Writer::SetOutputFilename(const WCHAR* fileName) {
  if (!fileName) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  if (m_writing) return NS_E_INVALID_REQUEST;
  if (!m_sink) {
    m_sink = FileSink::Create();
    if (!m_sink) return E_OUTOFMEMORY;
  }
  return m_sink->Open(fileName);
}

HRESULT Writer::GetInputCount(DWORD* count) {
  if (!count) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *count = static_cast<DWORD>(m_streams.size());
  return S_OK;
}

// Inputs take samples as they come; there is no encoder and so no input format to choose.
HRESULT Writer::GetInputProps(DWORD input, IWMInputMediaProps** props) {
  if (!props) return E_POINTER;
  *props = nullptr;
  CriticalSectionLock hold(m_lock);
  return input < m_streams.size() ? E_NOTIMPL : E_INVALIDARG;
}

HRESULT Writer::SetInputProps(DWORD input, IWMInputMediaProps* props) {
  CriticalSectionLock hold(m_lock);
  if (input >= m_streams.size()) return E_INVALIDARG;
  if (m_writing) return NS_E_INVALID_REQUEST;
  return props ? E_NOTIMPL : S_OK;
}

HRESULT Writer::GetInputFormatCount(DWORD input, DWORD* count) {
  if (!count) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  if (input >= m_streams.size()) return E_INVALIDARG;
  *count = 0;
  return S_OK;
}

HRESULT Writer::GetInputFormat(DWORD, DWORD, IWMInputMediaProps** props) {
  if (!props) return E_POINTER;
  *props = nullptr;
  return E_INVALIDARG;
}

HRESULT Writer::BuildOptions(asf::WriterOptions* options) const {
  for (const Attribute& attribute : m_attributes) {
    if (attribute.stream == 0 && attribute.type == WMT_TYPE_STRING && attribute.name == u"Title") {
      options->title.assign(reinterpret_cast<const char16_t*>(attribute.value.data()), attribute.value.size() / 2);
      while (!options->title.empty() && options->title.back() == 0) options->title.pop_back();
    }
  }
  for (const Stream& stream : m_streams) {
    asf::StreamDescription description;
    description.number = stream.number;
    description.bitrate = stream.bitrate;
    description.bufferWindowMs = stream.bufferWindow;
    const WM_MEDIA_TYPE& type = stream.mediaType.Record();
    if (IsEqualGUID(stream.streamType, MEDIATYPE_Audio)) {
      description.kind = asf::StreamKind::Audio;
      description.format = AudioFormatBytes(type);
    } else {
      description.kind = asf::StreamKind::Video;
      description.format =
          VideoFormatBytes(type, &description.width, &description.height, &description.averageTimePerFrame);
    }
    if (options->prerollMs < stream.bufferWindow) options->prerollMs = stream.bufferWindow;
    options->streams.push_back(std::move(description));
  }
  return S_OK;
}

HRESULT Writer::BeginWriting() {
  CriticalSectionLock hold(m_lock);
  if (m_writing) return NS_E_INVALID_REQUEST;
  if (m_streams.empty() || !m_sink || !m_sink->HasFileName()) return NS_E_NOT_CONFIGURED;
  asf::WriterOptions options;
  try {
    BuildOptions(&options);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  HRESULT hr = m_sink->BeginFile(options);
  if (FAILED(hr)) return hr;
  for (Stream& stream : m_streams) stream.stats = WM_WRITER_STATISTICS{};
  m_writing = true;
  return S_OK;
}

HRESULT Writer::EndWriting() {
  CriticalSectionLock hold(m_lock);
  if (!m_writing) return NS_E_INVALID_REQUEST;
  m_writing = false;
  return m_sink->EndFile();
}

HRESULT Writer::AllocateSample(DWORD size, INSSBuffer** sample) { return m_pool->Allocate(size, sample); }

Writer::Stream* Writer::FindStream(WORD number) {
  for (Stream& stream : m_streams)
    if (stream.number == number) return &stream;
  return nullptr;
}

HRESULT Writer::WriteBuffer(Stream& stream, int64_t sampleTime, int64_t duration, DWORD flags, INSSBuffer* sample) {
  BYTE* data = nullptr;
  DWORD length = 0;
  HRESULT hr = sample->GetBufferAndLength(&data, &length);
  if (FAILED(hr)) return hr;
  hr = m_sink->WriteSample(stream.number, sampleTime, duration, flags, data, length);
  if (hr == S_OK) {
    stream.stats.qwSampleCount++;
    stream.stats.qwByteCount += length;
  } else if (FAILED(hr)) {
    stream.stats.qwDroppedSampleCount++;
    stream.stats.qwDroppedByteCount += length;
  }
  return hr;
}

HRESULT Writer::WriteSample(DWORD input, QWORD sampleTime, DWORD flags, INSSBuffer* sample) {
  if (!sample) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  if (!m_writing) return NS_E_INVALID_REQUEST;
  if (input >= m_streams.size()) return E_INVALIDARG;
  return WriteBuffer(m_streams[input], static_cast<int64_t>(sampleTime), 0, flags, sample);
}

HRESULT Writer::Flush() {
  CriticalSectionLock hold(m_lock);
  return m_writing ? S_OK : NS_E_INVALID_REQUEST;
}

// --- IWMWriterAdvanced --------------------------------------------------------------------------

HRESULT Writer::GetSinkCount(DWORD* count) {
  if (!count) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *count = m_sink ? 1 : 0;
  return S_OK;
}

HRESULT Writer::GetSink(DWORD index, IWMWriterSink** sink) {
  if (!sink) return E_POINTER;
  *sink = nullptr;
  CriticalSectionLock hold(m_lock);
  if (index != 0 || !m_sink) return E_INVALIDARG;
  m_sink->AddRef();
  *sink = m_sink;
  return S_OK;
}

// The file sink that SetOutputFilename makes is the only kind of sink.
HRESULT Writer::AddSink(IWMWriterSink* sink) { return sink ? E_NOTIMPL : E_POINTER; }

HRESULT Writer::RemoveSink(IWMWriterSink* sink) {
  CriticalSectionLock hold(m_lock);
  if (m_writing) return NS_E_INVALID_REQUEST;
  if (!m_sink || (sink && sink != static_cast<IWMWriterSink*>(m_sink))) return E_INVALIDARG;
  m_sink->Release();
  m_sink = nullptr;
  return S_OK;
}

HRESULT Writer::WriteStreamSample(WORD number, QWORD sampleTime, DWORD, QWORD duration, DWORD flags,
                                  INSSBuffer* sample) {
  if (!sample) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  if (!m_writing) return NS_E_INVALID_REQUEST;
  Stream* stream = FindStream(number);
  if (!stream) return NS_E_INVALID_STREAM;
  // Callers pass signed times through the unsigned argument; the file keeps them signed.
  return WriteBuffer(*stream, static_cast<int64_t>(sampleTime), static_cast<int64_t>(duration), flags, sample);
}

HRESULT Writer::SetLiveSource(BOOL) { return S_OK; }

HRESULT Writer::IsRealTime(BOOL* realTime) {
  if (!realTime) return E_POINTER;
  *realTime = FALSE;
  return S_OK;
}

HRESULT Writer::GetWriterTime(QWORD* time) {
  if (!time) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *time = 0;
  if (m_sink) m_sink->GetFileDuration(time);
  return S_OK;
}

HRESULT Writer::GetStatistics(WORD number, WM_WRITER_STATISTICS* stats) {
  if (!stats) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *stats = WM_WRITER_STATISTICS{};
  if (number != 0) {
    Stream* stream = FindStream(number);
    if (!stream) return NS_E_INVALID_STREAM;
    *stats = stream->stats;
    return S_OK;
  }
  for (const Stream& stream : m_streams) {
    stats->qwSampleCount += stream.stats.qwSampleCount;
    stats->qwByteCount += stream.stats.qwByteCount;
    stats->qwDroppedSampleCount += stream.stats.qwDroppedSampleCount;
    stats->qwDroppedByteCount += stream.stats.qwDroppedByteCount;
  }
  return S_OK;
}

HRESULT Writer::SetSyncTolerance(DWORD window) {
  CriticalSectionLock hold(m_lock);
  m_syncTolerance = window;
  return S_OK;
}

HRESULT Writer::GetSyncTolerance(DWORD* window) {
  if (!window) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *window = m_syncTolerance;
  return S_OK;
}

// --- IWMHeaderInfo ------------------------------------------------------------------------------

HRESULT Writer::GetAttributeCount(WORD stream, WORD* count) {
  if (!count) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  WORD n = 0;
  for (const Attribute& attribute : m_attributes)
    if (attribute.stream == stream) ++n;
  *count = n;
  return S_OK;
}

HRESULT Writer::GetAttributeByIndex(WORD index, WORD* stream, WCHAR* name, WORD* nameLength, WMT_ATTR_DATATYPE* type,
                                    BYTE* value, WORD* length) {
  if (!stream || !nameLength || !type || !length) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  WORD seen = 0;
  for (const Attribute& attribute : m_attributes) {
    if (attribute.stream != *stream) continue;
    if (seen++ != index) continue;
    WORD nameNeeded = static_cast<WORD>(attribute.name.size() + 1);
    WORD valueNeeded = static_cast<WORD>(attribute.value.size());
    if ((name && *nameLength < nameNeeded) || (value && *length < valueNeeded)) {
      *nameLength = nameNeeded;
      *length = valueNeeded;
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    if (name) {
      attribute.name.copy(name, attribute.name.size());
      name[attribute.name.size()] = 0;
    }
    if (value && valueNeeded) std::memcpy(value, attribute.value.data(), valueNeeded);
    *nameLength = nameNeeded;
    *length = valueNeeded;
    *type = attribute.type;
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT Writer::GetAttributeByName(WORD* stream, LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length) {
  if (!stream || !name || !type || !length) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  for (const Attribute& attribute : m_attributes) {
    if (attribute.stream != *stream || attribute.name != name) continue;
    WORD needed = static_cast<WORD>(attribute.value.size());
    if (value && *length < needed) {
      *length = needed;
      return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    if (value && needed) std::memcpy(value, attribute.value.data(), needed);
    *length = needed;
    *type = attribute.type;
    return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT Writer::SetAttribute(WORD stream, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value, WORD length) {
  if (!name || (length && !value)) return E_POINTER;
  if (name[0] == 0 || type > WMT_TYPE_GUID) return E_INVALIDARG;
  CriticalSectionLock hold(m_lock);
  // The header is written when writing begins; later attributes could not reach the file.
  if (m_writing) return NS_E_INVALID_REQUEST;
  try {
    for (Attribute& attribute : m_attributes) {
      if (attribute.stream == stream && attribute.name == name) {
        attribute.type = type;
        attribute.value.assign(value, value + length);
        return S_OK;
      }
    }
    m_attributes.push_back(Attribute{stream, name, type, std::vector<BYTE>(value, value + length)});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

// Markers and script commands are not written by this runtime.
HRESULT Writer::GetMarkerCount(WORD* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
HRESULT Writer::GetMarker(WORD, WCHAR*, WORD*, QWORD*) { return E_INVALIDARG; }
HRESULT Writer::AddMarker(WCHAR*, QWORD) { return E_NOTIMPL; }
HRESULT Writer::RemoveMarker(WORD) { return E_INVALIDARG; }
HRESULT Writer::GetScriptCount(WORD* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
HRESULT Writer::GetScript(WORD, WCHAR*, WORD*, WCHAR*, WORD*, QWORD*) { return E_INVALIDARG; }
HRESULT Writer::AddScript(WCHAR*, WCHAR*, QWORD) { return E_NOTIMPL; }
HRESULT Writer::RemoveScript(WORD) { return E_INVALIDARG; }

static std::atomic<WriterFactory> g_writerFactory{nullptr};

void SetWriterFactory(WriterFactory factory) { g_writerFactory.store(factory); }

HRESULT CreateRuntimeWriter(IUnknown*, IWMWriter** writer) {
  if (!writer) return E_POINTER;
  *writer = Writer::Create();
  return *writer ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT WMCreateWriter(IUnknown* certificate, IWMWriter** writer) {
  if (writer) *writer = nullptr;
  if (WriterFactory factory = g_writerFactory.load()) return factory(certificate, writer);
  return CreateRuntimeWriter(certificate, writer);
}
