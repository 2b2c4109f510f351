// A recorder over watched writer objects, with an owner whose pins the test connects.
#pragma once

#include <memory>

#include "recorder_test_support.h"
#include "writer_proxy.h"

namespace recorder_test {

constexpr REFERENCE_TIME kFrame = 400000;  // 25 frames per second

class RecorderFixture : public ::testing::Test {
 protected:
  // Declared first, so the recorder lets go of the proxies before the seam ends.
  WriterSeam seam;
  WriterScript& script = seam.script;
  TempDir dir;
  TestOwner owner;
  std::unique_ptr<CASFRecorder> recorder = std::make_unique<CASFRecorder>(&owner);

  // 48 kHz stereo PCM and MJPEG video (a class without inspection) unless the test says otherwise.
  void Connect(bool audio, bool video, REFGUID videoSubtype = FourCCGuid("MJPG")) {
    owner.audioConnected = audio;
    owner.videoConnected = video;
    if (audio) owner.audioType = PcmType(2, 48000, 16, 192000);
    if (video) owner.videoType = VideoInfoType(videoSubtype);
  }

  HRESULT Name(const std::string& name) { return recorder->SetFileName(Wide(dir / name).c_str()); }
  std::u16string Path(const std::string& name) const { return Wide(dir / name); }

  HRESULT Video(REFERENCE_TIME start, std::vector<BYTE> bytes, bool sync = true) {
    TestSample sample(start, start + kFrame, std::move(bytes), sync);
    return recorder->WriteVideo(&sample);
  }
  HRESULT Audio(REFERENCE_TIME start, size_t size = 3840) {
    TestSample sample(start, start + 200000, std::vector<BYTE>(size, 0x11), true);
    return recorder->WriteAudio(&sample);
  }
};

}  // namespace recorder_test
