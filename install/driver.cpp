#include "install/driver.h"

#include "install/install_run.h"
#include "install/limits.h"
#include "install/run_context.h"
#include "install/uninstall_run.h"
#include "platform/win/codepage.h"
#include "platform/win/text.h"

namespace {

constexpr char kUsage[] =
    "usage: install setup.inf PackageName   (install the package described by setup.inf)\n"
    "       install RecordName              (remove a package)\n";

std::string Narrow(const WCHAR* text) {
  int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string narrow(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

// ModulePath, ModuleDir and SystemDir, or the reason they cannot be had within their limits.
std::string ComputePaths(InstallPlatform& platform, RunContext& context) {
  char module[kMaxModulePath + 1];
  DWORD length = platform.GetModuleFileNameA(module, sizeof module);
  if (length == 0) return "cannot find the program's own path";
  if (length > kMaxModulePath) return "the program's path is too long";  // cut short by the buffer
  context.ModulePath.assign(module, length);
  context.ModuleDir = context.ModulePath.substr(0, context.ModulePath.rfind('/') + 1);
  char system[kMaxSystemDir + 1];
  UINT systemLength = platform.GetSystemDirectoryA(system, sizeof system);
  if (systemLength == 0) return "cannot find the system directory";
  if (systemLength > kMaxSystemDir) return "the system directory's path is too long";
  context.SystemDir = std::string(system, systemLength) + "/";
  return {};
}

}  // namespace

int InstallerMain(int argc, const WCHAR* const* argv, InstallPlatform& platform) {
  platform.HideConsoleWindow();
  if (argc < 2 || !argv[1]) return kExitDone;
  // No package's record is named so: asking for help changes nothing.
  if (WideCompare(argv[1], u"--help") == 0 || WideCompare(argv[1], u"-h") == 0) {
    platform.WriteOutput(kUsage);
    return kExitDone;
  }
  bool install = WideCompare(argv[1], u"setup.inf") == 0;
  RunContext context;
  for (int i = 0; i < argc && argv[i]; ++i) context.arguments.push_back(Narrow(argv[i]));
  std::string packageName = install && argc > 2 && argv[2] ? context.arguments[2] : std::string();
  if (install && packageName.empty()) {
    platform.WriteError(kUsage);
    return kExitUsage;
  }
  platform.WriteOutput(install ? "Please wait while setup copies files to the installation folders!"
                               : "Please wait while delete files from the installation folders!");
  if (std::string problem = ComputePaths(platform, context); !problem.empty()) {
    platform.WriteError("\ninstall: " + problem + "; nothing was changed\n");
    return kExitRefused;
  }
  return install ? RunInstall(platform, context, packageName) : RunUninstall(platform, context);
}
