#include "tools/pelistra/output_guard.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// A folder with one input file, "in.264", and whatever names a case adds beside it.
class OutputGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/output-guard-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    std::ofstream(dir_ / "in.264") << "input";
    std::ofstream(dir_ / "old.asf") << "a recording of another day";
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// Every way an output could lead to the input is refused, with -y too; an unrelated file that
// exists is refused only without -y.
TEST_F(OutputGuardTest, RefusesAnOutputThatIsAnInputOrExists) {
  fs::create_hard_link(dir_ / "in.264", dir_ / "hard.asf");
  fs::create_symlink(dir_ / "in.264", dir_ / "soft.asf");
  fs::create_directory(dir_ / "sub");
  fs::create_symlink(dir_, dir_ / "sub" / "up");
  struct Case {
    const char* name;
    const char* refusal;          // words of the refusal without -y
    const char* refusalOverwrite;  // with -y; empty: allowed
  } cases[] = {
      {"in.264", "is an input", "is an input"},
      {"hard.asf", "is an input", "is an input"},
      {"soft.asf", "is an input", "is an input"},
      {"sub/up/in.264", "is an input", "is an input"},
      {"old.asf", "exists", ""},
      {"sub", "is a folder", "is a folder"},
      {"new.asf", "", ""},
  };
  for (bool overwrite : {false, true}) {
    OutputGuard guard(overwrite);
    ASSERT_EQ(guard.AddInput(Path("in.264")), S_OK);
    for (const Case& c : cases) {
      const std::string problem = guard.CheckName(Path(c.name));
      const std::string expected = overwrite ? c.refusalOverwrite : c.refusal;
      if (expected.empty()) {
        EXPECT_EQ(problem, "") << c.name;
      } else {
        EXPECT_NE(problem.find(expected), std::string::npos) << c.name << ": " << problem;
        EXPECT_NE(problem.find(Path(c.name)), std::string::npos) << "the file is not named: " << problem;
      }
    }
  }
}

// The names a recording could rotate into are looked up in its folder before anything starts.
TEST_F(OutputGuardTest, RefusesARotatedNameThatWouldHitAnInput) {
  struct Case {
    const char* output;
    const char* link;  // a hard link to the input made under this name first, or null
    const char* refusal;
  } cases[] = {
      {"cam-%03d.asf", "cam-002.asf", "cam-002.asf is an input of this recording and would be its file number 3"},
      {"x.asf", "x-001.asf", "x-001.asf is an input of this recording and would be its file number 2"},
      {"in.264", nullptr, "in.264 is an input of this recording: name"},
      {"in-%d.264", nullptr, ""},  // in.264 is none of in-0.264, in-1.264...
      {"x.asf", "x-01.asf", ""},
      {"x.asf", "y-001.asf", ""},
  };
  for (const Case& c : cases) {
    if (c.link) fs::create_hard_link(dir_ / "in.264", dir_ / c.link);
    OutputNames names;
    std::string error;
    ASSERT_TRUE(names.Parse(Path(c.output), &error)) << error;
    OutputGuard guard(true);
    ASSERT_EQ(guard.AddInput(Path("in.264")), S_OK);
    const std::string problem = guard.CheckRotatedNames(names);
    if (*c.refusal == 0) EXPECT_EQ(problem, "") << c.output;
    else EXPECT_NE(problem.find(c.refusal), std::string::npos) << c.output << ": " << problem;
    if (c.link) fs::remove(dir_ / c.link);
  }
}

// Standard input redirected from a file is that file; a missing input is its source's to report.
TEST_F(OutputGuardTest, ProtectsStandardInputWhenItIsAFile) {
  FILE* redirected = std::freopen(Path("in.264").c_str(), "rb", stdin);
  ASSERT_NE(redirected, nullptr);
  OutputGuard guard(true);
  EXPECT_EQ(guard.AddInput("-"), S_OK);
  EXPECT_EQ(guard.AddInput(Path("missing.264")), S_FALSE);
  EXPECT_NE(guard.CheckName(Path("in.264")).find("is an input"), std::string::npos);
}

}  // namespace
