// The committed fixtures as the push sources deliver them: the H.264 stream in access units at
// 25 frames a second, and the WAV audio in its reader's blocks, each with its connection type.
#pragma once

#include <string>
#include <vector>

#include "framework/mediatype.h"
#include "tests/filter/push_source.h"

struct FixtureStream {
  CMediaType type;
  std::vector<PushUnit> units;
  REFERENCE_TIME duration = 0;  // of one pass
  std::string error;            // why the fixture could not be read; empty when it was
};

constexpr REFERENCE_TIME kFixtureFrameTime = 400000;

// tests/fixtures/NAME under `folder` (the source tree's fixtures folder).
FixtureStream H264Fixture(const std::string& folder, const std::string& name = "h264-aud.264");
FixtureStream WavFixture(const std::string& folder, const std::string& name = "audio.wav");
