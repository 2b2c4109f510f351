#include <cstdio>
#include <filesystem>

#include "install/install_platform.h"
#include "platform/registry/registry.h"
#include "platform/shell/desktop.h"
#include "platform/shell/file_in_use.h"
#include "platform/shell/file_operations.h"
#include "platform/shell/process.h"
#include "platform/shell/text_file.h"
#include "platform/win/module.h"
#include "platform/win/sync.h"

namespace {

class RealPlatform final : public InstallPlatform {
 public:
  void HideConsoleWindow() override { ::ShowWindow(::GetConsoleWindow(), SW_HIDE); }
  DWORD GetModuleFileNameA(LPSTR buffer, DWORD size) override { return ::GetModuleFileNameA(nullptr, buffer, size); }
  UINT GetSystemDirectoryA(LPSTR buffer, UINT size) override { return ::GetSystemDirectoryA(buffer, size); }
  FILE* OpenTextFile(const char* path, const char* mode) override { return ::OpenTextFile(path, mode); }
  BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) override { return ::CopyFileA(from, to, failIfExists); }
  BOOL DeleteFileA(LPCSTR path) override { return ::DeleteFileA(path); }
  DWORD GetFileAttributesA(LPCSTR path) override { return ::GetFileAttributesA(path); }
  BOOL GetFileAttributesExA(LPCSTR path, WIN32_FILE_ATTRIBUTE_DATA* data) override {
    return ::GetFileAttributesExA(path, GetFileExInfoStandard, data);
  }
  std::vector<std::string> ListFiles(const std::string& folder) override {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
      if (it->is_regular_file(error)) names.push_back(it->path().filename().string());
    return names;
  }
  DWORD CheckFileWritableA(LPCSTR path) override { return ::CheckFileWritableA(path); }
  HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                          int show) override {
    return ::ShellExecuteA(owner, operation, file, parameters, directory, show);
  }
  void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
  HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) override { return ::FindWindowW(className, windowName); }
  HWND GetTopWindow(HWND parent) override { return ::GetTopWindow(parent); }
  int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) override {
    return ::MessageBoxA(owner, text, caption, type);
  }
  LONG RegCreateKeyExA(LPCSTR keyPath, REGSAM access, HKEY* key) override {
    DWORD disposition = 0;
    return ::RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key,
                             &disposition);
  }
  LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD type, const BYTE* data, DWORD size) override {
    return ::RegSetValueExA(key, valueName, 0, type, data, size);
  }
  LONG RegOpenKeyExA(LPCSTR keyPath, REGSAM access, HKEY* key) override {
    return ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, access, key);
  }
  LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* type, BYTE* data, DWORD* size) override {
    return ::RegQueryValueExA(key, valueName, nullptr, type, data, size);
  }
  LONG RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }
  LONG RegDeleteKeyA(LPCSTR keyPath) override { return ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath); }
  void WriteOutput(const std::string& text) override {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }
  void WriteError(const std::string& text) override { std::fputs(text.c_str(), stderr); }
};

}  // namespace

InstallPlatform& RealInstallPlatform() {
  static RealPlatform platform;
  return platform;
}
