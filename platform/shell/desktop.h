// The desktop as the installer sees it: console window, top-level windows and message boxes.
//
// There are no windows here, only processes. A top-level window of the browser class "IEFrame"
// exists while a browser process runs: a process whose command name (/proc/PID/comm) is one of
// iexplore, iexplore.exe, firefox, firefox-esr, firefox-bin, chrome, chromium, chromium-browse
// (the kernel keeps 15 characters), google-chrome, msedge, letter case ignored. No other class
// has windows.
//
// A message box is answered by PELISTRA_MESSAGEBOX when it is set (ok, cancel, abort, retry,
// ignore, yes, no: an unattended run, and tests); otherwise it is asked on the terminal when
// standard input and standard error are both terminals; otherwise it cannot be shown and returns 0
// with the last error ERROR_NOT_SUPPORTED. Its caption and text go to standard error in every case.
#pragma once

#include "platform/win/types.h"

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
constexpr UINT MB_YESNOCANCEL = 0x3;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_RETRYCANCEL = 0x5;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONWARNING = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;

extern "C" {
// No console window exists here: null, and hiding it is nothing to do.
HWND GetConsoleWindow();
BOOL ShowWindow(HWND window, int command);
// A top-level window of the class, or null. A window title is never matched (no window has one).
HWND FindWindowA(LPCSTR className, LPCSTR windowName);
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
// The top window of the Z order: a browser window when one exists; null (the desktop) otherwise.
HWND GetTopWindow(HWND parent);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
}
