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
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "platform/com/inproc_server.h"
#include "platform/com/runtime.h"
#include "platform/dshow/filter_mapper.h"
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

  // Every file of the system directory with its bytes.
  std::map<std::string, std::string> SystemFiles() const {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(sys_))
      files[entry.path().filename().string()] = entry.is_regular_file() ? ReadFile(entry.path()) : "(not a file)";
    return files;
  }

  // The package "Victim" (SetupInf's files as "Halvorn Viewer"), installed.
  void InstallVictim() {
    WriteFile(pkg_ + "setup.inf", SetupInf());
    Outcome install = Install("Victim");
    ASSERT_EQ(install.exit, 0) << install.err;
  }
  // What makes Victim: its record, its entry (values and subkeys), its files and their
  // registrations.
  std::map<std::string, std::string> VictimState() const {
    std::map<std::string, std::string> state;
    state["record"] = InSystem("uninstall_Victim.inf") ? ReadFile(sys_ + "uninstall_Victim.inf") : "(missing)";
    for (const char* value : {"DisplayName", "UninstallString", "NoModify", "DisplayVersion", "DisplayIcon"})
      state[std::string("entry ") + value] = Text(HKEY_LOCAL_MACHINE, kEntryKey, value);
    HKEY entry = nullptr;
    DWORD subkeys = 0;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, KEY_READ, &entry) == ERROR_SUCCESS) {
      char name[512];
      for (DWORD length = sizeof name; RegEnumKeyExA(entry, subkeys, name, &length, nullptr, nullptr, nullptr,
                                                     nullptr) == ERROR_SUCCESS;
           length = sizeof name)
        ++subkeys;
      RegCloseKey(entry);
    }
    state["entry subkeys"] = std::to_string(subkeys);
    for (const char* file : {"test_control.ocx", "pelistra.ax", "helper.dll", "shared.dll", "viewer.inf", "viewer.ini"})
      state[file] = InSystem(file) ? ReadFile(sys_ + file) : "(missing)";
    state["control registered"] = Text(HKEY_LOCAL_MACHINE, kTestControlKey, "Path");
    state["control server"] = Text(HKEY_CLASSES_ROOT, kTestControlClassKey + std::string("\\InprocServer32"), nullptr);
    state["muxer server"] = Text(HKEY_CLASSES_ROOT, kMuxerServerKey, nullptr);
    MapperFilter filter;
    state["muxer mapper record"] =
        ReadFilterRegistration(kMuxerClass, &filter) == S_OK ? filter.name + " " + std::to_string(filter.merit)
                                                             : "(none)";
    return state;
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

  // The uninstall run ends well, but the list still holds the package: nothing was removed.
  Outcome aborted = Remove({{"PELISTRA_MESSAGEBOX", "abort"}});
  EXPECT_EQ(aborted.exit, 6) << aborted.err;
  EXPECT_NE(aborted.err.find("\"Halvorn Viewer\" is still installed"), std::string::npos) << aborted.err;
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
  // No setup.inf beside the program (one in the working directory does not count): nothing changes.
  WriteFile(cwd_ + "setup.inf", SetupInf());
  Outcome missing = Install();
  EXPECT_EQ(missing.exit, 2);
  EXPECT_FALSE(InSystem("Install.exe"));
  EXPECT_FALSE(InSystem("uninstall_Viewer.inf"));
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
       "longer than 1023 characters"},
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

// A setup.inf that cannot be used is refused before anything changes: the installed package of the
// same name keeps its record, entry, files and registrations, and no run hangs on it.
TEST_F(InstallerProgram, UnusableSetupLeavesTheInstalledPackageAsItIs) {
  InstallVictim();
  std::map<std::string, std::string> victim = VictimState();
  std::map<std::string, std::string> system = SystemFiles();
  std::string setup = pkg_ + "setup.inf";
  struct Case {
    const char* what;
    std::function<void()> make;
    int exit;
    std::string message;
  } cases[] = {
      {"missing", [&] {}, 2, "cannot open " + setup},
      {"a folder", [&] { fs::create_directory(setup); }, 3, "is not a regular file"},
      {"a pipe", [&] { ASSERT_EQ(mkfifo(setup.c_str(), 0644), 0); }, 3, "is not a regular file"},
      {"a link to a device", [&] { fs::create_symlink("/dev/urandom", setup); }, 3, "is not a regular file"},
      {"over 1 MiB", [&] { WriteFile(setup, SetupInf() + "[Strings]\n" + std::string(1 << 20, ';')); }, 3,
       "is larger than 1048576 bytes"},
      {"a long line that would end in a second entry",
       [&] {
         WriteFile(setup, "[InstallInfo]\nAppFullName=Halvorn Viewer\n[Install Files]\nreadme.txt," +
                              std::string(1100, ' ') + "viewer.ini,e,c,v,true\n");
       },
       3, "a line is longer than 1023 characters"},
  };
  for (const Case& c : cases) {
    std::error_code ignored;
    fs::remove_all(setup, ignored);
    c.make();
    Outcome install = Install("Victim");
    EXPECT_EQ(install.exit, c.exit) << c.what << "\n" << install.err;
    EXPECT_NE(install.err.find(c.message), std::string::npos) << c.what << ": " << install.err;
    EXPECT_EQ(VictimState(), victim) << c.what;
    EXPECT_EQ(SystemFiles(), system) << c.what;
  }
  fs::remove_all(setup);
  Outcome remove = Remove();
  EXPECT_EQ(remove.exit, 0) << remove.err;
  EXPECT_FALSE(InSystem("uninstall_Victim.inf"));
  EXPECT_FALSE(InSystem("pelistra.ax"));
}

// Another package's setup.inf cannot reach the installed one: not its record, not its entry.
TEST_F(InstallerProgram, OnePackageCannotDamageAnother) {
  InstallVictim();
  std::map<std::string, std::string> victim = VictimState();
  WriteFile(pkg_ + "intruder.ini", "intruder");
  for (const char* bait : {"uninstall_Victim.inf", "Uninstall_VICTIM.INF"}) WriteFile(pkg_ + bait, "[Install Files]\n");
  struct Case {
    const char* what;
    std::string info;
    std::string files;
    int exit;
    const char* message;
  } cases[] = {
      {"a file named like the record", "AppFullName=Intruder", "uninstall_Victim.inf\n", 3,
       "has the name of an uninstall record"},
      {"the same in other letters", "AppFullName=Intruder", "Uninstall_VICTIM.INF\n", 3,
       "has the name of an uninstall record"},
      {"the other package's AppFullName", "AppFullName=Halvorn Viewer", "", 3, "is the entry of another package"},
      {"the same in other letters", "AppFullName=HALVORN VIEWER", "", 3, "is the entry of another package"},
      {"a backslash alone", "AppFullName=\\", "", 0, "holds a \"\\\"; no entry is added"},
      {"a key inside the other entry", "AppFullName=Halvorn Viewer\\Sub", "", 0, "holds a \"\\\"; no entry is added"},
  };
  for (const Case& c : cases) {
    WriteFile(pkg_ + "setup.inf", "[InstallInfo]\n" + c.info + "\n\n[Install Files]\n" + c.files + "intruder.ini\n");
    Outcome install = Install("Intruder");
    EXPECT_EQ(install.exit, c.exit) << c.what << "\n" << install.err;
    EXPECT_NE(install.err.find(c.message), std::string::npos) << c.what << ": " << install.err;
    EXPECT_EQ(InSystem("intruder.ini"), c.exit == 0) << c.what;
    if (InSystem("uninstall_Intruder.inf")) {
      Outcome uninstall = Run({sys_ + "Install.exe", "uninstall_Intruder.inf"});
      EXPECT_EQ(uninstall.exit, 0) << c.what << "\n" << uninstall.err;
      EXPECT_FALSE(InSystem("intruder.ini")) << c.what;
    }
    EXPECT_EQ(VictimState(), victim) << c.what;
  }
  Outcome remove = Remove();
  EXPECT_EQ(remove.exit, 0) << remove.err;
  EXPECT_FALSE(InSystem("uninstall_Victim.inf"));
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
}

// Two packages ship the filter and the control: removing one leaves both, registered, to the other.
TEST_F(InstallerProgram, SharedComponentsStayWithThePackageThatStillListsThem) {
  InstallVictim();
  std::map<std::string, std::string> victim = VictimState();
  // The second package lacks its copy of the control: the installed one keeps its registration.
  WriteFile(pkg_ + "second.ini", "second");
  WriteFile(pkg_ + "setup.inf",
            "[InstallInfo]\nAppFullName=Second Viewer\n\n[Install Files]\n"
            "pelistra.ax,filter,{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A},1.0.0.1,true\n"
            "Test_Control.ocx,control,{5EE1D0C7-0000-4000-8000-00000000C7C7},1.0.0.7,true\nsecond.ini\n");
  Outcome second = Install("Second");
  ASSERT_EQ(second.exit, 0) << second.err;
  EXPECT_NE(second.err.find("Test_Control.ocx is not in the package"), std::string::npos) << second.err;
  EXPECT_EQ(VictimState(), victim);

  Outcome remove = Run({Bin("pelistra"), "programs", "remove", "Second Viewer"});
  EXPECT_EQ(remove.exit, 0) << remove.err;
  EXPECT_NE(remove.err.find("kept pelistra.ax: the package of uninstall_Victim.inf uses it too"), std::string::npos)
      << remove.err;
  EXPECT_NE(remove.err.find("kept Test_Control.ocx"), std::string::npos) << remove.err;
  EXPECT_FALSE(InSystem("second.ini"));
  EXPECT_FALSE(InSystem("uninstall_Second.inf"));
  EXPECT_EQ(VictimState(), victim);
  CoInitialize(nullptr);
  IUnknown* filter = nullptr;
  EXPECT_EQ(CoCreateInstance(kMuxerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&filter)),
            S_OK);
  SafeRelease(filter);
  CoFreeUnusedLibraries();
  CoUninitialize();

  // The last package that lists them takes them along.
  EXPECT_EQ(Remove().exit, 0);
  EXPECT_FALSE(InSystem("pelistra.ax"));
  EXPECT_FALSE(InSystem("test_control.ocx"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}"));
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTestControlClassKey));
}

TEST_F(InstallerProgram, PackageNameWithASpace) {
  WriteFile(pkg_ + "setup.inf", SetupInf());
  Outcome install = Install("a b");
  ASSERT_EQ(install.exit, 0) << install.err;
  EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, kEntryKey, "UninstallString"), sys_ + "install.exe \"uninstall_a b.inf\"");
  EXPECT_TRUE(InSystem("uninstall_a b.inf"));
  Outcome remove = Remove();
  EXPECT_EQ(remove.exit, 0) << remove.err;
  for (const char* gone : {"uninstall_a b.inf", "test_control.ocx", "pelistra.ax", "viewer.ini"})
    EXPECT_FALSE(InSystem(gone)) << gone;
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
}

// What did not happen is not reported as done.
TEST_F(InstallerProgram, NoSilentSuccess) {
  // A machine root without regsvr32, and none beside the program.
  fs::remove(sys_ + "regsvr32");
  WriteFile(pkg_ + "setup.inf", SetupInf());
  Outcome install = Install();
  EXPECT_EQ(install.exit, 0) << install.err;  // the run reached its end
  EXPECT_NE(install.err.find("regsvr32 could not be started; test_control.ocx is installed but not registered"),
            std::string::npos)
      << install.err;
  EXPECT_NE(install.err.find("pelistra.ax is installed but not registered"), std::string::npos) << install.err;
  EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTestControlClassKey));

  // A record that lost its content: the uninstall command ends, but the package is still listed.
  WriteFile(sys_ + "uninstall_Viewer.inf", "");
  Outcome remove = Remove();
  EXPECT_EQ(remove.exit, 6) << remove.err;
  EXPECT_NE(remove.err.find("\"Halvorn Viewer\" is still installed"), std::string::npos) << remove.err;
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
}

TEST_F(InstallerProgram, HelpChangesNothing) {
  WriteFile(pkg_ + "setup.inf", SetupInf());
  std::map<std::string, std::string> system = SystemFiles();
  for (const char* help : {"--help", "-h"}) {
    Outcome outcome = Run({pkg_ + "install", help});
    EXPECT_EQ(outcome.exit, 0) << help;
    EXPECT_EQ(outcome.out.rfind("usage: install setup.inf PackageName", 0), 0u) << help << ": " << outcome.out;
    EXPECT_EQ(SystemFiles(), system) << help;
  }
}

}  // namespace
