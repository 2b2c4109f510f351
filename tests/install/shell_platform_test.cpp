// The real shell platform: text-mode files, the in-use test, file lookup that ignores letter case
// in the system directory, launching regsvr32 without a shell, command lines, the browser window
// and message boxes.
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry/registry.h"
#include "platform/shell/desktop.h"
#include "platform/shell/file_in_use.h"
#include "platform/shell/file_operations.h"
#include "platform/shell/machine_root.h"
#include "platform/shell/process.h"
#include "platform/shell/text_file.h"
#include "platform/win/event.h"
#include "platform/win/last_error.h"
#include "tests/install/test_control.h"
#include "tests/registry/temp_machine_root.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string BinDirectory() { return PELISTRA_BIN_DIR "/"; }

class ShellPlatform : public TempMachineRoot {
 protected:
  void SetUp() override {
    TempMachineRoot::SetUp();
    ASSERT_EQ(EnsureMachineRoot(), S_OK);
    sys_ = SystemDirectoryPath();
  }
  std::string sys_;
};

TEST_F(ShellPlatform, TextFilesStoreLfAsCrLf) {
  std::string path = root() + "/text.inf";
  FILE* out = OpenTextFile(path.c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fputs("a\nb\r\nc", out);
  std::fclose(out);
  EXPECT_EQ(ReadFile(path), "a\r\nb\r\r\nc");

  // CR LF reads as LF, also across the stream's buffer; a lone CR stays.
  std::string bytes = std::string(4095, 'x') + "\r\n" + "y\rz\r\r\n\r";
  WriteFile(path, bytes);
  FILE* in = OpenTextFile(path.c_str(), "r");
  ASSERT_NE(in, nullptr);
  std::string text;
  for (int c; (c = std::fgetc(in)) != EOF;) text += static_cast<char>(c);
  std::fclose(in);
  EXPECT_EQ(text, std::string(4095, 'x') + "\n" + "y\rz\r\n\r");

  EXPECT_EQ(OpenTextFile((root() + "/missing.inf").c_str(), "r"), nullptr);
  EXPECT_EQ(OpenTextFile(path.c_str(), "r+"), nullptr);
}

// What is not a file says so, and opening a pipe to read it does not wait for a writer.
TEST_F(ShellPlatform, AttributesTellFilesFromPipesAndDevices) {
  WriteFile(root() + "/file", "12345");
  ASSERT_EQ(mkfifo((root() + "/pipe").c_str(), 0644), 0);
  std::filesystem::create_symlink("/dev/urandom", root() + "/random");
  struct Case {
    std::string path;
    DWORD attributes;
    DWORD size;
  } cases[] = {
      {root() + "/file", FILE_ATTRIBUTE_NORMAL, 5},
      {root(), FILE_ATTRIBUTE_DIRECTORY, 0},
      {root() + "/pipe", FILE_ATTRIBUTE_DEVICE, 0},
      {"/dev/null", FILE_ATTRIBUTE_DEVICE, 0},
      {root() + "/random", FILE_ATTRIBUTE_DEVICE, 0},
  };
  for (const Case& c : cases) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExA(c.path.c_str(), GetFileExInfoStandard, &data)) << c.path;
    EXPECT_EQ(data.dwFileAttributes, c.attributes) << c.path;
    EXPECT_EQ(GetFileAttributesA(c.path.c_str()), c.attributes) << c.path;
    EXPECT_EQ(data.nFileSizeLow, c.size) << c.path;
    EXPECT_EQ(data.nFileSizeHigh, 0u) << c.path;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  EXPECT_FALSE(GetFileAttributesExA((root() + "/missing").c_str(), GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

  FILE* pipe = OpenTextFile((root() + "/pipe").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(std::fgetc(pipe), EOF);  // no writer: the end at once
  std::fclose(pipe);
}

TEST_F(ShellPlatform, SystemDirectory) {
  char buffer[MAX_PATH];
  UINT length = GetSystemDirectoryA(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer, length) + "/", sys_);
  EXPECT_EQ(GetSystemDirectoryA(buffer, 3), length + 1);  // too small: the size needed
  EXPECT_TRUE(std::filesystem::exists(sys_ + "regsvr32"));
}

TEST_F(ShellPlatform, SystemDirectoryNamesIgnoreLetterCase) {
  WriteFile(sys_ + "Install.exe", "old");
  WriteFile(root() + "/new", "new");
  EXPECT_NE(GetFileAttributesA((sys_ + "INSTALL.EXE").c_str()), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(CopyFileA((root() + "/new").c_str(), (sys_ + "install.exe").c_str(), FALSE));
  EXPECT_EQ(ReadFile(sys_ + "Install.exe"), "new");  // replaced, not a second file
  EXPECT_FALSE(std::filesystem::exists(sys_ + "install.exe"));
  EXPECT_FALSE(CopyFileA((root() + "/new").c_str(), (sys_ + "install.exe").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(DeleteFileA((sys_ + "install.EXE").c_str()));
  EXPECT_FALSE(std::filesystem::exists(sys_ + "Install.exe"));
  // Elsewhere names are exact.
  EXPECT_EQ(GetFileAttributesA((root() + "/NEW").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(DeleteFileA((root() + "/NEW").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(CopyFileA((root() + "/missing").c_str(), (root() + "/x").c_str(), FALSE));
  EXPECT_FALSE(DeleteFileA(sys_.c_str()));  // a folder is no file
}

TEST_F(ShellPlatform, CopyKeepsContentModeAndTime) {
  std::string from = root() + "/module.ax", to = sys_ + "module.ax";
  WriteFile(from, std::string(200000, 'm'));
  chmod(from.c_str(), 0755);
  const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  utimensat(AT_FDCWD, from.c_str(), times, 0);
  ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
  struct stat info;
  ASSERT_EQ(stat(to.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
  EXPECT_EQ(ReadFile(to), ReadFile(from));
}

// Runs `work` in a child process that reports readiness through a pipe and stays until killed.
pid_t StartHolder(const std::function<void()>& work) {
  int ready[2];
  EXPECT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    work();
    char c = 1;
    (void)!write(ready[1], &c, 1);
    for (;;) pause();
  }
  close(ready[1]);
  char c;
  EXPECT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  return pid;
}

void Stop(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST_F(ShellPlatform, FileInUseWhileMappedOrLocked) {
  std::string path = root() + "/control.ocx";
  WriteFile(path, "module bytes");
  struct stat before;
  stat(path.c_str(), &before);
  EXPECT_EQ(CheckFileWritableA((root() + "/missing").c_str()), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CheckFileWritableA(path.c_str()), ERROR_SUCCESS);

  pid_t mapper = StartHolder([&] {
    int fd = open(path.c_str(), O_RDONLY);
    mmap(nullptr, 12, PROT_READ, MAP_PRIVATE, fd, 0);
  });
  EXPECT_EQ(CheckFileWritableA(path.c_str()), ERROR_SHARING_VIOLATION);
  Stop(mapper);
  EXPECT_EQ(CheckFileWritableA(path.c_str()), ERROR_SUCCESS);

  for (bool posix : {false, true}) {
    pid_t locker = StartHolder([&] {
      int fd = open(path.c_str(), O_RDWR);
      if (posix) {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        fcntl(fd, F_SETLK, &lock);
      } else {
        flock(fd, LOCK_SH);
      }
    });
    EXPECT_EQ(CheckFileWritableA(path.c_str()), ERROR_SHARING_VIOLATION) << (posix ? "fcntl" : "flock");
    Stop(locker);
  }
  struct stat after;
  stat(path.c_str(), &after);
  EXPECT_EQ(ReadFile(path), "module bytes");
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(ShellPlatform, RegisteringNeverGoesThroughAShell) {
  // A folder name that a shell would act on, twice over.
  std::string folder = root() + "/a b;touch pwned1 $(touch pwned2) 'x' `touch pwned3`/";
  std::filesystem::create_directories(folder);
  std::string module = folder + "test control.ocx";
  ASSERT_TRUE(CopyFileA((BinDirectory() + "test_control.ocx").c_str(), module.c_str(), FALSE));
  std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(root());
  HINSTANCE result = ShellExecuteA(nullptr, "open", "cmd.exe", (" /C \"regsvr32 /s " + module + "\"").c_str(),
                                   nullptr, SW_HIDE);
  WaitForStartedProcesses();
  EXPECT_GT(reinterpret_cast<uintptr_t>(result), 32u);
  char path[1024];
  LONG size = sizeof path;
  ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, (kTestControlClassKey + std::string("\\InprocServer32")).c_str(), path,
                           &size),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(path), module);

  // The program name in other letters, and the unregister switch.
  ShellExecuteA(nullptr, nullptr, "CMD.EXE", (" /c \"REGSVR32.EXE /u /s " + module + "\"").c_str(), nullptr, SW_HIDE);
  WaitForStartedProcesses();
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTestControlKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  std::filesystem::current_path(cwd);
  for (const char* name : {"pwned1", "pwned2", "pwned3"}) {
    EXPECT_FALSE(std::filesystem::exists(root() + "/" + name)) << name;
    EXPECT_FALSE(std::filesystem::exists(folder + name)) << name;
  }

  // cmd.exe runs nothing but regsvr32; other verbs are not supported.
  EXPECT_LE(reinterpret_cast<uintptr_t>(ShellExecuteA(nullptr, "open", "cmd.exe", " /C \"rm -rf x\"", nullptr, 0)), 32u);
  EXPECT_LE(reinterpret_cast<uintptr_t>(ShellExecuteA(nullptr, "print", "cmd.exe", " /C \"regsvr32\"", nullptr, 0)),
            32u);
  EXPECT_LE(reinterpret_cast<uintptr_t>(ShellExecuteA(nullptr, "open", "no-such-program", "", nullptr, 0)), 32u);
}

// The arguments a started program received, one per line, and its exit status.
std::string StartAndWait(const std::string& commandLine, DWORD* exitCode) {
  std::string line = commandLine;
  STARTUPINFOA startup{};
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return "not started";
  EXPECT_EQ(WaitForSingleObject(process.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeProcess(process.hProcess, exitCode));
  CloseHandle(process.hProcess);
  return "started";
}

TEST_F(ShellPlatform, CommandLinesStartTheProgramTheyName) {
  std::string script = "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$PELISTRA_ROOT/args\"\nexit 7\n";
  std::string spaced = root() + "/dir with spaces/";
  std::filesystem::create_directories(spaced);
  for (const std::string& program : {spaced + "prog", sys_ + "Helper"}) {
    WriteFile(program, script);
    chmod(program.c_str(), 0755);
  }
  struct Case {
    std::string commandLine;
    std::string args;
  } cases[] = {
      {spaced + "prog one \"two three\"", "one\ntwo three\n"},       // unquoted path with spaces
      {"\"" + spaced + "prog\" a\\\"b c\\\\d", "a\"b\nc\\\\d\n"},  // quoted path
      {sys_ + "helper.exe x", "x\n"},                                // letter case and ".exe"
      {"HELPER.EXE \"\" y", "\ny\n"},                                // a bare name: the system directory
  };
  for (const Case& c : cases) {
    std::filesystem::remove(root() + "/args");
    DWORD exitCode = 0;
    EXPECT_EQ(StartAndWait(c.commandLine, &exitCode), "started") << c.commandLine;
    EXPECT_EQ(exitCode, 7u) << c.commandLine;
    EXPECT_EQ(ReadFile(root() + "/args"), c.args) << c.commandLine;
  }
  DWORD exitCode = 0;
  EXPECT_EQ(StartAndWait(root() + "/dir with nothing", &exitCode), "not started");
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(CommandLine, SplitsAsTheRuntimeDoes) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"", {}},
      {"  a  b\t c ", {"a", "b", "c"}},
      {"\"a b\" c", {"a b", "c"}},
      {"a\"b c\"d", {"ab cd"}},
      {"\"\"", {""}},
      {"a\\\\b", {"a\\\\b"}},            // backslashes without a quote stand
      {"a\\\"b", {"a\"b"}},              // 2n+1 backslashes: n and a quote
      {"\"a\\\\\" b", {"a\\", "b"}},     // 2n backslashes: n, and the quote closes
      {"\"a \"\"b\"\" c\"", {"a \"b\" c"}},  // a doubled quote inside quotes
  };
  for (const auto& [line, words] : cases) EXPECT_EQ(SplitCommandLine(line), words) << line;
}

TEST_F(ShellPlatform, BrowserWindowWhileABrowserRuns) {
  std::string browser = root() + "/iexplore";
  ASSERT_TRUE(CopyFileA("/bin/sleep", browser.c_str(), FALSE));
  pid_t pid = fork();
  if (pid == 0) {
    execl(browser.c_str(), "iexplore", "600", nullptr);
    _exit(127);
  }
  // The process has its name once exec is done.
  for (int i = 0; i < 500 && !FindWindowW(u"IEFrame", nullptr); ++i) usleep(10000);
  HWND window = FindWindowW(u"IEFrame", nullptr);
  EXPECT_NE(window, nullptr);
  EXPECT_EQ(FindWindowA("ieframe", nullptr), window);
  EXPECT_EQ(GetTopWindow(nullptr), window);
  EXPECT_EQ(FindWindowW(u"IEFrame", u"title"), nullptr);
  EXPECT_EQ(FindWindowA("Notepad", nullptr), nullptr);
  Stop(pid);
  EXPECT_EQ(GetConsoleWindow(), nullptr);
  EXPECT_FALSE(ShowWindow(GetConsoleWindow(), SW_HIDE));
}

TEST(MessageBox, UnattendedAnswers) {
  // No terminal: standard input from /dev/null.
  int savedInput = dup(STDIN_FILENO);
  int null = open("/dev/null", O_RDONLY);
  dup2(null, STDIN_FILENO);
  close(null);
  const UINT ari = MB_ABORTRETRYIGNORE | MB_ICONWARNING;
  const struct {
    const char* answer;
    UINT type;
    int result;
  } cases[] = {
      {"abort", ari, IDABORT}, {"Retry", ari, IDRETRY}, {" ignore\n", ari, IDIGNORE}, {"ok", ari, 0},
      {"maybe", ari, 0},       {"ok", MB_OK, IDOK},     {"abort", MB_OK, IDOK},       {"maybe", MB_OK, 0},
      {nullptr, MB_OK, 0},     {nullptr, ari, 0},
  };
  for (const auto& c : cases) {
    if (c.answer)
      setenv("PELISTRA_MESSAGEBOX", c.answer, 1);
    else
      unsetenv("PELISTRA_MESSAGEBOX");
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "Warning", c.type), c.result) << (c.answer ? c.answer : "(unset)");
    if (c.result == 0) {
      EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
    }
  }
  unsetenv("PELISTRA_MESSAGEBOX");
  dup2(savedInput, STDIN_FILENO);
  close(savedInput);
}

TEST(MessageBox, AsksOnTheTerminal) {
  unsetenv("PELISTRA_MESSAGEBOX");
  int terminal = -1;
  pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) _exit(MessageBoxA(nullptr, "Close it", "Warning", MB_ABORTRETRYIGNORE | MB_ICONWARNING));
  // An answer the box does not have is asked again; a letter names a button.
  const char typed[] = "later\nr\n";
  ASSERT_EQ(write(terminal, typed, sizeof typed - 1), static_cast<ssize_t>(sizeof typed - 1));
  std::string screen;
  char buffer[256];
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) screen.append(buffer, got);
  int status = 0;
  waitpid(pid, &status, 0);
  close(terminal);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), IDRETRY);
  EXPECT_NE(screen.find("Close it"), std::string::npos);
  EXPECT_NE(screen.find("[abort, retry, ignore]?"), std::string::npos);
}

}  // namespace
