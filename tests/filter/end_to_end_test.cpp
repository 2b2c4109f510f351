// The module as a user runs it, each step its own process in a machine root of its own:
// regsvr32 registers build/bin/pelistra.ax; a client that knows only the class identifier records
// the H.264 and WAV fixtures through it, switching files at each size event; ffmpeg decodes every
// file and the files together hold every frame; regsvr32 /u leaves nothing of the module behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "filter/asf_muxer.h"
#include "platform/asf/reader.h"
#include "platform/dshow/filter_mapper.h"
#include "platform/registry/registry.h"
#include "tests/registry/temp_machine_root.h"

namespace {

constexpr int kLoops = 40;           // 160 s of media, about 13.5 MB: past one 11 MiB limit
constexpr DWORD kLimitMebibytes = 11;  // the smallest limit the filter takes
const char kClassKey[] = "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}";

struct Output {
  int status = -1;
  std::string text;
};

// Runs a command line (its pieces quoted by the caller); its output, with its errors unless
// they are dropped.
Output RunCommand(const std::string& command, bool withErrors = true) {
  Output out;
  FILE* pipe = popen((command + (withErrors ? " 2>&1" : " 2>/dev/null")).c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.text.append(buffer, n);
  int status = pclose(pipe);
  out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

std::string Quote(const std::string& text) { return "'" + text + "'"; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

// The frame hashes ffmpeg decodes from a file.
std::vector<std::string> DecodedFrames(const std::string& input) {
  Output out = RunCommand("ffmpeg -nostdin -v error -i " + Quote(input) + " -map 0:v -fps_mode passthrough -f framemd5 -", false);
  std::vector<std::string> hashes;
  for (const std::string& line : Lines(out.text))
    if (line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
  return hashes;
}

bool KeyExists(const char* key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_READ, &handle) != static_cast<LONG>(ERROR_SUCCESS)) return false;
  RegCloseKey(handle);
  return true;
}

class EndToEnd : public TempMachineRoot {};

TEST_F(EndToEnd, RegisterRecordThroughCOMSwitchFilesAndUnregister) {
  if (RunCommand("ffmpeg -version").status != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string bin = PELISTRA_BIN_DIR;
  const std::string module = bin + "/pelistra.ax";
  const std::string fixtures = std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures";
  const std::string output = root() + "/recordings";
  std::filesystem::create_directory(output);

  Output registered = RunCommand(Quote(bin + "/regsvr32") + " " + Quote(module));
  ASSERT_EQ(0, registered.status) << registered.text;
  EXPECT_TRUE(KeyExists(kClassKey));

  Output recorded = RunCommand(Quote(bin + "/filter_record_client") + " " + Quote(fixtures) + " " + Quote(output) + " " +
                        std::to_string(kLoops) + " " + std::to_string(kLimitMebibytes));
  ASSERT_EQ(0, recorded.status) << recorded.text;
  std::vector<std::string> files = Lines(recorded.text);
  ASSERT_GE(files.size(), 2u) << "no size event came: " << recorded.text;

  // Every file decodes without an error, and together they hold the input's frames in order.
  std::vector<std::string> once = DecodedFrames(fixtures + "/h264-aud.264");
  ASSERT_EQ(100u, once.size());
  std::vector<std::string> expected;
  for (int i = 0; i < kLoops; ++i) expected.insert(expected.end(), once.begin(), once.end());
  std::vector<std::string> decoded;
  size_t videoObjects = 0, audioObjects = 0;
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    Output check = RunCommand("ffmpeg -nostdin -v error -i " + Quote(file) + " -f null -");
    EXPECT_EQ(0, check.status);
    EXPECT_EQ("", check.text);
    std::vector<std::string> frames = DecodedFrames(file);
    EXPECT_FALSE(frames.empty());
    decoded.insert(decoded.end(), frames.begin(), frames.end());
    asf::Reader reader;
    ASSERT_EQ(S_OK, reader.Open(file));
    ASSERT_EQ(S_OK, reader.ReadObjects([&](const asf::MediaObject& o) { ++(o.stream == 8 ? videoObjects : audioObjects); }));
    EXPECT_FALSE(reader.HasErrors());
  }
  EXPECT_EQ(expected.size(), decoded.size());
  EXPECT_TRUE(expected == decoded) << "the frames differ from the input's";
  EXPECT_EQ(100u * kLoops, videoObjects);
  EXPECT_EQ(200u * kLoops, audioObjects) << "every 20 ms block of the WAV fixture";

  Output unregistered = RunCommand(Quote(bin + "/regsvr32") + " /u " + Quote(module));
  ASSERT_EQ(0, unregistered.status) << unregistered.text;
  EXPECT_FALSE(KeyExists(kClassKey));
  std::vector<MapperFilter> filters;
  ASSERT_EQ(S_OK, ListFilterRegistrations(CLSID_LegacyAmFilterCategory, &filters));
  for (const MapperFilter& f : filters) EXPECT_NE(CLSID_VelderMuxer, f.clsid) << f.name;
}

}  // namespace
