#include "platform/win/module.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <vector>

#include "platform/shell/machine_root.h"
#include "platform/shell/system_lookup.h"
#include "platform/win/status.h"

namespace {

struct Module {
  void* library;  // the dynamic loader's handle
  std::string path;
  int references;
};

// The loader lock: held while a module is attached or detached, so its DllMain runs alone; the
// same thread may come back in (a DllMain that loads another module).
std::recursive_mutex& LoaderLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
std::vector<Module*>& LoadedModules() {
  static auto* modules = new std::vector<Module*>;
  return *modules;
}

thread_local std::string t_loadFailure;

DWORD FailWith(DWORD error, std::string text) {
  SetLastError(error);
  t_loadFailure = std::move(text);
  return error;
}

std::string ProgramPath() {
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

// This platform library, answering to "OleAut32.dll": its automation exports live here.
Module* PlatformModule() {
  static Module* self = [] {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&LoadLibraryA), &info);
    std::string path = info.dli_fname ? NormalPath(info.dli_fname) : std::string();
    return new Module{dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD), path, 1};
  }();
  return self;
}

Module* ProgramModule() {
  static Module* program = new Module{dlopen(nullptr, RTLD_NOW), ProgramPath(), 1};
  return program;
}

bool IsFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string Locate(const std::string& name) {
  std::string system = SystemDirectoryPath();
  if (name.find('/') != std::string::npos) {
    std::string path = NormalPath(name);
    if (IsFile(path)) return path;
    std::string folder = path.substr(0, path.rfind('/') + 1);
    if (folder == system) return FindFileIgnoringCase(system, path.substr(folder.size()));
    return {};
  }
  if (IsFile(system + name)) return system + name;
  if (std::string found = FindFileIgnoringCase(system, name); !found.empty()) return found;
  if (std::string beside = ProgramDirectory() + name; IsFile(beside)) return beside;
  if (IsFile(name)) return NormalPath(name);
  return {};
}

bool IsOleAut32(const std::string& name) {
  std::string base = name.substr(name.find_last_of("/\\") + 1);
  return strcasecmp(base.c_str(), "oleaut32.dll") == 0 || strcasecmp(base.c_str(), "oleaut32") == 0;
}

// Modules found by an address inside them that LoadLibraryA did not load (a host that used the
// dynamic loader directly). They are never attached, detached or unloaded by this layer.
std::vector<Module*>& ForeignModules() {
  static auto* modules = new std::vector<Module*>;
  return *modules;
}

// A handle this layer gave out; anything else is refused without being looked into.
Module* Known(HMODULE handle) {
  if (!handle) return nullptr;
  if (handle == PlatformModule()) return PlatformModule();
  if (handle == ProgramModule()) return ProgramModule();
  for (auto* modules : {&LoadedModules(), &ForeignModules()}) {
    auto found = std::find(modules->begin(), modules->end(), static_cast<Module*>(handle));
    if (found != modules->end()) return *found;
  }
  return nullptr;
}

// The module holding `address`. Called with the loader lock held.
Module* ModuleAt(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (!dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) || !map) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // The program's own entry in the loader's list has no name.
  if (!map->l_name || !*map->l_name) return ProgramModule();
  void* library = dlopen(map->l_name, RTLD_NOW | RTLD_NOLOAD);
  if (!library) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  if (library == PlatformModule()->library) {
    dlclose(library);
    return PlatformModule();
  }
  for (auto* modules : {&LoadedModules(), &ForeignModules()}) {
    for (Module* module : *modules) {
      if (module->library == library) {
        dlclose(library);  // the module holds a reference already
        return module;
      }
    }
  }
  auto* module = new (std::nothrow) Module{library, NormalPath(map->l_name), 1};
  if (!module) {
    dlclose(library);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  ForeignModules().push_back(module);  // keeps its loader reference: the handle stays valid
  return module;
}

// The symbol, if it is the module's own: the loader would also find those of its dependencies.
void* OwnSymbol(Module* module, const char* name) {
  if (!module->library) return nullptr;
  dlerror();
  void* symbol = dlsym(module->library, name);
  if (!symbol || module == ProgramModule()) return symbol;
  link_map* map = nullptr;
  Dl_info info{};
  if (dlinfo(module->library, RTLD_DI_LINKMAP, &map) != 0 || !map || !dladdr(symbol, &info) || !info.dli_fname)
    return nullptr;
  return std::strcmp(info.dli_fname, map->l_name) == 0 ? symbol : nullptr;
}

DllMainProc EntryPoint(Module* module) { return reinterpret_cast<DllMainProc>(OwnSymbol(module, "DllMain")); }

}  // namespace

extern "C" HMODULE LoadLibraryA(LPCSTR fileName) {
  if (!fileName || !*fileName) {
    FailWith(ERROR_INVALID_PARAMETER, "no module name");
    return nullptr;
  }
  try {
    std::string name(fileName);
    if (IsOleAut32(name)) return PlatformModule();
    EnsureMachineRoot();
    std::string path = Locate(name);
    if (path.empty()) {
      FailWith(ERROR_MOD_NOT_FOUND, "no such module: " + name);
      return nullptr;
    }
    std::lock_guard<std::recursive_mutex> hold(LoaderLock());
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      const char* why = dlerror();
      FailWith(ERROR_BAD_EXE_FORMAT, why ? why : "cannot load " + path);
      return nullptr;
    }
    for (Module* module : LoadedModules()) {
      if (module->library == library) {
        dlclose(library);  // ours holds the loader's reference already
        ++module->references;
        return module;
      }
    }
    if (PlatformModule()->library == library) {
      dlclose(library);
      return PlatformModule();
    }
    auto* module = new (std::nothrow) Module{library, path, 1};
    if (!module) {
      dlclose(library);
      FailWith(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
      return nullptr;
    }
    LoadedModules().push_back(module);
    if (DllMainProc entry = EntryPoint(module); entry && !entry(module, DLL_PROCESS_ATTACH, nullptr)) {
      // Refused: detached and unloaded again at once, as the platform does.
      entry(module, DLL_PROCESS_DETACH, nullptr);
      auto& modules = LoadedModules();
      modules.erase(std::find(modules.begin(), modules.end(), module));
      dlclose(library);
      delete module;
      FailWith(ERROR_DLL_INIT_FAILED, "DllMain of " + path + " refused to attach");
      return nullptr;
    }
    return module;
  } catch (const std::bad_alloc&) {
    FailWith(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
    return nullptr;
  }
}

extern "C" BOOL FreeLibrary(HMODULE handle) {
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  Module* module = Known(handle);
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (module == PlatformModule() || module == ProgramModule()) return TRUE;
  if (std::count(ForeignModules().begin(), ForeignModules().end(), module)) return TRUE;
  if (--module->references > 0) return TRUE;
  if (DllMainProc entry = EntryPoint(module)) entry(module, DLL_PROCESS_DETACH, nullptr);
  auto& modules = LoadedModules();
  modules.erase(std::find(modules.begin(), modules.end(), module));
  dlclose(module->library);
  delete module;
  return TRUE;
}

extern "C" FARPROC GetProcAddress(HMODULE handle, LPCSTR procName) {
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  Module* module = Known(handle);
  if (!module) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  // A value below 0x10000 is an export ordinal; modules here export by name only.
  if (reinterpret_cast<ULONG_PTR>(procName) < 0x10000) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* symbol = OwnSymbol(module, procName);
  if (!symbol) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(symbol);
}

extern "C" DWORD GetModuleFileNameA(HMODULE handle, LPSTR fileName, DWORD size) {
  std::string path;
  {
    std::lock_guard<std::recursive_mutex> hold(LoaderLock());
    Module* module = handle ? Known(handle) : ProgramModule();
    if (!module) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    try {
      path = module->path;
    } catch (const std::bad_alloc&) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
  }
  if (!fileName || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() + 1 > size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

extern "C" HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (!moduleName) return ProgramModule();
  std::string name(moduleName);
  if (IsOleAut32(name)) return PlatformModule();
  std::lock_guard<std::recursive_mutex> hold(LoaderLock());
  for (Module* module : LoadedModules()) {
    std::string base = module->path.substr(module->path.rfind('/') + 1);
    if (module->path == name || strcasecmp(base.c_str(), moduleName) == 0) return module;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

extern "C" BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE* module) {
  if (!module) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  if (!(flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)) {
    *module = GetModuleHandleA(moduleName);
    return *module != nullptr;
  }
  // A handle that held a reference would need FreeLibrary, which foreign modules do not take.
  if (!(flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) || !moduleName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  try {
    std::lock_guard<std::recursive_mutex> hold(LoaderLock());
    *module = ModuleAt(moduleName);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  return *module != nullptr;
}

extern "C" BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

std::string ModuleLoadFailureText() { return t_loadFailure; }
