#include "tests/filter/fixture_streams.h"

#include <fstream>
#include <iterator>

#include "recorder/media_types.h"
#include "sources/h264_splitter.h"
#include "sources/wav_reader.h"

namespace {

bool ReadFile(const std::string& path, std::vector<BYTE>* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read " + path;
    return false;
  }
  bytes->assign(std::istreambuf_iterator<char>(in), {});
  return true;
}

bool Split(StreamParser& parser, const std::vector<BYTE>& input, std::vector<PushUnit>* units, std::string* error) {
  if (FAILED(parser.Push(input.data(), input.size()))) {
    *error = parser.Error();
    return false;
  }
  parser.Finish();
  StreamUnit unit;
  HRESULT hr;
  while ((hr = parser.Next(&unit)) == S_OK)
    units->push_back({std::vector<BYTE>(unit.data, unit.data + unit.size), unit.start, unit.stop, unit.sync});
  if (FAILED(hr)) *error = parser.Error();
  return SUCCEEDED(hr);
}

}  // namespace

FixtureStream H264Fixture(const std::string& folder, const std::string& name) {
  FixtureStream stream;
  std::vector<BYTE> input;
  H264AccessUnitSplitter parser;
  if (!ReadFile(folder + "/" + name, &input, &stream.error) || !Split(parser, input, &stream.units, &stream.error))
    return stream;
  const H264SequenceInfo* sequence = parser.Sequence();
  if (!sequence) {
    stream.error = name + " has no sequence parameter set";
    return stream;
  }
  for (size_t i = 0; i < stream.units.size(); ++i) {
    stream.units[i].start = static_cast<REFERENCE_TIME>(i) * kFixtureFrameTime;
    stream.units[i].stop = stream.units[i].start + kFixtureFrameTime;
  }
  stream.duration = static_cast<REFERENCE_TIME>(stream.units.size()) * kFixtureFrameTime;
  VIDEOINFOHEADER info{};
  info.AvgTimePerFrame = kFixtureFrameTime;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = static_cast<LONG>(sequence->width);
  info.bmiHeader.biHeight = static_cast<LONG>(sequence->height);
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  stream.type.SetType(MEDIATYPE_Video);
  stream.type.SetSubtype(MEDIASUBTYPE_H264_INPUT);
  stream.type.SetFormatType(FORMAT_VideoInfo);
  if (!stream.type.SetFormat(&info, sizeof info)) stream.error = "no memory";
  return stream;
}

FixtureStream WavFixture(const std::string& folder, const std::string& name) {
  FixtureStream stream;
  std::vector<BYTE> input;
  WavReader parser;
  if (!ReadFile(folder + "/" + name, &input, &stream.error) || !Split(parser, input, &stream.units, &stream.error))
    return stream;
  if (stream.units.empty()) {
    stream.error = name + " holds no audio";
    return stream;
  }
  stream.duration = stream.units.back().stop;
  const std::vector<BYTE>& format = parser.Format();
  stream.type.SetType(MEDIATYPE_Audio);
  stream.type.SetSubtype(MEDIASUBTYPE_PCM);
  stream.type.SetFormatType(FORMAT_WaveFormatEx);
  if (!stream.type.SetFormat(format.data(), static_cast<ULONG>(format.size()))) stream.error = "no memory";
  return stream;
}
