// regsvr32 [/u] [/s] PATH...: loads each module and calls its DllRegisterServer (or, with /u,
// DllUnregisterServer) inside one registry transaction, so every call fully applies or not at all.
// Exit codes as the platform's tool has them: 0 done, 1 bad command line, 3 module not loadable,
// 4 export missing, 5 the call failed. /s keeps it quiet.
#include <strings.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "platform/win/module.h"

namespace {

enum ExitCode { kDone = 0, kBadArguments = 1, kLoadFailed = 3, kNoEntryPoint = 4, kCallFailed = 5 };

using RegistrationProc = HRESULT (*)();

// Any failure: it makes the transaction roll back, and the call's own status is what is reported.
constexpr LONG kCallRefused = 1;

struct Options {
  bool unregister = false;
  bool silent = false;
  std::vector<std::string> paths;
};

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.size() == 2 && (arg[0] == '/' || arg[0] == '-')) {
      if (arg[1] == 'u' || arg[1] == 'U') options->unregister = true;
      else if (arg[1] == 's' || arg[1] == 'S') options->silent = true;
      else return false;
    } else {
      options->paths.push_back(arg);
    }
  }
  return !options->paths.empty();
}

ExitCode Run(const std::string& path, const Options& options) {
  const char* entry = options.unregister ? "DllUnregisterServer" : "DllRegisterServer";
  HMODULE module = LoadLibraryA(path.c_str());
  if (!module) {
    if (!options.silent)
      std::fprintf(stderr, "regsvr32: cannot load module %s (error %u): %s\n", path.c_str(),
                   static_cast<unsigned>(GetLastError()), ModuleLoadFailureText().c_str());
    return kLoadFailed;
  }
  auto proc = reinterpret_cast<RegistrationProc>(GetProcAddress(module, entry));
  if (!proc) {
    if (!options.silent) std::fprintf(stderr, "regsvr32: %s has no entry point %s\n", path.c_str(), entry);
    FreeLibrary(module);
    return kNoEntryPoint;
  }
  // The call is one registry transaction: no other registration runs between its steps, and a
  // failed call leaves nothing behind.
  HRESULT hr = E_FAIL;
  bool called = false;
  LONG result = RegistryTransaction([&] {
    called = true;
    hr = proc();
    return SUCCEEDED(hr) ? static_cast<LONG>(ERROR_SUCCESS) : kCallRefused;
  });
  // The registry's own failure (the transaction could not begin or commit) when the call had none.
  if (result != static_cast<LONG>(ERROR_SUCCESS) && (!called || SUCCEEDED(hr)))
    hr = HRESULT_FROM_WIN32(static_cast<DWORD>(result));
  FreeLibrary(module);
  if (FAILED(hr)) {
    if (!options.silent)
      std::fprintf(stderr, "regsvr32: %s in %s failed with error 0x%08X\n", entry, path.c_str(),
                   static_cast<unsigned>(hr));
    return kCallFailed;
  }
  if (!options.silent) std::printf("%s in %s succeeded.\n", entry, path.c_str());
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) {
    if (!options.silent) std::fprintf(stderr, "usage: regsvr32 [/u] [/s] PATH...\n");
    return kBadArguments;
  }
  CoInitialize(nullptr);
  ExitCode result = kDone;
  for (const std::string& path : options.paths) {
    ExitCode code = Run(path, options);
    if (result == kDone) result = code;
  }
  CoUninitialize();
  return result;
}
