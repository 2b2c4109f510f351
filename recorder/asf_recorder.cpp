#include "recorder/asf_recorder.h"

#include <cmath>
#include <cstring>

#include "framework/mediatype.h"
#include "platform/com/taskmem.h"
#include "platform/win/text.h"
#include "recorder/media_types.h"
#include "recorder/key_frame_scan.h"

namespace {

constexpr double kDefaultFrameRate = 25.0;
constexpr REFERENCE_TIME kDefaultFrameTime = 400000;  // 25 frames per second
constexpr DWORD kCompressedBitrateCap = 15000000;
constexpr DWORD kOtherFormatBitrate = 500000;
constexpr REFERENCE_TIME kPacingLead = 10000000;  // one second
constexpr DWORD kMaxRate = 0xFFFFFFFF;

// A rate from a double: truncated toward zero with the low 32 bits kept, as a rate has always
// been formed, except that a rate beyond the 32-bit range saturates instead of wrapping.
DWORD TruncateRate(double value) {
  if (std::isnan(value)) return 0;
  if (value >= static_cast<double>(kMaxRate)) return kMaxRate;
  if (value <= -9.0e18) return 0;
  return static_cast<DWORD>(static_cast<uint64_t>(static_cast<int64_t>(value)));
}

DWORD SaturateRate(uint64_t value) { return value > kMaxRate ? kMaxRate : static_cast<DWORD>(value); }

int64_t AbsoluteHeight(LONG height) { return height < 0 ? -static_cast<int64_t>(height) : height; }

// Whether one stream's time runs more than `lead` ahead of the other's. Compared without signed
// overflow: times far apart must not wrap into a lead of the other stream.
bool IsAheadBy(REFERENCE_TIME time, REFERENCE_TIME other, REFERENCE_TIME lead) {
  return time > other && static_cast<uint64_t>(time) - static_cast<uint64_t>(other) > static_cast<uint64_t>(lead);
}

// The frame rate from the frame duration; a missing duration becomes 25 frames per second.
double FrameRate(REFERENCE_TIME* averageTimePerFrame) {
  if (*averageTimePerFrame > 0) return 10000000.0 / static_cast<double>(*averageTimePerFrame);
  *averageTimePerFrame = kDefaultFrameTime;
  return kDefaultFrameRate;
}

}  // namespace

CASFRecorder::CASFRecorder(CRecorderOwner* owner) : m_pFilter(owner) {
  InitializeCriticalSection(&m_Lock);
  m_FileName[0] = 0;
  // Without a profile manager every start fails; the status is not needed beyond that.
  WMCreateProfileManager(&m_pProfileManager);
}

CASFRecorder::~CASFRecorder() {
  SafeRelease(m_pProfile);
  SafeRelease(m_pProfileManager);
  SafeRelease(m_pHeaderInfo);
  SafeRelease(m_pWriterAdvanced);
  SafeRelease(m_pWriter);
  SafeRelease(m_pFileSink);
  DeleteCriticalSection(&m_Lock);
}

// --- Recording lifecycle -----------------------------------------------------------------------

HRESULT CASFRecorder::StartRecording() {
  CriticalSectionLock hold(m_Lock);
  m_AudioTime = 0;
  m_VideoTime = 0;
  // The start opens the newest name already; a switch left pending would reopen that same file
  // at the first key frame and destroy what had been written into it.
  m_RotatePending = FALSE;
  m_WriterStatus = OpenFile();
  return m_WriterStatus;
}

HRESULT CASFRecorder::OpenFile() {
  HRESULT hr = BuildProfile();
  if (FAILED(hr)) return hr;
  hr = CreateWriter();
  if (FAILED(hr)) return hr;
  hr = ConfigureWriter();
  if (FAILED(hr)) return hr;
  if (m_pHeaderInfo) {
    static const WCHAR kTitle[] = u"ASF File";
    m_pHeaderInfo->SetAttribute(0, u"Title", WMT_TYPE_STRING, reinterpret_cast<const BYTE*>(kTitle), 16);
  }
  return m_pWriter->BeginWriting();
}

HRESULT CASFRecorder::StopRecording() {
  CriticalSectionLock hold(m_Lock);
  // The last data, the index and the final header are written here: a failure among them is the
  // caller's to hear, or a cut-short file would pass for a finished one.
  return EndWriting();
}

HRESULT CASFRecorder::EndWriting() {
  if (!m_pWriter) return S_OK;
  HRESULT hr = m_pWriter->EndWriting();
  // NS_E_INVALID_REQUEST: no file was being written (a start that failed, a second stop).
  return hr == NS_E_INVALID_REQUEST ? S_OK : hr;
}

HRESULT CASFRecorder::CloseWriter() {
  HRESULT hr = EndWriting();
  SafeRelease(m_pFileSink);
  SafeRelease(m_pProfile);
  ReleaseWriter();
  return hr;
}

void CASFRecorder::ReleaseWriter() {
  SafeRelease(m_pHeaderInfo);
  SafeRelease(m_pWriterAdvanced);
  SafeRelease(m_pWriter);
}

void CASFRecorder::ReopenWriter() {
  m_AudioTime = 0;
  m_VideoTime = 0;
  m_WriterStatus = OpenFile();
}

HRESULT CASFRecorder::BuildProfile() {
  if (!m_pProfileManager) return E_FAIL;
  SafeRelease(m_pProfile);
  HRESULT hr = m_pProfileManager->CreateEmptyProfile(WMT_VER_9_0, &m_pProfile);
  if (FAILED(hr)) return hr;
  if (m_pFilter->IsAudioConnected()) {
    hr = AddStream(MEDIATYPE_Audio, m_pFilter->GetAudioMediaType(), kAudioStreamNumber);
    if (FAILED(hr)) return hr;
  }
  if (m_pFilter->IsVideoConnected()) hr = AddStream(MEDIATYPE_Video, m_pFilter->GetVideoMediaType(), kVideoStreamNumber);
  return hr;
}

HRESULT CASFRecorder::AddStream(REFGUID streamType, AM_MEDIA_TYPE* pinType, WORD streamNumber) {
  if (!pinType) return E_UNEXPECTED;
  IWMStreamConfig* config = nullptr;
  HRESULT hr = m_pProfile->CreateNewStream(streamType, &config);
  if (FAILED(hr)) return hr;
  IWMMediaProps* props = nullptr;
  hr = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
  if (SUCCEEDED(hr)) {
    SetVariableSize(pinType);
    AM_MEDIA_TYPE copy;
    // Without its format block the copy cannot describe the stream.
    hr = CopyMediaType(&copy, pinType);
    if (SUCCEEDED(hr)) {
      copy.majortype = streamType;
      if (IsEqualGUID(streamType, MEDIATYPE_Video)) copy.subtype = ProfileVideoSubtype(copy.subtype);
      SafeRelease(copy.pUnk);  // a Windows Media type carries no object
      DWORD bitrate = IsEqualGUID(streamType, MEDIATYPE_Audio) ? AudioBitrate(&copy) : EstimateVideoBitrate(&copy);
      hr = props->SetMediaType(&copy);
      if (SUCCEEDED(hr)) {
        config->SetBitrate(bitrate);
        config->SetBufferWindow(kBufferWindowMs);
        config->SetStreamNumber(streamNumber);
        hr = m_pProfile->AddStream(config);
      }
    }
    FreeMediaType(copy);
    props->Release();
  }
  config->Release();
  return hr;
}

HRESULT CASFRecorder::CreateWriter() {
  if (m_pWriter) return S_OK;
  HRESULT hr = WMCreateWriter(nullptr, &m_pWriter);
  if (FAILED(hr)) return hr;
  hr = m_pWriter->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&m_pWriterAdvanced));
  if (SUCCEEDED(hr)) hr = m_pWriter->QueryInterface(IID_IWMHeaderInfo, reinterpret_cast<void**>(&m_pHeaderInfo));
  // A writer without its interfaces is let go, so the next start makes a whole one.
  if (FAILED(hr)) ReleaseWriter();
  return hr;
}

HRESULT CASFRecorder::ConfigureWriter() {
  HRESULT hr = m_pWriter->SetProfile(m_pProfile);
  if (FAILED(hr)) return hr;
  DWORD inputs = 0;
  hr = m_pWriter->GetInputCount(&inputs);
  if (FAILED(hr)) return hr;
  for (DWORD i = 0; i < inputs; ++i)
    if (FAILED(m_pWriter->SetInputProps(i, nullptr))) break;
  hr = m_pWriter->SetOutputFilename(m_FileName);
  if (FAILED(hr)) return hr;
  IWMWriterSink* sink = nullptr;
  hr = m_pWriterAdvanced->GetSink(0, &sink);
  SafeRelease(m_pFileSink);
  // The size watch needs the file sink; a writer without one cannot record.
  if (FAILED(hr)) return hr;
  if (!sink) return E_FAIL;
  hr = sink->QueryInterface(IID_IWMWriterFileSink2, reinterpret_cast<void**>(&m_pFileSink));
  sink->Release();
  return hr;
}

// --- Bit rates ---------------------------------------------------------------------------------

DWORD CASFRecorder::AudioBitrate(AM_MEDIA_TYPE* type) {
  if (type->cbFormat < sizeof(WAVEFORMATEX) || !type->pbFormat) return 0;
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
  if (wave->nAvgBytesPerSec != 0) return SaturateRate(uint64_t{wave->nAvgBytesPerSec} * 8);
  DWORD rate = SaturateRate(uint64_t{wave->wBitsPerSample} * wave->nChannels * wave->nSamplesPerSec);
  wave->nAvgBytesPerSec = rate / 8;
  return rate;
}

DWORD CASFRecorder::EstimateVideoBitrate(AM_MEDIA_TYPE* type) {
  if (IsEqualGUID(type->formattype, FORMAT_VideoInfo) && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    double frameRate = FrameRate(&info->AvgTimePerFrame);
    if (info->dwBitRate != 0) return info->dwBitRate;
    const BITMAPINFOHEADER& bmi = info->bmiHeader;
    // 64-bit products: a large or top-down picture must not wrap the estimate.
    const int64_t pixels = int64_t{bmi.biWidth} * AbsoluteHeight(bmi.biHeight);
    DWORD rate;
    if (IsUncompressedVideo(type)) {
      rate = TruncateRate(static_cast<double>(int64_t{bmi.biBitCount} * pixels) * frameRate);
    } else {
      DWORD computed = TruncateRate(static_cast<double>(pixels) * frameRate * bmi.biBitCount * 0.4);
      DWORD chosen = m_VideoBitrate.load();
      rate = chosen != 0 ? chosen : (computed > kCompressedBitrateCap ? kCompressedBitrateCap : computed);
    }
    info->dwBitRate = rate;
    return rate;
  }
  if (IsEqualGUID(type->formattype, FORMAT_MPEG2Video) && type->cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(type->pbFormat);
    double frameRate = FrameRate(&info->hdr.AvgTimePerFrame);
    if (info->hdr.dwBitRate != 0) return info->hdr.dwBitRate;
    const BITMAPINFOHEADER& bmi = info->hdr.bmiHeader;
    DWORD rate = TruncateRate(static_cast<double>(int64_t{bmi.biWidth} * AbsoluteHeight(bmi.biHeight)) * frameRate * 0.6);
    info->hdr.dwBitRate = rate;
    return rate;
  }
  return kOtherFormatBitrate;
}

// --- Settings ----------------------------------------------------------------------------------

HRESULT CASFRecorder::SetFileName(const WCHAR* name) {
  if (!name) return E_POINTER;
  // Under the lock: the video thread reads the name and clears the pending flag in a switch.
  CriticalSectionLock hold(m_Lock);
  size_t length = 0;
  while (length < kFileNameChars - 1 && name[length] != 0) ++length;
  if (length == WideLength(m_FileName) && std::memcmp(name, m_FileName, length * sizeof(WCHAR)) == 0) {
    m_RotatePending = FALSE;  // the current name again cancels a pending switch
    return S_OK;
  }
  if (m_HeaderFound) m_RotatePending = TRUE;
  std::memcpy(m_FileName, name, length * sizeof(WCHAR));
  m_FileName[length] = 0;
  return S_OK;
}

HRESULT CASFRecorder::CopyFileName(WCHAR** name) {
  if (!name) return E_POINTER;
  CriticalSectionLock hold(m_Lock);
  size_t bytes = (WideLength(m_FileName) + 1) * sizeof(WCHAR);
  *name = static_cast<WCHAR*>(CoTaskMemAlloc(bytes));
  if (!*name) return E_OUTOFMEMORY;
  std::memcpy(*name, m_FileName, bytes);
  return S_OK;
}

void CASFRecorder::SetSizeLimit(DWORD kibibytes) {
  m_SizeLimit.store(static_cast<ULONGLONG>(static_cast<double>(uint64_t{kibibytes} * 1024) * 0.95));
}

void CASFRecorder::SetVideoBitrate(DWORD bitsPerSecond) { m_VideoBitrate.store(bitsPerSecond); }

// --- Writing -----------------------------------------------------------------------------------

HRESULT CASFRecorder::WriteAudio(IMediaSample* sample) {
  REFERENCE_TIME start = 0, end = 0;
  HRESULT hr = sample->GetTime(&start, &end);
  if (FAILED(hr)) return hr;
  bool ahead;
  {
    CriticalSectionLock hold(m_Lock);
    m_AudioTime = start;
    SampleBytes bytes(sample);
    hr = WriteStreamSample(kAudioStreamNumber, sample, bytes, start, end, 0);
    // Read both times whole while the lock is held; sleep only after leaving it.
    ahead = IsAheadBy(m_AudioTime, m_VideoTime, kPacingLead);
  }
  // A stream that has ended will never catch up: waiting for it would only slow the other.
  if (ahead && m_pFilter->IsVideoConnected() && !m_pFilter->HasVideoEnded()) Sleep(1);
  return hr;
}

HRESULT CASFRecorder::WriteVideo(IMediaSample* sample) {
  REFERENCE_TIME start = 0, end = 0;
  HRESULT hr = sample->GetTime(&start, &end);
  if (FAILED(hr)) return hr;
  bool ahead;
  {
    CriticalSectionLock hold(m_Lock);
    m_VideoTime = start;
    size_t prefix = 0;
    // Read once: inspected here, then copied into the writer's buffer.
    SampleBytes bytes(sample);
    if (!m_HeaderFound) m_HeaderFound = CaptureStreamHeader(bytes.data, bytes.length);
    if (m_RotatePending && IsRotationPoint(bytes.data, bytes.length)) {
      SwitchFile();
      // A header found beyond the captured bytes was never captured and is not prefixed.
      if (m_HeaderLength > 0 && static_cast<size_t>(m_HeaderLength) < kHeaderCapacity) prefix = m_HeaderLength;
    }
    hr = WriteStreamSample(kVideoStreamNumber, sample, bytes, start, end, prefix);
    ahead = IsAheadBy(m_VideoTime, m_AudioTime, kPacingLead);
  }
  if (ahead && m_pFilter->IsAudioConnected() && !m_pFilter->HasAudioEnded()) Sleep(1);
  return hr;
}

CASFRecorder::SampleBytes::SampleBytes(IMediaSample* sample) {
  const LONG actual = sample->GetActualDataLength();
  if (actual <= 0) return;
  BYTE* pointer = nullptr;
  status = sample->GetPointer(&pointer);
  if (SUCCEEDED(status) && !pointer) status = E_POINTER;
  if (FAILED(status)) return;
  data = pointer;
  length = static_cast<size_t>(actual);
}

HRESULT CASFRecorder::WriteStreamSample(WORD stream, IMediaSample* sample, const SampleBytes& bytes,
                                        REFERENCE_TIME start, REFERENCE_TIME end, size_t prefix) {
  // After a reopen that failed there is no file to write into.
  if (FAILED(m_WriterStatus)) return m_WriterStatus;
  if (!m_pWriter || !m_pWriterAdvanced) return E_UNEXPECTED;
  if (FAILED(bytes.status)) return bytes.status;
  const size_t length = bytes.length;
  const DWORD total = static_cast<DWORD>(length) + static_cast<DWORD>(prefix);
  INSSBuffer* buffer = nullptr;
  HRESULT hr = m_pWriter->AllocateSample(total, &buffer);
  if (FAILED(hr)) return hr;
  BYTE* out = nullptr;
  hr = buffer->GetBuffer(&out);
  if (SUCCEEDED(hr)) {
    if (prefix) std::memcpy(out, m_Header, prefix);
    if (length) std::memcpy(out + prefix, bytes.data, length);
    buffer->SetLength(total);
    DWORD flags = 0;
    if (sample->IsSyncPoint() == S_OK) flags |= WM_SF_CLEANPOINT;
    if (sample->IsDiscontinuity() == S_OK) flags |= WM_SF_DISCONTINUITY;
    // The send time is the start in milliseconds, truncated toward zero, taken unsigned.
    const DWORD sendTime = static_cast<DWORD>(start / 10000);
    // The duration in 64 bits as the writer takes it; unsigned, so absurd times cannot overflow.
    const QWORD duration = static_cast<QWORD>(end) - static_cast<QWORD>(start);
    hr = m_pWriterAdvanced->WriteStreamSample(stream, static_cast<QWORD>(start), sendTime, duration, flags, buffer);
  }
  buffer->Release();
  CheckFileSize();
  return hr;
}

void CASFRecorder::CheckFileSize() {
  if (m_pFileSink) m_pFileSink->GetFileSize(&m_FileSize);
  if (m_FileSize > m_SizeLimit.load() && !m_SizeEventSent) {
    m_SizeEventSent = TRUE;
    m_pFilter->NotifySizeLimit(1);
  }
}

// --- Inspection and rotation -------------------------------------------------------------------

BOOL CASFRecorder::CaptureStreamHeader(const BYTE* bytes, size_t length) {
  const AM_MEDIA_TYPE* type = m_pFilter->GetVideoMediaType();
  VideoSubtypeClass kind = type ? ClassifyVideoSubtype(type->subtype) : VideoSubtypeClass::Other;
  if (kind == VideoSubtypeClass::Other) return TRUE;
  ptrdiff_t at = kind == VideoSubtypeClass::H264 ? key_frame_scan::FindH264Idr(bytes, length)
                                                 : key_frame_scan::FindMpeg4Vop(bytes, length);
  if (at >= 0) {
    m_HeaderLength = static_cast<LONG>(at);
    if (static_cast<size_t>(at) < kHeaderCapacity) std::memcpy(m_Header, bytes, static_cast<size_t>(at));
  }
  // An MPEG-4 stream counts as inspected even without a plane in its first sample.
  return at >= 0 || kind == VideoSubtypeClass::Mpeg4Part2;
}

BOOL CASFRecorder::IsRotationPoint(const BYTE* bytes, size_t length) {
  const AM_MEDIA_TYPE* type = m_pFilter->GetVideoMediaType();
  switch (type ? ClassifyVideoSubtype(type->subtype) : VideoSubtypeClass::Other) {
    case VideoSubtypeClass::H264: return key_frame_scan::IsH264RotationPoint(bytes, length);
    case VideoSubtypeClass::Mpeg4Part2: return key_frame_scan::IsMpeg4RotationPoint(bytes, length);
    case VideoSubtypeClass::Other: break;
  }
  return TRUE;
}

void CASFRecorder::SwitchFile() {
  // The old file must be whole before the recording moves on: when its end cannot be written
  // (a full disk, a size limit), no new file is begun and every later write reports the cause.
  const HRESULT closed = CloseWriter();
  if (FAILED(closed)) m_WriterStatus = closed;
  else ReopenWriter();
  m_RotatePending = FALSE;
  m_SizeEventSent = FALSE;
  m_FileSize = 0;
}
