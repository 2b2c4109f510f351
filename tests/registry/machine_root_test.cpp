// Where the machine root is, and what a new root receives.
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/shell/machine_root.h"
#include "tests/registry/temp_machine_root.h"

namespace {

// Sets or clears an environment variable for one scope.
class EnvironmentVariable {
 public:
  EnvironmentVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvironmentVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(MachineRoot, NamedByEnvironmentWithDefaults) {
  struct Case {
    const char* root;
    const char* dataHome;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/srv/root/", "/data", "/home/u", "/srv/root"},
      {nullptr, "/data", "/home/u", "/data/pelistra"},
      {nullptr, "relative", "/home/u", "/home/u/.local/share/pelistra"},  // a relative XDG path is ignored
      {nullptr, nullptr, "/home/u", "/home/u/.local/share/pelistra"},
  };
  for (const Case& c : cases) {
    EnvironmentVariable root("PELISTRA_ROOT", c.root), data("XDG_DATA_HOME", c.dataHome), home("HOME", c.home);
    EXPECT_EQ(MachineRootPath(), c.expected);
    EXPECT_EQ(SystemDirectoryPath(), std::string(c.expected) + "/system/");
    EXPECT_EQ(RegistryDatabasePath(), std::string(c.expected) + "/registry.db");
  }
}

using PreparedRoot = TempMachineRoot;

int g_preparations = 0;
void CountPreparation() { ++g_preparations; }

TEST_F(PreparedRoot, ReceivesThePlatformFilesAndRunsEachPreparerOnce) {
  ASSERT_EQ(EnsureMachineRoot(), S_OK);
  namespace fs = std::filesystem;
  EXPECT_TRUE(fs::is_regular_file(SystemDirectoryPath() + "libpelistra-platform.so"));
  std::string built = std::string(std::getenv("PELISTRA_BIN_DIR") ? std::getenv("PELISTRA_BIN_DIR") : "") + "/regsvr32";
  if (fs::exists(built)) {
    EXPECT_TRUE(fs::is_regular_file(SystemDirectoryPath() + "regsvr32"));
    EXPECT_EQ(fs::file_size(SystemDirectoryPath() + "regsvr32"), fs::file_size(built));
  }

  // Added to a prepared root: runs at once, then not again for that root.
  g_preparations = 0;
  AddMachineRootPreparer(&CountPreparation);
  EXPECT_EQ(g_preparations, 1);
  ASSERT_EQ(EnsureMachineRoot(), S_OK);
  EXPECT_EQ(g_preparations, 1);
  // Another root is prepared anew.
  std::string other = root() + "/other";
  setenv("PELISTRA_ROOT", other.c_str(), 1);
  ASSERT_EQ(EnsureMachineRoot(), S_OK);
  EXPECT_EQ(g_preparations, 2);
  EXPECT_TRUE(fs::is_directory(other + "/system"));
}

}  // namespace
