// The writer's file sink: owns the ASF file being written and answers for its size. While a file
// is open the process's flusher thread has it write what has waited (see asf::Writer), and the
// sink tells the process's file observer when the file opens, when a write into it first fails,
// and when it closes. After a failure every sample is refused with that status until the file is
// ended; ending it still finishes its header for what it holds, and reports the failure.
#pragma once

#include <memory>
#include <string>

#include "platform/asf/writer.h"
#include "platform/com/ref_count.h"
#include "platform/wmf/file_events.h"
#include "platform/wmf/wmsdk.h"

class FileSink final : public IWMWriterFileSink2, private RefCount {
 public:
  static FileSink* Create();

  // Called by the writer, which holds its own lock; the sink's lock comes second.
  HRESULT BeginFile(const asf::WriterOptions& options);
  HRESULT WriteSample(WORD stream, int64_t sampleTime, int64_t duration, DWORD flags, const BYTE* data, DWORD size);
  HRESULT EndFile();
  bool HasFileName();
  // Writes what has waited; the flusher thread calls it.
  HRESULT WriteDue();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  PLATFORM_REFCOUNT_METHODS

  // Samples reach the file through the writer directly; the data-unit path is not used.
  HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer* header) override;
  HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* realTime) override;
  HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD size, INSSBuffer** unit) override;
  HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer* unit) override;
  HRESULT STDMETHODCALLTYPE OnEndWriting() override;

  HRESULT STDMETHODCALLTYPE Open(const WCHAR* fileName) override;

  HRESULT STDMETHODCALLTYPE Start(QWORD startTime) override;
  HRESULT STDMETHODCALLTYPE Stop(QWORD stopTime) override;
  HRESULT STDMETHODCALLTYPE IsStopped(BOOL* stopped) override;
  HRESULT STDMETHODCALLTYPE GetFileDuration(QWORD* duration) override;
  HRESULT STDMETHODCALLTYPE GetFileSize(QWORD* size) override;
  HRESULT STDMETHODCALLTYPE Close() override;
  HRESULT STDMETHODCALLTYPE IsClosed(BOOL* closed) override;

 private:
  FileSink() = default;
  ~FileSink() override;
  bool Writing() const { return m_file != nullptr; }
  // Finishes the file and tells the observer; the file is let go whatever the status.
  HRESULT FinishFile();
  HRESULT OpenFile(const asf::WriterOptions& options);
  // Ends the file from outside the lock: leaves the flusher first.
  HRESULT EndFileUnlocked();
  // Tells the observer of the file's first failed write, once.
  void ReportFailure();
  void Notify(WriterFileEventKind kind, HRESULT status, const asf::FileFigures& figures);

  CRITICAL_SECTION m_lock;
  std::string m_path;  // UTF-8
  std::unique_ptr<asf::Writer> m_file;  // the file being written, or none
  uint64_t m_lastSize = 0;      // size of the file when it was finished
  int64_t m_firstTime = -1;     // for the duration written so far
  int64_t m_endTime = 0;
  bool m_failureReported = false;
};
