// Module loading: attach and detach, lookup by name, exports, file names, failures.
#include <unistd.h>

#include <filesystem>

#include "platform/shell/machine_root.h"
#include "tests/com/module_fixture.h"

namespace {

using Modules = ModuleTest;
using DllMainProcedure = BOOL (*)(HINSTANCE, DWORD, LPVOID);

TEST_F(Modules, AttachAtFirstLoadAndDetachAtLastFree) {
  HMODULE first = LoadLibraryA(ModulePath(0).c_str());
  ASSERT_NE(first, nullptr) << ModuleLoadFailureText();
  HMODULE second = LoadLibraryA(ModulePath(0).c_str());
  EXPECT_EQ(second, first);
  EXPECT_EQ(DllMainLog(), "attach 0\n");

  // The handle DllMain received is the one that names the module's file.
  char path[4096];
  DWORD length = GetModuleFileNameA(first, path, sizeof path);
  EXPECT_EQ(std::string(path, length), ModulePath(0));

  // Its own exports, not those of the platform library it uses.
  EXPECT_NE(GetProcAddress(first, "DllGetClassObject"), nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(first, "CoCreateInstance"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(first, reinterpret_cast<LPCSTR>(1)), nullptr);

  EXPECT_TRUE(FreeLibrary(second));
  EXPECT_EQ(DllMainLog(), "attach 0\n");
  EXPECT_TRUE(FreeLibrary(first));
  EXPECT_EQ(DllMainLog(), "attach 0\ndetach 0\n");
  // Gone: the handle is no longer one.
  EXPECT_FALSE(FreeLibrary(first));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetModuleFileNameA(first, path, sizeof path), 0u);
}

TEST_F(Modules, NamesAreLookedUpInTheSystemDirectoryIgnoringLetterCase) {
  ASSERT_EQ(EnsureMachineRoot(), S_OK);
  std::string installed = SystemDirectoryPath() + "Velder.AX";
  std::filesystem::copy_file(ModulePath(1), installed);
  HMODULE module = LoadLibraryA("velder.ax");
  ASSERT_NE(module, nullptr) << ModuleLoadFailureText();
  char path[4096];
  DWORD length = GetModuleFileNameA(module, path, sizeof path);
  EXPECT_EQ(std::string(path, length), installed);
  EXPECT_EQ(GetModuleHandleA("VELDER.ax"), module);
  // A full path into the system directory is forgiven its letter case too.
  HMODULE again = LoadLibraryA((SystemDirectoryPath() + "VELDER.ax").c_str());
  EXPECT_EQ(again, module);
  FreeLibrary(again);
  FreeLibrary(module);
  EXPECT_EQ(DllMainLog(), "attach 1\ndetach 1\n");

  // Beside the program, by name.
  module = LoadLibraryA("test_module_2.ax");
  ASSERT_NE(module, nullptr) << ModuleLoadFailureText();
  FreeLibrary(module);
}

TEST_F(Modules, FailuresSetTheLastError) {
  std::string notAModule = root() + "/not_a_module.ax";
  { std::ofstream(notAModule) << "text"; }
  struct Case {
    std::string name;
    DWORD error;
  } cases[] = {
      {"missing.ax", ERROR_MOD_NOT_FOUND},
      {root() + "/missing.ax", ERROR_MOD_NOT_FOUND},
      {notAModule, ERROR_BAD_EXE_FORMAT},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(c.name.c_str()), nullptr) << c.name;
    EXPECT_EQ(GetLastError(), c.error) << c.name;
    EXPECT_FALSE(ModuleLoadFailureText().empty());
  }
  // A module whose DllMain refuses is detached and unloaded again.
  setenv("PELISTRA_TEST_MODULE_REFUSE", "1", 1);
  EXPECT_EQ(LoadLibraryA(ModulePath(0).c_str()), nullptr);
  unsetenv("PELISTRA_TEST_MODULE_REFUSE");
  EXPECT_EQ(GetLastError(), ERROR_DLL_INIT_FAILED);
  EXPECT_EQ(DllMainLog(), "detach 0\n");
  EXPECT_EQ(GetModuleHandleA("test_module_0.ax"), nullptr);
}

TEST_F(Modules, OleAut32IsThePlatformLibrary) {
  HMODULE automation = LoadLibraryA("OleAut32.dll");
  ASSERT_NE(automation, nullptr);
  EXPECT_EQ(LoadLibraryA("OLEAUT32.DLL"), automation);
  char path[4096];
  DWORD length = GetModuleFileNameA(automation, path, sizeof path);
  EXPECT_TRUE(std::string(path, length).ends_with("/libpelistra-platform.so")) << path;
  // Its extern "C" calls are its exports.
  EXPECT_NE(GetProcAddress(automation, "CoCreateInstance"), nullptr);
  EXPECT_EQ(GetProcAddress(automation, "NoSuchExport"), nullptr);
  EXPECT_TRUE(FreeLibrary(automation));
  EXPECT_TRUE(FreeLibrary(automation));
}

TEST_F(Modules, FileNamesOfTheProgramAndTruncation) {
  char path[4096];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  EXPECT_EQ(std::string(path, length), std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_NE(GetModuleHandleA(nullptr), nullptr);

  // Too small: truncated, terminated, the buffer size returned and the error set.
  char small[8];
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(small), std::string(path, 7));
}

}  // namespace
