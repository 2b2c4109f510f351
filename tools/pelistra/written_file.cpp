#include "tools/pelistra/written_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>

#include "platform/asf/format.h"
#include "platform/asf/reader.h"

HRESULT ReadWrittenFile(const std::string& path, WrittenFile* contents) {
  *contents = {};
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) contents->bytes = static_cast<uint64_t>(info.st_size);
  try {
    asf::Reader reader;
    HRESULT hr = reader.Open(path);
    if (FAILED(hr)) return hr;
    uint16_t video = 0, audio = 0;
    for (const asf::StreamInfo& stream : reader.Streams()) {
      if (stream.video && !video) video = stream.number;
      if (stream.audio && !audio) audio = stream.number;
    }
    uint32_t firstMs = UINT32_MAX, lastMs = 0;
    hr = reader.ReadObjects([&](const asf::MediaObject& object) {
      firstMs = std::min(firstMs, object.presentationMs);
      lastMs = std::max(lastMs, object.presentationMs);
    });
    if (FAILED(hr)) return hr;
    if (video) contents->frames = reader.ObjectCount(video);
    if (audio) contents->audioBlocks = reader.ObjectCount(audio);
    if (firstMs > lastMs) return S_OK;  // no media object
    // Object times and the play duration both count the preroll.
    const asf::FileInfo& file = reader.File();
    const int64_t preroll = static_cast<int64_t>(file.prerollMs) * asf::kTicksPerMs;
    contents->start = int64_t{firstMs} * asf::kTicksPerMs - preroll;
    if (!(file.flags & asf::kFlagBroadcast) && file.playDuration > 0)
      contents->end = static_cast<int64_t>(file.playDuration) - preroll;
    else  // unfinished: the header holds no duration; the last object's time is within a unit of it
      contents->end = int64_t{lastMs} * asf::kTicksPerMs - preroll;
    contents->end = std::max(contents->end, contents->start);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

std::string WrittenFileText(const WrittenFile& contents, bool video, bool audio) {
  std::string text;
  if (video) text += std::to_string(contents.frames) + " frame" + (contents.frames == 1 ? "" : "s") + ", ";
  if (audio)
    text += std::to_string(contents.audioBlocks) + " audio block" + (contents.audioBlocks == 1 ? "" : "s") + ", ";
  char rest[64];
  std::snprintf(rest, sizeof rest, "%.2f s, %.1f MB", static_cast<double>(contents.end - contents.start) / 1e7,
                static_cast<double>(contents.bytes) / 1e6);
  return text + rest;
}
