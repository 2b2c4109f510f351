// The file cannot grow (a file size limit here, as a full disk would do): the write says so, the
// file keeps what was written before and stays readable, and every later write into it fails too.
#include <csignal>
#include <sys/resource.h>

#include "platform/asf/reader.h"
#include "recorder_test_support.h"

using namespace recorder_test;

namespace {

constexpr REFERENCE_TIME kFrameTime = 400000;
constexpr size_t kSampleSize = 20000;

// Lowers this process's file size limit for its life; SIGXFSZ is ignored meanwhile, so the
// write fails with EFBIG instead of ending the process.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_saved);
    m_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = m_saved;
    limited.rlim_cur = bytes;
    EXPECT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
  }
  ~FileSizeLimit() { Lift(); }
  void Lift() {
    if (m_lifted) return;
    m_lifted = true;
    setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_handler);
  }

 private:
  rlimit m_saved{};
  void (*m_handler)(int) = SIG_DFL;
  bool m_lifted = false;
};

// Sample bytes that say which sample they are.
std::vector<BYTE> SampleBytes(size_t index) {
  std::vector<BYTE> bytes(kSampleSize);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(index * 7 + i * 13 + (i >> 8));
  return bytes;
}

// Every video object's bytes, and whether the reader found a structural error.
std::vector<std::vector<BYTE>> VideoObjects(const std::string& path, bool* errors) {
  std::vector<std::vector<BYTE>> objects;
  asf::Reader reader;
  *errors = true;
  if (FAILED(reader.Open(path))) return objects;
  reader.ReadObjects([&](const asf::MediaObject& o) {
    if (o.stream == kVideoStreamNumber) objects.emplace_back(o.data, o.data + o.size);
  });
  *errors = reader.HasErrors();
  return objects;
}

TEST(RecorderWriteFailure, FullFileFailsTheWriteKeepsWhatWasWrittenAndStaysFailed) {
  TempDir dir;
  const std::string path = dir / "limited.asf";
  TestOwner owner;
  owner.videoConnected = true;
  owner.videoType = VideoInfoType(MEDIASUBTYPE_MJPG);
  CASFRecorder recorder(&owner);
  ASSERT_EQ(S_OK, recorder.SetFileName(Wide(path).c_str()));
  ASSERT_EQ(S_OK, recorder.StartRecording());

  std::vector<size_t> accepted;
  size_t next = 0;
  auto write = [&]() {
    TestSample sample(next * kFrameTime, (next + 1) * kFrameTime, SampleBytes(next), true);
    HRESULT hr = recorder.WriteVideo(&sample);
    if (hr == S_OK) accepted.push_back(next);
    ++next;
    return hr;
  };

  FileSizeLimit limit(1536 * 1024);
  HRESULT failure = S_OK;
  while (next < 1000 && SUCCEEDED(failure)) failure = write();
  ASSERT_TRUE(FAILED(failure)) << "no write failed under the limit";
  EXPECT_NE(E_UNEXPECTED, failure);
  const size_t acceptedBeforeFailure = accepted.size();
  EXPECT_GT(acceptedBeforeFailure, 50u);
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(FAILED(write()));  // still no room

  // What is on disk now is a readable recording of samples written before the failure.
  bool errors = true;
  std::vector<std::vector<BYTE>> onDisk = VideoObjects(path, &errors);
  EXPECT_FALSE(errors);
  EXPECT_GT(onDisk.size(), 0u);
  ASSERT_LE(onDisk.size(), acceptedBeforeFailure);
  for (size_t i = 0; i < onDisk.size(); ++i) ASSERT_EQ(SampleBytes(accepted[i]), onDisk[i]) << i;

  // The file stays failed when space returns: going on would leave a hole where samples were
  // refused. Ending it finishes the header for the whole objects it holds, and the stop reports
  // the failure: the file is not all that was sent.
  limit.Lift();
  EXPECT_EQ(failure, write());
  ASSERT_EQ(failure, recorder.StopRecording());
  std::vector<std::vector<BYTE>> finished = VideoObjects(path, &errors);
  EXPECT_FALSE(errors);
  ASSERT_EQ(onDisk.size(), finished.size());
  for (size_t i = 0; i < finished.size(); ++i) ASSERT_EQ(SampleBytes(accepted[i]), finished[i]) << i;
}

}  // namespace
