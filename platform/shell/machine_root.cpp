#include "platform/shell/machine_root.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

std::string Absolute(const std::string& path) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(path, error);
  if (error) return path;
  std::string text = absolute.lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/tmp";
}

struct RootState {
  std::recursive_mutex lock;  // a preparer's own registry calls come back in on the same thread
  std::set<std::string> prepared;
  std::vector<MachineRootPreparer> preparers;
};

RootState& State() {
  static RootState* state = new RootState;  // never destroyed: used up to process exit
  return *state;
}

HRESULT MakeDirectory(const std::string& path) {
  std::error_code error;
  std::filesystem::create_directories(path, error);
  if (error) return HRESULT_FROM_WIN32(Win32ErrorFromErrno(error.value()));
  return S_OK;
}

// Copies `from` over `to` unless `to` already holds it (same size and time). The copy is written
// beside the target and renamed onto it, so a process that starts meanwhile sees the old file or
// the new one whole, and one that has the old file mapped keeps it.
void InstallFile(const std::string& from, const std::string& to) {
  struct stat source, target;
  if (stat(from.c_str(), &source) != 0) return;
  if (stat(to.c_str(), &target) == 0) {
    if (source.st_dev == target.st_dev && source.st_ino == target.st_ino) return;
    if (source.st_size == target.st_size && source.st_mtim.tv_sec == target.st_mtim.tv_sec &&
        source.st_mtim.tv_nsec == target.st_mtim.tv_nsec)
      return;
  }
  std::string temporary = to + ".part" + std::to_string(getpid());
  int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return;
  int out = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, source.st_mode & 07777);
  bool ok = out >= 0;
  char buffer[1 << 16];
  while (ok) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; ok && done < got;) {
      ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno != EINTR) ok = false;
      if (put > 0) done += put;
    }
  }
  close(in);
  if (out >= 0) {
    const timespec times[2] = {source.st_atim, source.st_mtim};
    ok = futimens(out, times) == 0 && ok;
    ok = close(out) == 0 && ok;
  }
  if (!ok || rename(temporary.c_str(), to.c_str()) != 0) unlink(temporary.c_str());
}

// The system directory comes with the platform library and regsvr32, taken from beside the
// platform library that this process runs (a build tree), or from the programs' folder next to
// it (an installed prefix: bin/ and lib/).
void InstallPlatformFiles() {
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&EnsureMachineRoot), &info) || !info.dli_fname) return;
  std::filesystem::path library = Absolute(info.dli_fname);
  std::string system = SystemDirectoryPath();
  InstallFile(library.string(), system + library.filename().string());
  std::filesystem::path regsvr32 = library.parent_path() / "regsvr32";
  std::error_code error;
  if (!std::filesystem::is_regular_file(regsvr32, error))
    regsvr32 = library.parent_path().parent_path() / "bin" / "regsvr32";
  InstallFile(regsvr32.string(), system + "regsvr32");
}

struct PlatformFilesPreparer {
  PlatformFilesPreparer() { AddMachineRootPreparer(&InstallPlatformFiles); }
} g_platformFilesPreparer;

}  // namespace

std::string MachineRootPath() {
  // Read each time: a test names a new root for each case.
  if (const char* root = std::getenv("PELISTRA_ROOT"); root && *root) return Absolute(root);
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base = data && data[0] == '/' ? std::string(data) : HomeDirectory() + "/.local/share";
  return Absolute(base + "/pelistra");
}

std::string SystemDirectoryPath() { return MachineRootPath() + "/system/"; }

std::string RegistryDatabasePath() { return MachineRootPath() + "/registry.db"; }

void AddMachineRootPreparer(MachineRootPreparer preparer) {
  RootState& state = State();
  std::lock_guard<std::recursive_mutex> hold(state.lock);
  state.preparers.push_back(preparer);
  // A root readied before this preparer came (a module loaded later) gets its work too.
  if (state.prepared.count(MachineRootPath())) preparer();
}

HRESULT EnsureMachineRoot() {
  RootState& state = State();
  try {
    std::string root = MachineRootPath();
    std::lock_guard<std::recursive_mutex> hold(state.lock);
    if (state.prepared.count(root)) return S_OK;
    HRESULT hr = MakeDirectory(root + "/system");
    if (FAILED(hr)) return hr;
    // Marked before the preparers run: their own registry calls come back here and must not
    // prepare again.
    state.prepared.insert(root);
    for (size_t i = 0; i < state.preparers.size(); ++i) state.preparers[i]();
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
