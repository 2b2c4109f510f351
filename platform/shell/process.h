// Starting programs. There is no command interpreter here: "cmd.exe" with /C "regsvr32 ..." starts
// regsvr32 itself with an argument vector, so nothing in a path (spaces, quotes, "$", ";") is ever
// interpreted. Programs are found by FindProgram (system_lookup.h): the system directory with
// letter case ignored, then beside the running program. Started processes are reaped by the
// platform as they end, so none is left a zombie.
#pragma once

#include <string>
#include <vector>

#include "platform/win/types.h"

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD SE_ERR_NOASSOC = 31;

struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX, dwY, dwXSize, dwYSize, dwXCountChars, dwYCountChars, dwFillAttribute, dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  BYTE* lpReserved2;
  HANDLE hStdInput, hStdOutput, hStdError;
};

struct PROCESS_INFORMATION {
  HANDLE hProcess;  // waitable (WaitForSingleObject), set when the process ends; CloseHandle it
  HANDLE hThread;   // always null here
  DWORD dwProcessId;
  DWORD dwThreadId;
};

extern "C" {
// Starts `file` with `parameters` and does not wait. "open" (or a null operation) is the only
// verb. For "cmd.exe" only the form ` /C "regsvr32 [switches] PATH"` is understood: the switches
// are the two-letter words before the path (/u, /s...), and PATH is the rest of the text as it
// stands. Other programs get their parameters split as the original's C runtime splits a command
// line. Returns a value above 32 on success, else an error code (ERROR_FILE_NOT_FOUND,
// SE_ERR_NOASSOC for a verb or cmd.exe command that is not supported).
HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory, int show);

// Starts the program a command line names, as the system's list of programs runs an uninstall
// command. With no application name, the program is the first word of the command line: quoted,
// or else the shortest run of words up to a space that names a program (so an unquoted path with
// spaces works). The process inherits the standard handles and the environment. The other
// arguments are accepted for their shape and not used (only currentDirectory is honoured).
BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, void* processAttributes, void* threadAttributes,
                    BOOL inheritHandles, DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                    STARTUPINFOA* startupInfo, PROCESS_INFORMATION* processInformation);
// STILL_ACTIVE while it runs; the exit status once it has ended (128 + the signal if one ended it).
BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode);
}

// The words of a command line, split as the original's C runtime does: white space separates,
// double quotes group, 2n backslashes before a quote give n and the quote groups, 2n+1 give n and
// a literal quote; other backslashes stand as they are.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Waits until every process that ShellExecuteA started from this process has ended (tests, and
// programs that must see the work of what they started).
void WaitForStartedProcesses();
