// What a recording's file holds, read back from the file itself: the summary and a failure report
// count what reached the disk, not what the sources handed out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win/status.h"

struct WrittenFile {
  uint64_t frames = 0;       // media objects of the video stream
  uint64_t audioBlocks = 0;  // media objects of the audio stream
  int64_t start = 0, end = 0;  // the media it holds, in the recording's time (100 ns)
  uint64_t bytes = 0;        // the file's size
};

// Reads `path` with the ASF reader. A file cut short (unfinished header, a packet cut by a failed
// write) counts its whole packets. A failure status: the file is not there or holds no header.
HRESULT ReadWrittenFile(const std::string& path, WrittenFile* contents);
// "65 frames, 128 audio blocks, 2.60 s, 1.2 MB"; a stream the recording lacks is left out.
std::string WrittenFileText(const WrittenFile& contents, bool video, bool audio);
