#include "platform/com/inproc_server.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/win/guid.h"
#include "platform/win/module.h"

namespace {

using GetClassObjectProc = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);
using CanUnloadNowProc = HRESULT (*)();

// The modules COM loaded, one reference each. The lock is held across a module's
// DllGetClassObject and across the unload test, so a module is never freed between handing out
// a class object and that object counting itself alive.
std::recursive_mutex& ServersLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}
std::vector<HMODULE>& Servers() {
  static auto* servers = new std::vector<HMODULE>;
  return *servers;
}

// The module path registered for the class; empty when it has none.
std::string ServerPath(REFCLSID clsid) {
  std::string key = "CLSID\\" + GuidToString(clsid) + "\\InprocServer32";
  HKEY server;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &server) != ERROR_SUCCESS) return {};
  DWORD type = 0, size = 0;
  std::string path;
  if (RegQueryValueExA(server, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    path.resize(size);
    if (RegQueryValueExA(server, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path.data()), &size) != ERROR_SUCCESS)
      path.clear();
    path.resize(std::min<size_t>(path.size(), size));
    while (!path.empty() && path.back() == '\0') path.pop_back();
  }
  RegCloseKey(server);
  return path;
}

HRESULT GetRegisteredClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  try {
    std::string path = ServerPath(clsid);
    if (path.empty()) return REGDB_E_CLASSNOTREG;
    std::lock_guard<std::recursive_mutex> hold(ServersLock());
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    auto& servers = Servers();
    if (std::find(servers.begin(), servers.end(), module) != servers.end())
      FreeLibrary(module);  // COM keeps one reference per module
    else
      servers.push_back(module);
    auto getClassObject = reinterpret_cast<GetClassObjectProc>(GetProcAddress(module, "DllGetClassObject"));
    if (!getClassObject) return CO_E_ERRORINDLL;
    return getClassObject(clsid, riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

struct ResolverInstaller {
  ResolverInstaller() { SetRegisteredClassResolver(&GetRegisteredClassObject); }
} g_resolverInstaller;

}  // namespace

extern "C" void CoFreeUnusedLibraries() {
  std::lock_guard<std::recursive_mutex> hold(ServersLock());
  auto& servers = Servers();
  for (size_t i = 0; i < servers.size();) {
    auto canUnloadNow = reinterpret_cast<CanUnloadNowProc>(GetProcAddress(servers[i], "DllCanUnloadNow"));
    // A module without the export stays, as on the platform.
    if (canUnloadNow && canUnloadNow() == S_OK) {
      FreeLibrary(servers[i]);
      servers.erase(servers.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
}
