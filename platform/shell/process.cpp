#include "platform/shell/process.h"

#include <spawn.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/shell/system_lookup.h"
#include "platform/win/event.h"
#include "platform/win/last_error.h"
#include "platform/win/status.h"

extern char** environ;

namespace {

struct Children {
  std::mutex lock;
  std::condition_variable ended;
  int running = 0;                       // started by ShellExecuteA and not yet ended
  std::map<uintptr_t, DWORD> exitCodes;  // by process handle
};

Children& State() {
  static auto* children = new Children;  // reaper threads may outlive static destruction
  return *children;
}

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

// Waits for the child on a thread of its own, so the caller never waits and no zombie is left.
void Reap(pid_t pid, HANDLE process) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  DWORD code = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status))
                                 : 128u + static_cast<DWORD>(WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  Children& state = State();
  std::lock_guard<std::mutex> hold(state.lock);
  if (process) {
    state.exitCodes[reinterpret_cast<uintptr_t>(process)] = code;
    SetEvent(process);
  } else {
    --state.running;
    state.ended.notify_all();
  }
}

// Starts `program` with `args` (args[0] included); `process` (may be null) is set when it ends.
DWORD Spawn(const std::string& program, const std::vector<std::string>& args, const char* directory,
            HANDLE process, pid_t* started = nullptr) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (directory && *directory) posix_spawn_file_actions_addchdir_np(&actions, directory);
  Children& state = State();
  std::unique_lock<std::mutex> hold(state.lock);
  pid_t pid = 0;
  int err = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return Win32ErrorFromErrno(err);
  if (started) *started = pid;
  if (process) state.exitCodes[reinterpret_cast<uintptr_t>(process)] = STILL_ACTIVE;
  else ++state.running;
  hold.unlock();
  try {
    std::thread(Reap, pid, process).detach();
  } catch (const std::system_error&) {
    Reap(pid, process);  // no thread to be had: wait here rather than leave a zombie
  }
  return ERROR_SUCCESS;
}

bool IsCommandInterpreter(const char* file) {
  return strcasecmp(file, "cmd.exe") == 0 || strcasecmp(file, "cmd") == 0;
}

// ` /C "regsvr32 /s PATH"` as argument words {regsvr32, /s, PATH}; empty when it is another form.
std::vector<std::string> InterpreterCommand(const std::string& parameters) {
  size_t at = 0;
  while (at < parameters.size() && IsSpace(parameters[at])) ++at;
  if (parameters.compare(at, 2, "/C") != 0 && parameters.compare(at, 2, "/c") != 0) return {};
  at += 2;
  if (at < parameters.size() && !IsSpace(parameters[at])) return {};
  while (at < parameters.size() && IsSpace(parameters[at])) ++at;
  std::string command = parameters.substr(at);
  // As the interpreter does with /C: a leading quote and the last quote are removed.
  if (!command.empty() && command.front() == '"') {
    size_t last = command.rfind('"');
    command = last == 0 ? command.substr(1) : command.substr(1, last - 1) + command.substr(last + 1);
  }
  at = 0;
  while (at < command.size() && IsSpace(command[at])) ++at;
  size_t end = at;
  while (end < command.size() && !IsSpace(command[end])) ++end;
  std::string program = command.substr(at, end - at);
  if (strcasecmp(program.c_str(), "regsvr32") != 0 && strcasecmp(program.c_str(), "regsvr32.exe") != 0) return {};
  std::vector<std::string> words{program};
  at = end;
  for (;;) {
    while (at < command.size() && IsSpace(command[at])) ++at;
    bool isSwitch = at + 1 < command.size() && (command[at] == '/' || command[at] == '-') &&
                    (at + 2 == command.size() || IsSpace(command[at + 2]));
    if (!isSwitch) break;
    words.push_back(command.substr(at, 2));
    at += 2;
  }
  if (at < command.size()) words.push_back(command.substr(at));  // the path, as it stands
  return words;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  for (;;) {
    while (at < line.size() && IsSpace(line[at])) ++at;
    if (at == line.size()) return words;
    std::string word;
    bool quoted = false;
    while (at < line.size() && (quoted || !IsSpace(line[at]))) {
      if (line[at] == '\\') {
        size_t count = 0;
        while (at < line.size() && line[at] == '\\') ++count, ++at;
        if (at < line.size() && line[at] == '"') {
          word.append(count / 2, '\\');
          if (count % 2) {
            word += '"';
            ++at;
          }
        } else {
          word.append(count, '\\');
        }
        continue;
      }
      if (line[at] == '"') {
        // Inside quotes, a doubled quote is a literal one.
        if (quoted && at + 1 < line.size() && line[at + 1] == '"') {
          word += '"';
          at += 2;
          continue;
        }
        quoted = !quoted;
        ++at;
        continue;
      }
      word += line[at++];
    }
    words.push_back(std::move(word));
  }
}

extern "C" HINSTANCE ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory, int) {
  auto result = [](DWORD code) { return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(code)); };
  if (!file) return result(ERROR_FILE_NOT_FOUND);
  if (operation && strcasecmp(operation, "open") != 0) return result(SE_ERR_NOASSOC);
  try {
    std::vector<std::string> words;
    if (IsCommandInterpreter(file)) {
      words = InterpreterCommand(parameters ? parameters : "");
      if (words.empty()) return result(SE_ERR_NOASSOC);
    } else {
      words = SplitCommandLine(parameters ? parameters : "");
      words.insert(words.begin(), file);
    }
    std::string program = FindProgram(words.front());
    if (program.empty()) return result(ERROR_FILE_NOT_FOUND);
    DWORD error = Spawn(program, words, directory, nullptr);
    return result(error == ERROR_SUCCESS ? 42 : error);
  } catch (const std::bad_alloc&) {
    return result(0);  // out of memory, as the platform reports it
  }
}

extern "C" BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine, void*, void*, BOOL, DWORD, LPVOID,
                               LPCSTR currentDirectory, STARTUPINFOA*, PROCESS_INFORMATION* information) {
  if (!information || (!applicationName && !commandLine)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    std::string line = commandLine ? commandLine : "";
    std::string program;
    std::vector<std::string> words;
    if (applicationName) {
      program = FindProgram(applicationName);
      words = SplitCommandLine(line);
      if (words.empty()) words.push_back(applicationName);
    } else {
      size_t start = 0;
      while (start < line.size() && IsSpace(line[start])) ++start;
      std::string rest;
      if (start < line.size() && line[start] == '"') {
        size_t close = line.find('"', start + 1);
        std::string name = line.substr(start + 1, close == std::string::npos ? std::string::npos : close - start - 1);
        program = FindProgram(name);
        words.push_back(name);
        rest = close == std::string::npos ? std::string() : line.substr(close + 1);
      } else {
        // The shortest run of words that names a program, as the platform tries an unquoted path.
        for (size_t end = start; end <= line.size(); ++end) {
          if (end < line.size() && !IsSpace(line[end])) continue;
          std::string name = line.substr(start, end - start);
          if (!name.empty() && !(program = FindProgram(name)).empty()) {
            words.push_back(name);
            rest = line.substr(end);
            break;
          }
        }
      }
      for (std::string& word : SplitCommandLine(rest)) words.push_back(std::move(word));
    }
    if (program.empty()) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
    HANDLE process = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!process) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    pid_t pid = 0;
    DWORD error = Spawn(program, words, currentDirectory, process, &pid);
    if (error != ERROR_SUCCESS) {
      CloseHandle(process);
      SetLastError(error);
      return FALSE;
    }
    *information = PROCESS_INFORMATION{process, nullptr, static_cast<DWORD>(pid), 0};
    return TRUE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

extern "C" BOOL GetExitCodeProcess(HANDLE process, DWORD* exitCode) {
  Children& state = State();
  std::lock_guard<std::mutex> hold(state.lock);
  auto found = state.exitCodes.find(reinterpret_cast<uintptr_t>(process));
  if (found == state.exitCodes.end() || !exitCode) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = found->second;
  return TRUE;
}

void WaitForStartedProcesses() {
  Children& state = State();
  std::unique_lock<std::mutex> hold(state.lock);
  state.ended.wait(hold, [&] { return state.running == 0; });
}
