// The installer program as a user runs it, in separate processes, over the real platform: a
// package folder with the program, setup.inf and files, a machine root of its own, and a working
// directory elsewhere. Registration processes outlive the installer; the test adopts them
// (a child subreaper) and waits for them before it looks at the registry.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "platform/shell/machine_root.h"
#include "tests/install/test_control.h"

namespace {

namespace fs = std::filesystem;

constexpr char kEntryKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Halvorn Viewer";
constexpr CLSID kMuxerClass = MakeGuid("E007F9AB-C9B8-403D-91BA-B1E50AA0F55A");
constexpr char kMuxerServerKey[] = "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}\\InprocServer32";

struct Outcome {
  int exit = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string Bin(const std::string& name) { return std::string(PELISTRA_BIN_DIR "/") + name; }

// Children of this process that have not been waited for, read from /proc.
std::vector<pid_t> Children() {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string name = entry.path().filename();
    if (name.empty() || !std::isdigit(static_cast<unsigned char>(name[0]))) continue;
    std::string stat = ReadFile(entry.path().string() + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    char state;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent == getpid()) children.push_back(std::stoi(name));
  }
  return children;
}

class InstallerProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelistra-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    world_ = pattern;
    root_ = world_ + "/root";
    pkg_ = world_ + "/package/";
    cwd_ = world_ + "/elsewhere/";
    for (const std::string& folder : {pkg_, cwd_, world_ + "/outside/"}) fs::create_directories(folder);
    setenv("PELISTRA_ROOT", root_.c_str(), 1);
    unsetenv("PELISTRA_MESSAGEBOX");
    // The machine comes with its system directory (platform library and regsvr32).
    ASSERT_EQ(EnsureMachineRoot(), S_OK);
    sys_ = SystemDirectoryPath();
    // Registration processes the installer leaves behind become this process's children.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    // The package: the program with the platform library it starts with, and the files.
    for (const char* file : {"install", "libpelistra-platform.so", "test_control.ocx", "pelistra.ax"})
      fs::copy_file(Bin(file), pkg_ + file, fs::copy_options::overwrite_existing);
    for (const char* file : {"helper.dll", "shared.dll", "viewer.inf", "viewer.ini", "readme.txt"})
      WriteFile(pkg_ + file, std::string("data of ") + file);
    for (const char* bait :
       {"outside/victim.dll", "victim.ini", "elsewhere/victim.ocx", "outside/victim.ocx", "outside/good.ini"})
      WriteFile(world_ + "/" + bait, "not the installer's");
  }
  void TearDown() override {
    for (pid_t pid : helpers_) kill(pid, SIGKILL);
    for (pid_t pid : helpers_) waitpid(pid, nullptr, 0);
    WaitForAdopted();
    RegistryCloseDatabase();
    std::error_code ignored;
    fs::remove_all(world_, ignored);
    unsetenv("PELISTRA_ROOT");
  }

  std::string SetupInf() const {
    return std::string("[Version]\r\nSignature=\"$CHICAGO$\"\r\n\r\n[Setup Hooks]\r\nhook1=hook1\r\n\r\n") +
           "[InstallInfo]\r\nAppFullName=Halvorn Viewer\r\nCompanyName=Halvorn\r\n\r\n[Install Files]\r\n" +
           "test_control.ocx,control,{5EE1D0C7-0000-4000-8000-00000000C7C7},1.0.0.7,true\r\n" +
           "pelistra.ax,filter,{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A},1.0.0.1,true\r\n" +
           "helper.dll,helper,-,1.0,true\r\nshared.dll,shared,-,1.0,false\r\nviewer.inf\r\nviewer.ini\r\nreadme.txt\r\n";
  }

  // Runs a program from the working directory elsewhere, with standard input from /dev/null, and
  // waits for it and for every process it left behind.
  Outcome Run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {}) {
    std::string out = world_ + "/run.out", err = world_ + "/run.err";
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(cwd_.c_str()) != 0) _exit(126);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      dup2(open("/dev/null", O_RDONLY), 0);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    Outcome outcome;
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    WaitForAdopted();
    outcome.out = ReadFile(out);
    outcome.err = ReadFile(err);
    return outcome;
  }
  Outcome Install(const std::string& package = "Viewer") { return Run({pkg_ + "install", "setup.inf", package}); }
  Outcome Remove(const std::map<std::string, std::string>& env = {}) {
    return Run({Bin("pelistra"), "programs", "remove", "Halvorn Viewer"}, env);
  }

  void WaitForAdopted() {
    for (std::vector<pid_t> children; !(children = Adopted()).empty();)
      for (pid_t pid : children) waitpid(pid, nullptr, 0);
  }
  std::vector<pid_t> Adopted() {
    std::vector<pid_t> adopted;
    for (pid_t pid : Children())
      if (!std::count(helpers_.begin(), helpers_.end(), pid)) adopted.push_back(pid);
    return adopted;
  }

  // A process that keeps `module` loaded, and one that stands for a running browser.
  void HoldModule(const std::string& module) {
    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);
    int input[2];
    ASSERT_EQ(pipe(input), 0);
    pid_t pid = fork();
    if (pid == 0) {
      dup2(input[0], 0);
      dup2(pipes[1], 1);
      execl(Bin("hold_module").c_str(), "hold_module", module.c_str(), nullptr);
      _exit(127);
    }
    close(pipes[1]);
    close(input[0]);
    char loaded[7] = {};
    ASSERT_EQ(read(pipes[0], loaded, 6), 6);
    EXPECT_STREQ(loaded, "loaded");
    close(pipes[0]);
    helpers_.push_back(pid);
  }
  void OpenBrowser() {
    std::string browser = world_ + "/iexplore";
    fs::copy_file("/bin/sleep", browser);
    pid_t pid = fork();
    if (pid == 0) {
      execl(browser.c_str(), "iexplore", "600", nullptr);
      _exit(127);
    }
    helpers_.push_back(pid);
    // Named once exec is done.
    for (int i = 0; i < 500 && ReadFile("/proc/" + std::to_string(pid) + "/comm") != "iexplore\n"; ++i) usleep(10000);
  }

  static std::string Text(HKEY root, const std::string& key, const char* name, DWORD* type = nullptr) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return "(no key)";
    char data[1024];
    DWORD size = sizeof data, kind = 0;
    LONG rc = RegQueryValueExA(handle, name, nullptr, &kind, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return "(no value)";
    if (type) *type = kind;
    if (kind == REG_DWORD) return size == 4 ? std::to_string(*reinterpret_cast<DWORD*>(data)) : "(bad size)";
    if (size == 0 || data[size - 1] != '\0') return "(no terminator)";
    return std::string(data, size - 1);
  }
  static bool KeyExists(HKEY root, const std::string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
    RegCloseKey(handle);
    return true;
  }
  bool InSystem(const std::string& name) const { return fs::exists(sys_ + name); }

  // Everything in the world outside the machine root and the package folder.
  std::map<std::string, std::string> Outside() const {
    std::map<std::string, std::string> files;
    for (auto it = fs::recursive_directory_iterator(world_); it != fs::recursive_directory_iterator(); ++it) {
      std::string path = it->path().string();
      if (path == root_ || path + "/" == pkg_) {
        it.disable_recursion_pending();
        continue;
      }
      if (path.find("/run.") != std::string::npos) continue;
      files[path] = it->is_regular_file() ? ReadFile(path) : "(folder)";
    }
    return files;
  }

  std::string world_, root_, pkg_, cwd_, sys_;
  std::vector<pid_t> helpers_;
};

TEST_F(InstallerProgram, InstallsListsAndRemovesThePackage) {
  WriteFile(pkg_ + "setup.inf", SetupInf());
  Outcome install = Install();
  ASSERT_EQ(install.exit, 0) << install.err;
  EXPECT_EQ(install.out, "Please wait while setup copies files to the installation folders!");
  EXPECT_EQ(install.err, "");

  EXPECT_EQ(ReadFile(sys_ + "Install.exe"), ReadFile(pkg_ + "install"));
  for (const char* file : {"test_control.ocx", "helper.dll", "shared.dll", "viewer.inf", "viewer.ini"})
    EXPECT_EQ(ReadFile(sys_ + file), ReadFile(pkg_ + file)) << file;
  EXPECT_FALSE(InSystem("readme.txt"));
  std::string record = ReadFile(sys_ + "uninstall_Viewer.inf");
  EXPECT_NE(record.find("[Setup Hooks]\r\nUNINSTALL=UNINSTALL\r\n"), std::string::npos) << record;
  EXPECT_NE(record.find("[InstallInfo]\r\nSaveFolder=\"" + sys_ + "\"\r\nAppFullName=Halvorn Viewer\r\n"),
            std::string::npos)
      << record;

  DWORD type = 0;
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kEntryKey, "DisplayName", &type), "Halvorn Viewer");
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kEntryKey, "UninstallString"), sys_ + "install.exe uninstall_Viewer.inf");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kEntryKey, "NoModify", &type), "1");
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kEntryKey, "DisplayVersion"), "1.0.0.7");
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kEntryKey, "DisplayIcon"), sys_ + "test_control.ocx");
  // regsvr32 registered the control from the system directory.
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kTestControlKey, "Path"), sys_ + "test_control.ocx");
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kTestControlClassKey + std::string("\\InprocServer32"), nullptr),
            sys_ + "test_control.ocx");
  // The installed filter, known only by its class identifier, records a file that ffmpeg decodes.
  EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kMuxerServerKey, nullptr), sys_ + "pelistra.ax");
  CoInitialize(nullptr);
  IUnknown* filter = nullptr;
  EXPECT_EQ(CoCreateInstance(kMuxerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&filter)),
            S_OK);
  SafeRelease(filter);
  CoUninitialize();
  fs::create_directories(world_ + "/recorded");
  Outcome recorded = Run({Bin("filter_record_client"), std::string(PELISTRA_SOURCE_DIR) + "/tests/fixtures",
                          world_ + "/recorded", "1", "1000"});
  ASSERT_EQ(recorded.exit, 0) << recorded.err;
  std::string file = world_ + "/recorded/part-1.asf";
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(std::system(("ffmpeg -nostdin -v error -xerror -i '" + file + "' -f null - >/dev/null 2>&1").c_str()), 0);

  Outcome list = Run({Bin("pelistra"), "programs"});
  EXPECT_EQ(list.exit, 0) << list.err;
  EXPECT_NE(list.out.find("Halvorn Viewer  1.0.0.7  " + sys_ + "install.exe uninstall_Viewer.inf\n"),
            std::string::npos)
      << list.out;

  Outcome remove = Remove();
  EXPECT_EQ(remove.exit, 0) << remove.err;
  EXPECT_EQ(remove.out, "Please wait while delete files from the installation folders!");
  for (const char* gone : {"test_control.ocx", "pelistra.ax", "helper.dll", "viewer.inf", "viewer.ini",
                           "uninstall_Viewer.inf"})
    EXPECT_FALSE(InSystem(gone)) << gone;
  EXPECT_TRUE(InSystem("Install.exe"));
  EXPECT_TRUE(InSystem("shared.dll"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kTestControlKey));  // unregistered before deletion
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTestControlClassKey));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}"));

  Outcome again = Remove();
  EXPECT_EQ(again.exit, 2);
  EXPECT_NE(again.err.find("no installed program named \"Halvorn Viewer\""), std::string::npos);
}

TEST_F(InstallerProgram, WarningWhileTheControlIsLoadedAndABrowserOpen) {
  WriteFile(pkg_ + "setup.inf", SetupInf());
  ASSERT_EQ(Install().exit, 0);
  HoldModule(sys_ + "test_control.ocx");
  OpenBrowser();
  auto everythingInPlace = [&] {
    return InSystem("test_control.ocx") && InSystem("helper.dll") && InSystem("viewer.ini") &&
           InSystem("uninstall_Viewer.inf") && KeyExists(HKEY_LOCAL_MACHINE, kEntryKey) &&
           KeyExists(HKEY_LOCAL_MACHINE, kTestControlKey);
  };

  Outcome aborted = Remove({{"PELISTRA_MESSAGEBOX", "abort"}});
  EXPECT_EQ(aborted.exit, 0) << aborted.err;
  EXPECT_NE(aborted.err.find("Please close all IE browser windows,\nbefore uninstall Halvorn Media Control"),
            std::string::npos)
      << aborted.err;
  EXPECT_TRUE(everythingInPlace());

  // Unattended, with no answer: the box cannot be shown and nothing is removed.
  Outcome unanswered = Remove();
  EXPECT_EQ(unanswered.exit, 4);
  EXPECT_NE(unanswered.err.find("could not be answered; nothing was removed"), std::string::npos) << unanswered.err;
  EXPECT_TRUE(everythingInPlace());

  Outcome ignored = Remove({{"PELISTRA_MESSAGEBOX", "ignore"}});
  EXPECT_EQ(ignored.exit, 0) << ignored.err;
  EXPECT_FALSE(InSystem("test_control.ocx"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
}

TEST_F(InstallerProgram, ArgumentsAndMissingFiles) {
  EXPECT_EQ(Run({pkg_ + "install"}).exit, 0);
  Outcome usage = Run({pkg_ + "install", "setup.inf"});
  EXPECT_EQ(usage.exit, 1);
  EXPECT_NE(usage.err.find("usage:"), std::string::npos);
  EXPECT_FALSE(InSystem("Install.exe"));
  // No setup.inf beside the program (one in the working directory does not count).
  WriteFile(cwd_ + "setup.inf", SetupInf());
  Outcome missing = Install();
  EXPECT_EQ(missing.exit, 2);
  EXPECT_TRUE(InSystem("Install.exe"));
  EXPECT_EQ(ReadFile(sys_ + "uninstall_Viewer.inf"), "");
  EXPECT_FALSE(InSystem("test_control.ocx"));
}

// Hostile setup descriptions end with a message or a clean run, and whatever they say, nothing
// outside the machine root and the package folder changes, through the install and the uninstall.
TEST_F(InstallerProgram, HostileDescriptionsStayInsideTheMachineRoot) {
  std::mt19937 random(20240611);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  struct Case {
    const char* what;
    std::string setup;
    std::set<int> exits;
    const char* message;
  } cases[] = {
      {"names with paths",
       "[InstallInfo]\nAppFullName=Hostile\nSaveFolder=\"" + world_ + "/outside/\"\n[Install Files]\n"
       "../../outside/victim.dll,e,c,v,true\n..\\..\\victim.ini\nC:victim.ini\n" + world_ +
           "/outside/victim.ocx,e,c,v,true\nvictim.ocx:stream,e,c,v,true\n../../elsewhere/victim.ocx,e,c,v,true\n"
           "good.ini\n",
       {0}, "skipped \"../../outside/victim.dll\""},
      {"a line of 5,000 characters", "[Install Files]\n" + std::string(5000, 'x') + ".ocx,e,c,v,true\n", {3},
       "longer than 259 characters"},
      {"random bytes", noise, {0, 3}, ""},
      {"no [Install Files]", "[InstallInfo]\nAppFullName=No Files\n", {0}, ""},
      {"no final line end", "[InstallInfo]\nAppFullName=No End\n[Install Files]\ngood.ini", {0}, ""},
  };
  WriteFile(pkg_ + "good.ini", "good");
  for (const Case& c : cases) {
    WriteFile(pkg_ + "setup.inf", c.setup);
    std::map<std::string, std::string> before = Outside();
    Outcome install = Install("Hostile");
    EXPECT_TRUE(c.exits.count(install.exit)) << c.what << ": " << install.exit << "\n" << install.err;
    EXPECT_NE(install.err.find(c.message), std::string::npos) << c.what << ": " << install.err;
    if (install.exit == 3) {
      EXPECT_FALSE(InSystem("uninstall_Hostile.inf")) << c.what;
    }
    if (std::string(c.what) == "no final line end") {
      EXPECT_EQ(ReadFile(sys_ + "good.ini"), "good");
    }
    if (InSystem("uninstall_Hostile.inf")) {
      Outcome uninstall = Run({sys_ + "Install.exe", "uninstall_Hostile.inf"});
      EXPECT_EQ(uninstall.exit, 0) << c.what << "\n" << uninstall.err;
      EXPECT_FALSE(InSystem("uninstall_Hostile.inf")) << c.what;
      EXPECT_FALSE(InSystem("good.ini")) << c.what;
    }
    EXPECT_EQ(Outside(), before) << c.what;
  }
}

}  // namespace
