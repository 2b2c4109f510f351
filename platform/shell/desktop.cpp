#include "platform/shell/desktop.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win/last_error.h"
#include "platform/win/text.h"

namespace {

constexpr const char* kBrowserNames[] = {"iexplore",        "iexplore.exe",  "firefox", "firefox-esr",
                                         "firefox-bin",     "chrome",        "chromium", "chromium-browse",
                                         "google-chrome",   "msedge"};

bool IsBrowser(const std::string& name) {
  for (const char* browser : kBrowserNames)
    if (strcasecmp(name.c_str(), browser) == 0) return true;
  return false;
}

// A browser process's window handle (made from its process id), or null.
HWND BrowserWindow() {
  DIR* proc = opendir("/proc");
  if (!proc) return nullptr;
  HWND window = nullptr;
  while (dirent* entry = readdir(proc)) {
    if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
    std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && IsBrowser(name)) {
      window = reinterpret_cast<HWND>((std::strtoull(entry->d_name, nullptr, 10) << 4) | 0x2);
      break;
    }
  }
  closedir(proc);
  return window;
}

struct Button {
  const char* word;
  int id;
};

std::vector<Button> ButtonsOf(UINT type) {
  switch (type & 0xF) {
    case MB_OKCANCEL: return {{"ok", IDOK}, {"cancel", IDCANCEL}};
    case MB_ABORTRETRYIGNORE: return {{"abort", IDABORT}, {"retry", IDRETRY}, {"ignore", IDIGNORE}};
    case MB_YESNOCANCEL: return {{"yes", IDYES}, {"no", IDNO}, {"cancel", IDCANCEL}};
    case MB_YESNO: return {{"yes", IDYES}, {"no", IDNO}};
    case MB_RETRYCANCEL: return {{"retry", IDRETRY}, {"cancel", IDCANCEL}};
    default: return {{"ok", IDOK}};
  }
}

bool IsAnswerWord(const std::string& word) {
  for (const char* known : {"ok", "cancel", "abort", "retry", "ignore", "yes", "no"})
    if (strcasecmp(word.c_str(), known) == 0) return true;
  return false;
}

// The button an answer names: the whole word or its first letter. A box with one button is
// dismissed by any answer.
int ButtonFor(const std::vector<Button>& buttons, const std::string& answer, bool letterAllowed) {
  for (const Button& button : buttons) {
    if (strcasecmp(answer.c_str(), button.word) == 0) return button.id;
    if (letterAllowed && answer.size() == 1 && std::tolower(static_cast<unsigned char>(answer[0])) == button.word[0])
      return button.id;
  }
  if (buttons.size() == 1 && IsAnswerWord(answer)) return buttons.front().id;
  return 0;
}

std::string ReadTerminalLine() {
  std::string line;
  char c;
  for (;;) {
    ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got <= 0) return got == 0 && line.empty() ? std::string("\x04") : line;  // end of input
    if (c == '\n') return line;
    line += c;
  }
}

std::string Trimmed(std::string text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  return text.substr(start);
}

}  // namespace

extern "C" HWND GetConsoleWindow() { return nullptr; }

extern "C" BOOL ShowWindow(HWND, int) { return FALSE; }

extern "C" HWND FindWindowA(LPCSTR className, LPCSTR windowName) {
  if (!className || windowName || strcasecmp(className, "IEFrame") != 0) return nullptr;
  return BrowserWindow();
}

extern "C" HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
  if (!className || windowName) return nullptr;
  std::string narrow = WideToUtf8(className);
  return FindWindowA(narrow.c_str(), nullptr);
}

extern "C" HWND GetTopWindow(HWND parent) { return parent ? nullptr : BrowserWindow(); }

extern "C" int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  std::vector<Button> buttons = ButtonsOf(type);
  std::string choices;
  for (const Button& button : buttons) choices += std::string(choices.empty() ? "" : ", ") + button.word;
  std::fprintf(stderr, "\n%s\n%s\n", caption ? caption : "Error", text ? text : "");
  if (const char* answer = std::getenv("PELISTRA_MESSAGEBOX"); answer && *answer) {
    int id = ButtonFor(buttons, Trimmed(answer), false);
    if (id) {
      std::fprintf(stderr, "[%s: answered %s by PELISTRA_MESSAGEBOX]\n", choices.c_str(), answer);
      return id;
    }
    std::fprintf(stderr, "[%s: PELISTRA_MESSAGEBOX=%s is none of these; the box cannot be answered]\n",
                 choices.c_str(), answer);
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
  }
  if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
    for (;;) {
      std::fprintf(stderr, "[%s]? ", choices.c_str());
      std::fflush(stderr);
      std::string line = ReadTerminalLine();
      if (line == "\x04") break;
      if (int id = ButtonFor(buttons, Trimmed(line), true)) return id;
    }
  }
  std::fprintf(stderr, "[%s: no terminal and no PELISTRA_MESSAGEBOX; the box cannot be shown]\n", choices.c_str());
  SetLastError(ERROR_NOT_SUPPORTED);
  return 0;
}
