// CASFRecorder: turns the muxer filter's two input streams into ASF files through the
// Windows-Media-style writer, one recording after another, switching files at key frames.
#pragma once

#include <atomic>

#include "platform/dshow/events.h"
#include "platform/dshow/media_sample.h"
#include "platform/win/sync.h"
#include "platform/wmf/wmsdk.h"
#include "recorder/recorder_owner.h"

// The graph event raised when the file grows beyond 95% of the size limit: EC_RECORD_SIZE_LIMIT
// (platform/dshow/events.h), so the filter and the recorder name one constant.

constexpr WORD kAudioStreamNumber = 6;
constexpr WORD kVideoStreamNumber = 8;
constexpr DWORD kBufferWindowMs = 3000;
constexpr size_t kFileNameChars = 260;  // terminator included
constexpr size_t kHeaderCapacity = 1024;

class CASFRecorder {
 public:
  explicit CASFRecorder(CRecorderOwner* owner);
  ~CASFRecorder();
  CASFRecorder(const CASFRecorder&) = delete;
  CASFRecorder& operator=(const CASFRecorder&) = delete;

  HRESULT StartRecording();
  HRESULT StopRecording();
  HRESULT SetFileName(const WCHAR* name);
  HRESULT CopyFileName(WCHAR** name);
  void SetSizeLimit(DWORD kibibytes);
  void SetVideoBitrate(DWORD bitsPerSecond);
  HRESULT WriteAudio(IMediaSample* sample);
  HRESULT WriteVideo(IMediaSample* sample);

  // The bit rate for a stream's (adjusted) type; may write into its format block. Public so
  // the rules can be checked value by value.
  static DWORD AudioBitrate(AM_MEDIA_TYPE* type);
  DWORD EstimateVideoBitrate(AM_MEDIA_TYPE* type);

 private:
  HRESULT BuildProfile();
  HRESULT AddStream(REFGUID streamType, AM_MEDIA_TYPE* pinType, WORD streamNumber);
  HRESULT CreateWriter();
  HRESULT ConfigureWriter();
  HRESULT OpenFile();  // the steps of a start after the times are reset
  HRESULT EndWriting();   // ends the file being written, if any
  HRESULT CloseWriter();
  void ReopenWriter();
  void ReleaseWriter();
  void CheckFileSize();
  BOOL CaptureStreamHeader(const BYTE* bytes, size_t length);
  BOOL IsRotationPoint(const BYTE* bytes, size_t length);
  void SwitchFile();
  // A sample's bytes as read once per write: none for an empty sample, a failure status when the
  // sample cannot give them.
  struct SampleBytes {
    explicit SampleBytes(IMediaSample* sample);
    const BYTE* data = nullptr;
    size_t length = 0;
    HRESULT status = S_OK;
  };
  // The stream sample with `prefix` bytes of the captured header in front of the sample's bytes.
  HRESULT WriteStreamSample(WORD stream, IMediaSample* sample, const SampleBytes& bytes, REFERENCE_TIME start,
                            REFERENCE_TIME end, size_t prefix);

  CRITICAL_SECTION m_Lock;
  CRecorderOwner* m_pFilter;
  WCHAR m_FileName[kFileNameChars];
  IWMProfileManager* m_pProfileManager = nullptr;
  IWMProfile* m_pProfile = nullptr;
  IWMWriter* m_pWriter = nullptr;
  IWMHeaderInfo* m_pHeaderInfo = nullptr;
  IWMWriterAdvanced* m_pWriterAdvanced = nullptr;
  IWMWriterFileSink2* m_pFileSink = nullptr;
  REFERENCE_TIME m_AudioTime = 0;
  REFERENCE_TIME m_VideoTime = 0;
  BOOL m_HeaderFound = FALSE;
  BYTE m_Header[kHeaderCapacity];
  LONG m_HeaderLength = 0;
  ULONGLONG m_FileSize = 0;
  std::atomic<ULONGLONG> m_SizeLimit{0};  // set without the lock while writes compare it
  BOOL m_RotatePending = FALSE;
  BOOL m_SizeEventSent = FALSE;
  std::atomic<DWORD> m_VideoBitrate{0};
  // Why the writer is missing after a reopen that failed; the writes report it.
  HRESULT m_WriterStatus = S_OK;
};
