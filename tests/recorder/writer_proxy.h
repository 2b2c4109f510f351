// Wraps the runtime's writer objects so a test sees what the recorder asks of them: the profiles
// it sets, the samples it writes, the names and attributes it gives; and so a test can fail
// chosen calls or script the file sizes the sink reports. Installed through the factory seam for
// the life of a WriterSeam.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/wmf/factory_seam.h"

namespace recorder_test {

struct ProfileStream {
  GUID streamType = GUID_NULL;
  WORD number = 0;
  DWORD bitrate = 0;
  DWORD bufferWindow = 0;
  GUID majortype = GUID_NULL, subtype = GUID_NULL, formattype = GUID_NULL;
  bool hasObject = false;  // pUnk
  std::vector<BYTE> format;

  template <typename Block>
  const Block& As() const { return *reinterpret_cast<const Block*>(format.data()); }
};

struct WrittenSample {
  int writer;  // which writer object (creation order, from 0)
  WORD stream;
  QWORD time;
  DWORD sendTime;
  QWORD duration;
  DWORD flags;
  std::vector<BYTE> bytes;
  HRESULT status;
};

// What the recorder did to the writer objects, and what they are to do to it. Touched only from
// calls the recorder makes under its lock, and by the test between calls.
struct WriterScript {
  // Seen.
  int writersCreated = 0;    // WMCreateWriter calls that made a writer
  int writersAlive = 0;      // proxies not yet released
  int profilesCreated = 0;   // CreateEmptyProfile calls
  std::vector<std::vector<ProfileStream>> profiles;  // one per SetProfile
  std::vector<std::u16string> outputNames;
  std::vector<std::u16string> titles;
  int begins = 0, ends = 0, allocations = 0;
  std::vector<WrittenSample> samples;

  // To do.
  HRESULT createStatus = S_OK;          // WMCreateWriter
  bool failAdvancedQuery = false;       // QueryInterface(IWMWriterAdvanced)
  bool failHeaderInfoQuery = false;     // QueryInterface(IWMHeaderInfo)
  HRESULT outputNameStatus = S_OK;      // SetOutputFilename
  HRESULT getSinkStatus = S_OK;         // GetSink
  bool nullSink = false;                // GetSink succeeds without a sink
  bool sinkWithoutSize = false;         // the sink refuses IWMWriterFileSink2
  HRESULT beginStatus = S_OK;           // BeginWriting
  HRESULT allocateStatus = S_OK;        // AllocateSample
  HRESULT endStatus = S_OK;             // EndWriting, after the real one ran
  std::deque<QWORD> fileSizes;          // next answers of GetFileSize; the real size when empty
  std::function<void()> onBeginWriting;  // runs inside BeginWriting, before the real one

  int CountSamples(WORD stream, int writer = -1) const;
};

// Installs the proxies (writer and profile manager) and restores the runtime's own objects when
// it ends. One at a time.
class WriterSeam {
 public:
  WriterSeam();
  ~WriterSeam();
  WriterSeam(const WriterSeam&) = delete;
  WriterSeam& operator=(const WriterSeam&) = delete;
  WriterScript script;
};

// Makes WMCreateProfileManager fail for the life of the object.
class NoProfileManager {
 public:
  NoProfileManager();
  ~NoProfileManager();
};

}  // namespace recorder_test
