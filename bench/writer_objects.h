// The writer objects with a profile of one stream, writing into a file: the bare sample path
// (AllocateSample, copy, WriteStreamSample) that the writer and recorder benchmarks measure.
#pragma once

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win/text.h"
#include "platform/wmf/wmsdk.h"

namespace bench {

class WriterObjects {
 public:
  WriterObjects(WM_MEDIA_TYPE type, DWORD bitrate, DWORD bufferWindowMs, WORD number, std::string path)
      : m_number(number), m_path(std::move(path)) {
    IWMProfileManager* manager = nullptr;
    WMCreateProfileManager(&manager);
    IWMProfile* profile = nullptr;
    manager->CreateEmptyProfile(WMT_VER_9_0, &profile);
    manager->Release();
    IWMStreamConfig* config = nullptr;
    profile->CreateNewStream(type.majortype, &config);
    IWMMediaProps* props = nullptr;
    config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
    props->SetMediaType(&type);
    config->SetBitrate(bitrate);
    config->SetBufferWindow(bufferWindowMs);
    config->SetStreamNumber(number);
    profile->AddStream(config);
    props->Release();
    config->Release();
    WMCreateWriter(nullptr, &m_writer);
    m_writer->QueryInterface(IID_IWMWriterAdvanced, reinterpret_cast<void**>(&m_advanced));
    m_writer->SetProfile(profile);
    profile->Release();
    m_writer->SetInputProps(0, nullptr);
    m_writer->SetOutputFilename(Utf8ToWide(m_path).c_str());
    m_began = m_writer->BeginWriting();
  }
  ~WriterObjects() {
    m_writer->EndWriting();
    m_advanced->Release();
    m_writer->Release();
    unlink(m_path.c_str());
  }
  WriterObjects(const WriterObjects&) = delete;
  WriterObjects& operator=(const WriterObjects&) = delete;

  HRESULT Began() const { return m_began; }

  // One clean point of these bytes, copied into a buffer of the writer's own.
  HRESULT Write(REFERENCE_TIME time, REFERENCE_TIME duration, const std::vector<BYTE>& payload) {
    const auto size = static_cast<DWORD>(payload.size());
    INSSBuffer* buffer = nullptr;
    m_writer->AllocateSample(size, &buffer);
    BYTE* data = nullptr;
    buffer->GetBuffer(&data);
    std::memcpy(data, payload.data(), size);
    buffer->SetLength(size);
    HRESULT hr = m_advanced->WriteStreamSample(m_number, static_cast<QWORD>(time), static_cast<DWORD>(time / 10000),
                                               duration, WM_SF_CLEANPOINT, buffer);
    buffer->Release();
    return hr;
  }

  // Ends the file and begins it again from the start.
  void Restart() {
    m_writer->EndWriting();
    m_writer->BeginWriting();
  }

 private:
  WORD m_number;
  std::string m_path;
  IWMWriter* m_writer = nullptr;
  IWMWriterAdvanced* m_advanced = nullptr;
  HRESULT m_began = E_FAIL;
};

}  // namespace bench
