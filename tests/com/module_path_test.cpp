// The filter module registers its own file, however a host loaded it: through LoadLibraryA (its
// DllMain receives its handle) or straight through the dynamic loader (no DllMain at all).
#include <dlfcn.h>

#include <string>

#include "platform/com/inproc_server.h"
#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "platform/win/guid.h"
#include "platform/win/module.h"
#include "tests/registry/temp_machine_root.h"

namespace {

constexpr CLSID kMuxerClass = MakeGuid("E007F9AB-C9B8-403D-91BA-B1E50AA0F55A");
constexpr char kServerKey[] = "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}\\InprocServer32";

using RegistrationProc = HRESULT (*)();

std::string ModuleFile() { return std::string(PELISTRA_BIN_DIR "/") + "pelistra.ax"; }

std::string ServerPath() {
  char path[4096];
  LONG size = sizeof path;
  return RegQueryValueA(HKEY_CLASSES_ROOT, kServerKey, path, &size) == ERROR_SUCCESS ? path : "(none)";
}

using ModulePath = TempMachineRoot;

TEST_F(ModulePath, RegistersItsOwnFileHoweverItWasLoaded) {
  struct Loader {
    const char* what;
    void* (*load)(const std::string& path);
    RegistrationProc (*find)(void* module, const char* name);
    void (*unload)(void* module);
  } loaders[] = {
      {"LoadLibraryA", [](const std::string& path) -> void* { return LoadLibraryA(path.c_str()); },
       [](void* module, const char* name) {
         return reinterpret_cast<RegistrationProc>(GetProcAddress(static_cast<HMODULE>(module), name));
       },
       [](void* module) { FreeLibrary(static_cast<HMODULE>(module)); }},
      {"dlopen", [](const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); },
       [](void* module, const char* name) { return reinterpret_cast<RegistrationProc>(dlsym(module, name)); },
       [](void* module) { dlclose(module); }},
  };
  for (const Loader& loader : loaders) {
    void* module = loader.load(ModuleFile());
    ASSERT_NE(module, nullptr) << loader.what;
    RegistrationProc registerServer = loader.find(module, "DllRegisterServer");
    RegistrationProc unregisterServer = loader.find(module, "DllUnregisterServer");
    ASSERT_NE(registerServer, nullptr) << loader.what;
    ASSERT_NE(unregisterServer, nullptr) << loader.what;

    EXPECT_EQ(registerServer(), S_OK) << loader.what;
    EXPECT_EQ(ServerPath(), ModuleFile()) << loader.what;
    // COM finds the filter through what was registered.
    CoInitialize(nullptr);
    IUnknown* filter = nullptr;
    EXPECT_EQ(CoCreateInstance(kMuxerClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&filter)),
              S_OK)
        << loader.what;
    if (filter) filter->Release();
    CoFreeUnusedLibraries();
    CoUninitialize();

    EXPECT_EQ(unregisterServer(), S_OK) << loader.what;
    EXPECT_EQ(ServerPath(), "(none)") << loader.what;
    loader.unload(module);
  }
}

}  // namespace
