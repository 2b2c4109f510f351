// The uninstall record, byte for byte as the text-mode file stores it, and what the setup reader
// gets from the lines the record writer does not consume.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "install/limits.h"
#include "install/record_writer.h"
#include "install/run_context.h"
#include "install/setup_reader.h"
#include "platform/shell/text_file.h"

namespace {

struct Result {
  std::string record;  // the file's bytes
  SetupContent content;
};

// Runs setup.inf's bytes through a text-mode read, the record writer (into a text-mode file) and
// the reader, as the install run does.
Result WriteRecord(const std::string& setup) {
  std::string folder = ::testing::TempDir() + "record-" + std::to_string(getpid()) + "/";
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "setup.inf", std::ios::binary) << setup;
  FILE* in = OpenTextFile((folder + "setup.inf").c_str(), "r");
  EXPECT_NE(in, nullptr);
  std::vector<std::string> lines;
  EXPECT_EQ(ReadLines(in, lines, kMaxSetupSize), "");
  std::fclose(in);
  RecordWriter writer("uninstall_Viewer.inf", "/root/system/");
  SetupReader reader;
  std::string text;
  for (const std::string& line : lines)
    if (!writer.Feed(line, text)) reader.Feed(line);
  FILE* out = OpenTextFile((folder + "record.inf").c_str(), "w");
  std::fputs(text.c_str(), out);
  std::fclose(out);
  std::ifstream bytes(folder + "record.inf", std::ios::binary);
  std::stringstream record;
  record << bytes.rdbuf();
  std::filesystem::remove_all(folder);
  return {record.str(), reader.content()};
}

struct RecordCase {
  const char* what;
  const char* setup;
  const char* record;
};

constexpr char kSaveFolder[] = "[InstallInfo]\r\nSaveFolder=\"/root/system/\"\r\n";

TEST(RecordWriter, Records) {
  const std::string info = kSaveFolder;
  const RecordCase cases[] = {
      {"hooks, install and info",
       "[Version]\r\nSignature=\"$CHICAGO$\"\r\n[Setup Hooks]\r\nhook1=hook1\r\n[hook1]\r\n[INSTALL]\r\n"
       "run=setup.exe\r\n[InstallInfo]\r\nAppFullName=Viewer\r\n\r\n[Install Files]\r\na.ocx,,,1.0,true\r\n",
       "[Version]\r\nSignature=\"$CHICAGO$\"\r\n[Setup Hooks]\r\nUNINSTALL=UNINSTALL\r\n[hook1]\r\n[UNINSTALL]\r\n"
       "Run=install.exe uninstall_Viewer.inf\r\n[InstallInfo]\r\nSaveFolder=\"/root/system/\"\r\nAppFullName=Viewer\r\n"
       "\r\n[Install Files]\r\na.ocx,,,1.0,true\r\n"},
      {"LF-only lines come out as CR LF", "[Strings]\nx=1\n", "[Strings]\r\nx=1\r\n"},
      {"a last line without LF stays so", "[Strings]\r\nx=1", "[Strings]\r\nx=1"},
      {"the line after [Setup Hooks] is replaced even when a header",
       "[Setup Hooks]\n[InstallInfo]\nAppFullName=V\n", "[Setup Hooks]\r\nUNINSTALL=UNINSTALL\r\nAppFullName=V\r\n"},
      {"[Setup Hooks] as the last line", "x\n[Setup Hooks]\n", "x\r\n[Setup Hooks]\r\n"},
      {"only [INSTALL] in capitals", "[Install]\nrun=a\n[install]\nrun=b\n", "[Install]\r\nrun=a\r\n[install]\r\nrun=b\r\n"},
      {"[DefaultInstall] dropped up to an empty line, which is written",
       "[DefaultInstall]\nCopyFiles=x\n\n[Strings]\n", "\r\n[Strings]\r\n"},
      {"[DefaultInstall] dropped up to the next header, which is written",
       "[DefaultInstall]\nCopyFiles=x\n[Strings]\ny=1\n", "[Strings]\r\ny=1\r\n"},
      {"everything from [Add.Reg] on is dropped but [InstallInfo]",
       "a=1\n[Add.Reg]\nHKLM,x\n[InstallInfo]\nAppFullName=V\n[Install Files]\na.ocx\n",
       "a=1\r\n[InstallInfo]\r\nSaveFolder=\"/root/system/\"\r\n"},
      {"the end of [DefaultInstall] inside [Add.Reg] is not written",
       "[Add.Reg]\n[DefaultInstall]\nx\n\ny\n", ""},
      {"a SaveFolder of setup.inf follows the generated one",
       "[InstallInfo]\nSaveFolder=\"C:\\Windows\\\"\n", "[InstallInfo]\r\nSaveFolder=\"/root/system/\"\r\nSaveFolder=\"C:\\Windows\\\"\r\n"},
  };
  for (const RecordCase& c : cases) EXPECT_EQ(WriteRecord(c.setup).record, c.record) << c.what;
}

TEST(RecordWriter, ReaderSeesWhatIsNotConsumed) {
  // [Add.Reg] first: the reader still gets the lines (only the record drops them).
  Result addRegFirst = WriteRecord("[Add.Reg]\n[InstallInfo]\nAppFullName=V\n[Install Files]\na.ocx\n");
  EXPECT_EQ(addRegFirst.content.AppFullName, "V");
  EXPECT_EQ(addRegFirst.content.entries.size(), 1u);
  // ...but reading that record back finds neither the name nor the files.
  SetupReader again;
  std::string record = addRegFirst.record;
  for (size_t at = 0; at < record.size();) {
    size_t end = record.find("\r\n", at);
    again.Feed(record.substr(at, end - at) + "\n");
    at = end + 2;
  }
  EXPECT_EQ(again.content().AppFullName, "");
  EXPECT_TRUE(again.content().entries.empty());
  EXPECT_EQ(again.content().SaveFolder, "/root/system/");

  // The header lost after [Setup Hooks] is lost for the reader too.
  Result hooked = WriteRecord("[Setup Hooks]\n[Install Files]\na.ocx\n");
  EXPECT_TRUE(hooked.content.entries.empty());
  // A CR LF file reads as LF lines.
  Result crlf = WriteRecord("[InstallInfo]\r\nAppFullName=Viewer\r\n");
  EXPECT_EQ(crlf.content.AppFullName, "Viewer");
}

// Lines as the runs read them: every kind of line end reads as LF, and a line longer than the limit
// refuses the whole text instead of becoming a second line.
TEST(ReadLines, LineEndsAndLimits) {
  struct Case {
    const char* what;
    std::string bytes;
    size_t maxBytes;
    std::vector<std::string> lines;
    const char* problem;
  } cases[] = {
      {"LF", "a\nb\n", 100, {"a\n", "b\n"}, ""},
      {"CR LF", "a\r\nb\r\n", 100, {"a\n", "b\n"}, ""},
      {"CR alone", "a\rb\r\rc", 100, {"a\n", "b\n", "\n", "c"}, ""},
      {"mixed", "a\r\nb\rc\nd", 100, {"a\n", "b\n", "c\n", "d"}, ""},
      {"NUL ends the text", std::string("ab\0cd\nef\n", 9), 100, {"ab", "ef\n"}, ""},
      {"1022 characters and LF", std::string(1022, 'x') + "\nz\n", 5000,
       {std::string(1022, 'x') + "\n", "z\n"}, ""},
      {"1023 characters without LF", std::string(1023, 'x'), 5000, {std::string(1023, 'x')}, ""},
      {"1023 characters and LF", std::string(1023, 'x') + "\nz.ocx\n", 5000, {}, "longer than 1023"},
      {"a long line with an entry behind", std::string(1100, 'x') + ",e,c,v,true,evil.ocx\n", 5000, {},
       "longer than 1023"},
      {"over the size", std::string(50, '\n'), 40, {}, "larger than 40 bytes"},
  };
  std::string path = ::testing::TempDir() + "lines-" + std::to_string(getpid()) + ".inf";
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::binary) << c.bytes;
    FILE* in = OpenTextFile(path.c_str(), "r");
    ASSERT_NE(in, nullptr);
    std::vector<std::string> lines;
    std::string problem = ReadLines(in, lines, c.maxBytes);
    std::fclose(in);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
    EXPECT_EQ(problem.empty(), std::string(c.problem).empty()) << c.what;
    if (problem.empty()) {
      EXPECT_EQ(lines, c.lines) << c.what;
    }
  }
  std::filesystem::remove(path);
}

}  // namespace
