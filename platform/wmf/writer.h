// The writer: takes a profile, an output file name and compressed samples, and writes them into
// an ASF file through its file sink without touching the samples' bytes.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ref_count.h"
#include "platform/wmf/buffer_pool.h"
#include "platform/wmf/file_sink.h"
#include "platform/wmf/profile.h"
#include "platform/wmf/owned_media_type.h"

class Writer final : public IWMWriter, public IWMWriterAdvanced, public IWMHeaderInfo, private RefCount {
 public:
  static Writer* Create();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  PLATFORM_REFCOUNT_METHODS

  // IWMWriter
  HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID profileId) override;
  HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* profile) override;
  HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* fileName) override;
  HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetInputProps(DWORD input, IWMInputMediaProps** props) override;
  HRESULT STDMETHODCALLTYPE SetInputProps(DWORD input, IWMInputMediaProps* props) override;
  HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD input, DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD input, DWORD format, IWMInputMediaProps** props) override;
  HRESULT STDMETHODCALLTYPE BeginWriting() override;
  HRESULT STDMETHODCALLTYPE EndWriting() override;
  HRESULT STDMETHODCALLTYPE AllocateSample(DWORD size, INSSBuffer** sample) override;
  HRESULT STDMETHODCALLTYPE WriteSample(DWORD input, QWORD sampleTime, DWORD flags, INSSBuffer* sample) override;
  HRESULT STDMETHODCALLTYPE Flush() override;

  // IWMWriterAdvanced
  HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetSink(DWORD index, IWMWriterSink** sink) override;
  HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink* sink) override;
  HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink* sink) override;
  HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD stream, QWORD sampleTime, DWORD sendTime, QWORD duration,
                                              DWORD flags, INSSBuffer* sample) override;
  HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL live) override;
  HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* realTime) override;
  HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD* time) override;
  HRESULT STDMETHODCALLTYPE GetStatistics(WORD stream, WM_WRITER_STATISTICS* stats) override;
  HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD window) override;
  HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD* window) override;

  // IWMHeaderInfo
  HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD stream, WORD* count) override;
  HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD index, WORD* stream, WCHAR* name, WORD* nameLength,
                                                WMT_ATTR_DATATYPE* type, BYTE* value, WORD* length) override;
  HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* stream, LPCWSTR name, WMT_ATTR_DATATYPE* type, BYTE* value,
                                               WORD* length) override;
  HRESULT STDMETHODCALLTYPE SetAttribute(WORD stream, LPCWSTR name, WMT_ATTR_DATATYPE type, const BYTE* value,
                                         WORD length) override;
  HRESULT STDMETHODCALLTYPE GetMarkerCount(WORD* count) override;
  HRESULT STDMETHODCALLTYPE GetMarker(WORD index, WCHAR* name, WORD* nameLength, QWORD* time) override;
  HRESULT STDMETHODCALLTYPE AddMarker(WCHAR* name, QWORD time) override;
  HRESULT STDMETHODCALLTYPE RemoveMarker(WORD index) override;
  HRESULT STDMETHODCALLTYPE GetScriptCount(WORD* count) override;
  HRESULT STDMETHODCALLTYPE GetScript(WORD index, WCHAR* type, WORD* typeLength, WCHAR* command, WORD* commandLength,
                                      QWORD* time) override;
  HRESULT STDMETHODCALLTYPE AddScript(WCHAR* type, WCHAR* command, QWORD time) override;
  HRESULT STDMETHODCALLTYPE RemoveScript(WORD index) override;

 private:
  struct Stream {
    GUID streamType;
    WORD number;
    DWORD bitrate;
    DWORD bufferWindow;
    OwnedMediaType mediaType;
    WM_WRITER_STATISTICS stats;
  };
  struct Attribute {
    WORD stream;
    std::u16string name;
    WMT_ATTR_DATATYPE type;
    std::vector<BYTE> value;
  };

  Writer() = default;
  ~Writer() override;
  HRESULT BuildOptions(asf::WriterOptions* options) const;
  Stream* FindStream(WORD number);
  HRESULT WriteBuffer(Stream& stream, int64_t sampleTime, int64_t duration, DWORD flags, INSSBuffer* sample);

  CRITICAL_SECTION m_lock;
  std::vector<Stream> m_streams;
  std::vector<Attribute> m_attributes;
  FileSink* m_sink = nullptr;
  BufferPool* m_pool = nullptr;
  bool m_writing = false;
  DWORD m_syncTolerance = 3000;
};
