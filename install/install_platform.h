// The platform operations the installer uses, as one seam: the real platform in the program,
// a scripted one in tests (answers, windows, files in use, launches and pauses recorded).
// Each method has the platform call's name and arguments.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/shell/file_operations.h"
#include "platform/win/types.h"

class InstallPlatform {
 public:
  // ShowWindow(GetConsoleWindow(), SW_HIDE).
  virtual void HideConsoleWindow() = 0;
  // Of the program itself.
  virtual DWORD GetModuleFileNameA(LPSTR buffer, DWORD size) = 0;
  virtual UINT GetSystemDirectoryA(LPSTR buffer, UINT size) = 0;
  // A text-mode stream ("r" or "w"), or null.
  virtual FILE* OpenTextFile(const char* path, const char* mode) = 0;
  virtual BOOL CopyFileA(LPCSTR from, LPCSTR to, BOOL failIfExists) = 0;
  virtual BOOL DeleteFileA(LPCSTR path) = 0;
  virtual DWORD GetFileAttributesA(LPCSTR path) = 0;
  virtual BOOL GetFileAttributesExA(LPCSTR path, WIN32_FILE_ATTRIBUTE_DATA* data) = 0;
  // The names of the files in a folder (ending in the separator); empty when it cannot be read.
  virtual std::vector<std::string> ListFiles(const std::string& folder) = 0;
  // ERROR_SUCCESS when the existing file could be opened for writing, without changing it.
  virtual DWORD CheckFileWritableA(LPCSTR path) = 0;
  virtual HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                  int show) = 0;
  virtual void Sleep(DWORD milliseconds) = 0;
  virtual HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) = 0;
  virtual HWND GetTopWindow(HWND parent) = 0;
  virtual int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) = 0;
  // Under HKEY_LOCAL_MACHINE.
  virtual LONG RegCreateKeyExA(LPCSTR keyPath, REGSAM access, HKEY* key) = 0;
  virtual LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD type, const BYTE* data, DWORD size) = 0;
  virtual LONG RegOpenKeyExA(LPCSTR keyPath, REGSAM access, HKEY* key) = 0;
  virtual LONG RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* type, BYTE* data, DWORD* size) = 0;
  virtual LONG RegCloseKey(HKEY key) = 0;
  virtual LONG RegDeleteKeyA(LPCSTR keyPath) = 0;
  // Standard output (the progress text) and standard error (the installer's own messages).
  virtual void WriteOutput(const std::string& text) = 0;
  virtual void WriteError(const std::string& text) = 0;

 protected:
  ~InstallPlatform() = default;
};

// The platform this program runs on.
InstallPlatform& RealInstallPlatform();
