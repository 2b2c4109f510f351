#include "platform/wmf/file_sink.h"

#include <new>

#include "platform/win/text.h"
#include "platform/wmf/file_flusher.h"

FileSink* FileSink::Create() { return new (std::nothrow) FileSink; }

FileSink::~FileSink() {
  file_flusher::Remove(this);
  // A sink released while writing finishes its file rather than leave it marked as live; the
  // observer hears how that went, there is no caller to tell.
  if (Writing()) (void)FinishFile();
}

void FileSink::Notify(WriterFileEventKind kind, HRESULT status, const asf::FileFigures& figures) {
  WriterFileEvent event;
  event.kind = kind;
  event.path = m_path.c_str();
  event.status = status;
  event.bytes = figures.bytes;
  event.packets = figures.packets;
  event.duration = figures.duration;
  NotifyWriterFileEvent(event);
}

void FileSink::ReportFailure() {
  const HRESULT failure = m_file->WriteStatus();
  if (SUCCEEDED(failure) || m_failureReported) return;
  m_failureReported = true;
  Notify(WriterFileEventKind::Failed, failure, m_file->InFile());
}

HRESULT FileSink::FinishFile() {
  HRESULT hr = m_file->Close();
  ReportFailure();
  const asf::FileFigures figures = m_file->InFile();
  m_lastSize = m_file->FileSize();
  Notify(WriterFileEventKind::Closed, hr, figures);
  m_file.reset();
  return hr;
}

HRESULT FileSink::OpenFile(const asf::WriterOptions& options) {
  if (Writing()) return NS_E_INVALID_REQUEST;
  if (m_path.empty()) return NS_E_NOT_CONFIGURED;
  m_firstTime = -1;
  m_endTime = 0;
  m_lastSize = 0;
  m_failureReported = false;
  m_file.reset(new (std::nothrow) asf::Writer);
  if (!m_file) return E_OUTOFMEMORY;
  asf::WriterOptions withSync;
  try {
    withSync = options;
  } catch (const std::bad_alloc&) {
    m_file.reset();
    return E_OUTOFMEMORY;
  }
  withSync.syncIntervalMs = WriterSyncInterval();
  HRESULT hr = m_file->Open(m_path, withSync);
  if (FAILED(hr)) {
    m_file.reset();
    return hr;
  }
  Notify(WriterFileEventKind::Opened, S_OK, m_file->InFile());
  return hr;
}

HRESULT FileSink::BeginFile(const asf::WriterOptions& options) {
  // Joined before the file opens, outside the lock: the flusher calls in with its own lock held.
  HRESULT hr = file_flusher::Add(this);
  if (FAILED(hr)) return hr;
  bool opened = false;
  {
    CriticalSectionLock hold(m_lock);
    const bool wasWriting = Writing();
    hr = OpenFile(options);
    opened = SUCCEEDED(hr) || wasWriting;
  }
  if (!opened) file_flusher::Remove(this);
  return hr;
}

HRESULT FileSink::WriteSample(WORD stream, int64_t sampleTime, int64_t duration, DWORD flags, const BYTE* data,
                              DWORD size) {
  CriticalSectionLock hold(m_lock);
  if (!Writing()) return NS_E_INVALID_REQUEST;
  HRESULT hr = m_file->WriteSample(stream, sampleTime, duration, (flags & WM_SF_CLEANPOINT) != 0,
                                  (flags & WM_SF_DISCONTINUITY) != 0, data, size);
  if (hr == S_OK) {
    if (m_firstTime < 0 || sampleTime < m_firstTime) m_firstTime = sampleTime < 0 ? 0 : sampleTime;
    int64_t end = sampleTime + (duration > 0 ? duration : 0);
    if (end > m_endTime) m_endTime = end;
  } else if (FAILED(hr)) {
    ReportFailure();
  }
  return hr;
}

HRESULT FileSink::WriteDue() {
  CriticalSectionLock hold(m_lock);
  if (!Writing()) return S_OK;
  HRESULT hr = m_file->WriteDue();
  ReportFailure();
  return hr;
}

HRESULT FileSink::EndFileUnlocked() {
  file_flusher::Remove(this);
  CriticalSectionLock hold(m_lock);
  return Writing() ? FinishFile() : S_OK;
}

HRESULT FileSink::EndFile() {
  {
    CriticalSectionLock hold(m_lock);
    if (!Writing()) return NS_E_INVALID_REQUEST;
  }
  return EndFileUnlocked();
}

bool FileSink::HasFileName() {
  CriticalSectionLock hold(m_lock);
  return !m_path.empty();
}

HRESULT FileSink::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWMWriterSink) ||
      IsEqualGUID(riid, IID_IWMWriterFileSink) || IsEqualGUID(riid, IID_IWMWriterFileSink2)) {
    *ppv = static_cast<IWMWriterFileSink2*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT FileSink::OnHeader(INSSBuffer*) { return E_NOTIMPL; }
HRESULT FileSink::IsRealTime(BOOL* realTime) {
  if (!realTime) return E_POINTER;
  *realTime = FALSE;
  return S_OK;
}
HRESULT FileSink::AllocateDataUnit(DWORD, INSSBuffer**) { return E_NOTIMPL; }
HRESULT FileSink::OnDataUnit(INSSBuffer*) { return E_NOTIMPL; }
HRESULT FileSink::OnEndWriting() { return S_OK; }

HRESULT FileSink::Open(const WCHAR* fileName) {
  if (!fileName) return E_POINTER;
  if (fileName[0] == 0) return NS_E_INVALID_NAME;
  CriticalSectionLock hold(m_lock);
  if (Writing()) return NS_E_INVALID_REQUEST;
  try {
    m_path = WideToUtf8(fileName);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT FileSink::Start(QWORD) { return S_OK; }
HRESULT FileSink::Stop(QWORD) { return S_OK; }

HRESULT FileSink::IsStopped(BOOL* stopped) {
  if (!stopped) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *stopped = Writing() ? FALSE : TRUE;
  return S_OK;
}

HRESULT FileSink::GetFileDuration(QWORD* duration) {
  if (!duration) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *duration = m_firstTime < 0 ? 0 : static_cast<QWORD>(m_endTime - m_firstTime);
  return S_OK;
}

HRESULT FileSink::GetFileSize(QWORD* size) {
  if (!size) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *size = Writing() ? m_file->FileSize() : m_lastSize;
  return S_OK;
}

HRESULT FileSink::Close() { return EndFileUnlocked(); }

HRESULT FileSink::IsClosed(BOOL* closed) {
  if (!closed) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *closed = Writing() ? FALSE : TRUE;
  return S_OK;
}
