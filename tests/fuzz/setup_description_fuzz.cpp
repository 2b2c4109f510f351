// Arbitrary bytes as a setup description: read in text mode, passed through the record writer
// and the setup reader as the install run does, checked against the limits, and the record read
// back as the uninstall run does. Nothing may crash or read out of bounds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "install/limits.h"
#include "install/record_writer.h"
#include "install/regsvr_commands.h"
#include "install/run_context.h"
#include "install/setup_checks.h"
#include "install/setup_reader.h"
#include "platform/shell/text_file.h"

namespace {

// The input as a file the text-mode stream can open.
std::string InputFile(const uint8_t* data, size_t size) {
  static int fd = memfd_create("setup.inf", 0);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  return "/proc/self/fd/" + std::to_string(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* file = OpenTextFile(InputFile(data, size).c_str(), "r");
  if (!file) std::abort();
  std::vector<std::string> lines;
  std::string refused = ReadLines(file, lines, kMaxSetupSize);
  std::fclose(file);
  if (!refused.empty()) return 0;  // the runs stop here, before anything changes

  RecordWriter writer("uninstall_Fuzz.inf", "/root/system/");
  SetupReader reader;
  std::string record;
  for (const std::string& line : lines) {
    if (line.size() > kMaxLine) std::abort();  // a longer line refuses the whole text
    if (!writer.Feed(line, record)) reader.Feed(line);
  }
  const SetupContent& content = reader.content();
  std::string problem = CheckSetupLimits(content, "/package/", "/root/system/");
  for (const FileEntry& entry : content.entries) {
    bool plain = IsPlainFileName(entry.Name);
    if (plain && entry.Name.find_first_of("/\\:") != std::string::npos) std::abort();
    FileKind kind = ClassifyFile(entry.Name);
    bool registered = kind == FileKind::Ocx || kind == FileKind::Ax;
    if (problem.empty() && plain && registered && RegisterCommand("/root/system/" + entry.Name).size() > 255)
      std::abort();  // a command that does not fit must have been refused
  }

  SetupReader again;
  size_t start = 0;
  for (size_t at = 0; at < record.size(); ++at) {
    if (record[at] != '\n') continue;
    again.Feed(record.substr(start, at + 1 - start));
    start = at + 1;
  }
  if (start < record.size()) again.Feed(record.substr(start));
  (void)CheckSetupLimits(again.content(), "", "/root/system/");
  return 0;
}
