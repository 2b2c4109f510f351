// The installer's platform for tests: files are real (a package folder and a system directory in
// a temporary folder), everything else is scripted and recorded. Events read with the folders
// shortened to "PKG/" and "SYS/":
//   copy PKG/a.ocx SYS/a.ocx      (" failed" appended when the copy failed)
//   launch  /C "regsvr32 /s SYS/a.ocx"
//   sleep 1000
//   box Warning: TEXT [buttons]   (the answer comes from `answers`; 0 once they run out)
//   delete SYS/a.ocx
//   regdelete KEY                 (KEY below the Uninstall key)
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "install/driver.h"
#include "install/install_platform.h"
#include "install/uninstall_entry.h"
#include "platform/shell/desktop.h"
#include "platform/shell/file_operations.h"
#include "platform/shell/text_file.h"
#include "platform/win/text.h"

struct RegistryValue {
  DWORD type;
  std::string data;
};

class ScriptedPlatform final : public InstallPlatform {
 public:
  ScriptedPlatform(std::string packageDir, std::string systemDir)
      : packageDir_(std::move(packageDir)), systemDir_(std::move(systemDir)) {}

  // Script.
  std::string modulePath;       // the running program; the package's "install" unless set
  std::set<std::string> inUse;  // full paths that cannot be opened for writing
  bool browserOpen = false;
  std::deque<int> answers;

  // Record.
  std::vector<std::string> events;
  std::string output;
  std::string errors;
  std::map<std::string, std::map<std::string, RegistryValue>> registry;  // key path below Uninstall
  int consoleHidden = 0;

  void HideConsoleWindow() override { ++consoleHidden; }
  DWORD GetModuleFileNameA(LPSTR buffer, DWORD size) override {
    return Copy(modulePath.empty() ? packageDir_ + "install" : modulePath, buffer, size);
  }
  UINT GetSystemDirectoryA(LPSTR buffer, UINT size) override {
    std::string system = systemDir_.substr(0, systemDir_.size() - 1);
    DWORD written = Copy(system, buffer, size);
    return written == size ? static_cast<UINT>(system.size() + 1) : written;
  }
  FILE* OpenTextFile(const char* path, const char* mode) override { return ::OpenTextFile(path, mode); }
  BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) override {
    BOOL ok = ::CopyFileA(from, to, failIfExists);
    events.push_back("copy " + Short(from) + " " + Short(to) + (ok ? "" : " failed"));
    return ok;
  }
  BOOL DeleteFileA(LPCSTR path) override {
    events.push_back("delete " + Short(path));
    return ::DeleteFileA(path);
  }
  DWORD GetFileAttributesA(LPCSTR path) override { return ::GetFileAttributesA(path); }
  BOOL GetFileAttributesExA(LPCSTR path, WIN32_FILE_ATTRIBUTE_DATA* data) override {
    return ::GetFileAttributesExA(path, GetFileExInfoStandard, data);
  }
  std::vector<std::string> ListFiles(const std::string& folder) override {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    return names;
  }
  DWORD CheckFileWritableA(LPCSTR path) override {
    return inUse.count(path) ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
  }
  HINSTANCE ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR, int show) override {
    EXPECT_STREQ(operation, "open");
    EXPECT_STREQ(file, "cmd.exe");
    EXPECT_EQ(show, 0);  // hidden
    events.push_back("launch " + Short(parameters));
    return reinterpret_cast<HINSTANCE>(42);
  }
  void Sleep(DWORD milliseconds) override { events.push_back("sleep " + std::to_string(milliseconds)); }
  HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) override {
    EXPECT_EQ(WideToUtf8(className), "IEFrame");
    EXPECT_EQ(windowName, nullptr);
    return browserOpen ? reinterpret_cast<HWND>(0x100) : nullptr;
  }
  HWND GetTopWindow(HWND) override { return browserOpen ? reinterpret_cast<HWND>(0x100) : nullptr; }
  int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) override {
    std::string buttons = (type & 0xF) == MB_ABORTRETRYIGNORE ? "abort-retry-ignore" : (type & 0xF) == MB_OK ? "ok" : "?";
    if ((type & 0xF0) == MB_ICONWARNING) buttons += " warning-icon";
    events.push_back(std::string("box ") + caption + ": " + text + " [" + buttons + "]");
    if (answers.empty()) return 0;
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  LONG RegCreateKeyExA(LPCSTR keyPath, REGSAM access, HKEY* key) override {
    EXPECT_EQ(access, KEY_WRITE);
    std::string path = keyPath;
    EXPECT_EQ(path.rfind(kUninstallKeyPath, 0), 0u) << path;
    path = path.substr(std::string(kUninstallKeyPath).size());
    EXPECT_FALSE(path.empty()) << "the Uninstall key itself is never written";
    openKeys_.push_back(path);
    registry[path];
    *key = reinterpret_cast<HKEY>(openKeys_.size());
    return ERROR_SUCCESS;
  }
  LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD type, const BYTE* data, DWORD size) override {
    registry[openKeys_.at(reinterpret_cast<size_t>(key) - 1)][valueName] =
        RegistryValue{type, std::string(reinterpret_cast<const char*>(data), size)};
    return ERROR_SUCCESS;
  }
  LONG RegOpenKeyExA(LPCSTR keyPath, REGSAM access, HKEY* key) override {
    EXPECT_EQ(access, KEY_READ);
    std::string path = keyPath;
    EXPECT_EQ(path.rfind(kUninstallKeyPath, 0), 0u) << path;
    path = path.substr(std::string(kUninstallKeyPath).size());
    if (!registry.count(path)) return ERROR_FILE_NOT_FOUND;
    openKeys_.push_back(path);
    *key = reinterpret_cast<HKEY>(openKeys_.size());
    return ERROR_SUCCESS;
  }
  LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* type, BYTE* data, DWORD* size) override {
    const auto& values = registry[openKeys_.at(reinterpret_cast<size_t>(key) - 1)];
    auto found = values.find(valueName);
    if (found == values.end()) return ERROR_FILE_NOT_FOUND;
    *type = found->second.type;
    if (found->second.data.size() > *size) return ERROR_MORE_DATA;
    found->second.data.copy(reinterpret_cast<char*>(data), found->second.data.size());
    *size = static_cast<DWORD>(found->second.data.size());
    return ERROR_SUCCESS;
  }
  LONG RegCloseKey(HKEY) override { return ERROR_SUCCESS; }
  LONG RegDeleteKeyA(LPCSTR keyPath) override {
    std::string path = keyPath;
    EXPECT_EQ(path.rfind(kUninstallKeyPath, 0), 0u) << path;
    path = path.substr(std::string(kUninstallKeyPath).size());
    EXPECT_FALSE(path.empty()) << "the Uninstall key itself is never deleted";
    events.push_back("regdelete " + path);
    registry.erase(path);
    return ERROR_SUCCESS;
  }
  void WriteOutput(const std::string& text) override { output += text; }
  void WriteError(const std::string& text) override { errors += text; }

  // Events of one kind ("launch", "box"...), or all of them without the self copy.
  std::vector<std::string> EventsWithout(const std::string& prefix) const {
    std::vector<std::string> kept;
    for (const std::string& event : events)
      if (event.rfind(prefix, 0) != 0) kept.push_back(event);
    return kept;
  }

  std::string Short(const std::string& text) const {
    std::string result = text;
    for (auto [folder, tag] : {std::pair{packageDir_, "PKG/"}, std::pair{systemDir_, "SYS/"}})
      for (size_t at = result.find(folder); at != std::string::npos; at = result.find(folder))
        result.replace(at, folder.size(), tag);
    return result;
  }

 private:
  static DWORD Copy(const std::string& text, LPSTR buffer, DWORD size) {
    size_t length = std::min<size_t>(text.size(), size - 1);
    text.copy(buffer, length);
    buffer[length] = '\0';
    return text.size() >= size ? size : static_cast<DWORD>(length);
  }

  std::string packageDir_;
  std::string systemDir_;
  std::vector<std::string> openKeys_;
};

// A package folder and a system directory in a fresh temporary folder.
class InstallerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/pelistra-install-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = pattern;
    packageDir_ = base_ + "/package/";
    systemDir_ = base_ + "/system/";
    std::filesystem::create_directories(packageDir_);
    std::filesystem::create_directories(systemDir_);
    WriteFile(packageDir_ + "install", "the installer program");
    platform_ = std::make_unique<ScriptedPlatform>(packageDir_, systemDir_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }

  // A fresh package folder, system directory and platform, for the next case of a table.
  void Reset() {
    TearDown();
    SetUp();
  }

  static void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  }
  static bool Exists(const std::string& path) { return std::filesystem::exists(path); }

  // Runs the installer with these arguments (after the program name).
  int Run(const std::vector<std::string>& args) {
    std::vector<std::u16string> wide{u"install"};
    for (const std::string& arg : args) wide.push_back(Utf8ToWide(arg));
    std::vector<const WCHAR*> argv;
    for (const std::u16string& arg : wide) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    return InstallerMain(static_cast<int>(wide.size()), argv.data(), *platform_);
  }

  ScriptedPlatform& platform() { return *platform_; }
  const std::string& pkg() const { return packageDir_; }
  const std::string& sys() const { return systemDir_; }

 private:
  std::string base_;
  std::string packageDir_;
  std::string systemDir_;
  std::unique_ptr<ScriptedPlatform> platform_;
};
