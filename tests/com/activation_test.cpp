// CoCreateInstance of a registered class and CoFreeUnusedLibraries.
#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "platform/win/guid.h"
#include "tests/com/module_fixture.h"
#include "tests/com/test_module.h"

namespace {

using Activation = ModuleTest;
using RegistrationProc = HRESULT (*)();

// Registers a test module the way regsvr32 does, in this process.
void Register(int index) {
  HMODULE module = LoadLibraryA(ModuleTest::ModulePath(index).c_str());
  ASSERT_NE(module, nullptr) << ModuleLoadFailureText();
  auto registerServer = reinterpret_cast<RegistrationProc>(GetProcAddress(module, "DllRegisterServer"));
  ASSERT_NE(registerServer, nullptr);
  EXPECT_EQ(registerServer(), S_OK);
  FreeLibrary(module);
}

TEST_F(Activation, CreatesThroughTheRegisteredModuleAndUnloadsItWhenUnused) {
  Register(3);
  ASSERT_EQ(DllMainLog(), "attach 3\ndetach 3\n");

  ITestValue* first = nullptr;
  ASSERT_EQ(CoCreateInstance(TestModuleClass(3), nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue,
                             reinterpret_cast<void**>(&first)),
            S_OK);
  EXPECT_EQ(first->Value(), TestModuleValue(3));
  ITestValue* second = nullptr;
  ASSERT_EQ(CoCreateInstance(TestModuleClass(3), nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue,
                             reinterpret_cast<void**>(&second)),
            S_OK);
  // Loaded once and kept loaded.
  EXPECT_EQ(DllMainLog(), "attach 3\ndetach 3\nattach 3\n");

  // DllCanUnloadNow says no while an object lives.
  first->Release();
  CoFreeUnusedLibraries();
  EXPECT_EQ(second->Value(), TestModuleValue(3));
  EXPECT_EQ(DllMainLog(), "attach 3\ndetach 3\nattach 3\n");
  // A server lock holds it too.
  IClassFactory* factory = nullptr;
  ASSERT_EQ(CoGetClassObject(TestModuleClass(3), CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(TRUE);
  factory->Release();
  second->Release();
  CoFreeUnusedLibraries();
  EXPECT_EQ(DllMainLog(), "attach 3\ndetach 3\nattach 3\n");
  // Nothing left: unloaded. The lock is given back through a fresh factory after that.
  ASSERT_EQ(CoGetClassObject(TestModuleClass(3), CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             reinterpret_cast<void**>(&factory)),
            S_OK);
  factory->LockServer(FALSE);
  factory->Release();
  CoFreeUnusedLibraries();
  EXPECT_EQ(DllMainLog(), "attach 3\ndetach 3\nattach 3\ndetach 3\n");
}

TEST_F(Activation, UnregisteredMissingAndBrokenServers) {
  void* object = nullptr;
  EXPECT_EQ(CoCreateInstance(TestModuleClass(4), nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue, &object),
            REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);

  // Registered, but the file is not there.
  std::string key = "CLSID\\" + GuidToString(TestModuleClass(4)) + "\\InprocServer32";
  std::string missing = root() + "/gone.ax";
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, missing.c_str(), 0), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(TestModuleClass(4), nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue, &object),
            HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));

  // A module without DllGetClassObject.
  std::string noExports = BinDirectory() + "no_exports_module.ax";
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, noExports.c_str(), 0), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(TestModuleClass(4), nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue, &object),
            CO_E_ERRORINDLL);

  // A module that serves another class than the one registered for it.
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key.c_str(), REG_SZ, ModulePath(5).c_str(), 0), ERROR_SUCCESS);
  EXPECT_EQ(CoCreateInstance(TestModuleClass(4), nullptr, CLSCTX_INPROC_SERVER, IID_ITestValue, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  CoFreeUnusedLibraries();
  EXPECT_EQ(DllMainLog(), "attach 5\ndetach 5\n");
}

}  // namespace
