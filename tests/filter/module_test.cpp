// The module: its exports, the class factory and the unload test, and self-registration as
// regsvr32 drives it through the loaded pelistra.ax (server entries, the filter mapper's record,
// registering twice, removing what was never there or what others added), plus key removal.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "filter/class_factory.h"
#include "filter/registration.h"
#include "filter/velder_muxer.h"
#include "platform/com/alloc_fault.h"
#include "platform/com/inproc_server.h"
#include "platform/com/runtime.h"
#include "platform/registry/registry.h"
#include "platform/win/module.h"
#include "tests/registry/temp_machine_root.h"

namespace {

const char kClassKey[] = "CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}";
const CLSID kOtherClass = MakeGuid("00000000-1111-2222-3333-444444444444");

std::string ModulePath() { return std::string(PELISTRA_BIN_DIR) + "/pelistra.ax"; }

// A registry value as text, or "<missing>".
std::string ReadText(const std::string& key, const char* value) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != static_cast<LONG>(ERROR_SUCCESS))
    return "<missing>";
  char data[1024] = {};
  DWORD size = sizeof data - 1, type = 0;
  LONG result = RegQueryValueExA(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(handle);
  if (result != static_cast<LONG>(ERROR_SUCCESS)) return "<missing>";
  return type == REG_SZ ? std::string(data) : "<not text>";
}

bool KeyExists(const std::string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != static_cast<LONG>(ERROR_SUCCESS))
    return false;
  RegCloseKey(handle);
  return true;
}

void ExpectMuxerRecord(size_t pins = 2) {
  MapperFilter record;
  ASSERT_EQ(S_OK, ReadFilterRegistration(CLSID_VelderMuxer, &record));
  EXPECT_EQ("Halvorn ASF Muxer", record.name);
  EXPECT_EQ(0x200000u, record.merit);
  ASSERT_EQ(pins, record.pins.size());
  for (const MapperPin& pin : record.pins) {
    EXPECT_EQ("Input", pin.name);
    EXPECT_FALSE(pin.rendered);
    EXPECT_FALSE(pin.output);
    EXPECT_FALSE(pin.zero);
    EXPECT_FALSE(pin.many);
    EXPECT_EQ(GUID_NULL, pin.connectsToFilter);
    EXPECT_EQ("Output", pin.connectsToPin);
    ASSERT_EQ(1u, pin.types.size());
    EXPECT_EQ(GUID_NULL, pin.types[0].major);
    EXPECT_EQ(GUID_NULL, pin.types[0].subtype);
  }
}

// --- exports, factory, unload test -------------------------------------------------------------

TEST(ModuleExports, OnlyTheFiveEntryPoints) {
  FILE* pipe = popen(("nm -D --defined-only '" + ModulePath() + "' 2>/dev/null").c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::set<std::string> names;
  char line[512];
  while (fgets(line, sizeof line, pipe)) {
    std::string text(line);
    std::string name = text.substr(text.rfind(' ') + 1);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    names.insert(name);
  }
  ASSERT_EQ(0, pclose(pipe)) << "nm could not read the module";
  EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllMain", "DllRegisterServer",
                                   "DllUnregisterServer"}),
            names);
}

TEST(ClassFactory, HandedOutForTheFilterClassOnly) {
  struct Case {
    const char* name;
    CLSID clsid;
    IID iid;
    HRESULT expected;
  };
  const Case cases[] = {
      {"factory", CLSID_VelderMuxer, IID_IClassFactory, S_OK},
      {"unknown", CLSID_VelderMuxer, IID_IUnknown, S_OK},
      {"other interface", CLSID_VelderMuxer, IID_IBaseFilter, E_NOINTERFACE},
      {"other class", kOtherClass, IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
      {"other both", kOtherClass, IID_IBaseFilter, E_NOINTERFACE},
  };
  const LONG before = CBaseObject::ObjectsActive();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* out = reinterpret_cast<void*>(1);
    ASSERT_EQ(c.expected, ModuleGetClassObject(c.clsid, c.iid, &out));
    if (FAILED(c.expected)) {
      EXPECT_EQ(reinterpret_cast<void*>(1), out) << "untouched";
      continue;
    }
    auto* factory = static_cast<IClassFactory*>(out);
    EXPECT_EQ(2u, factory->AddRef());
    EXPECT_EQ(before + 1, CBaseObject::ObjectsActive()) << "a factory counts as a live object";
    factory->Release();
    EXPECT_EQ(0u, factory->Release());
  }
  void* out = reinterpret_cast<void*>(1);
  {
    AllocationFault noMemory(0);
    EXPECT_EQ(E_OUTOFMEMORY, ModuleGetClassObject(CLSID_VelderMuxer, IID_IClassFactory, &out));
  }
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(before, CBaseObject::ObjectsActive());
}

class Factory : public TempMachineRoot {
 protected:
  void SetUp() override {
    TempMachineRoot::SetUp();
    before = CBaseObject::ObjectsActive();
    ASSERT_EQ(S_OK, ModuleGetClassObject(CLSID_VelderMuxer, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
  }
  void TearDown() override {
    if (factory) factory->Release();
    EXPECT_EQ(before, CBaseObject::ObjectsActive());
    TempMachineRoot::TearDown();
  }
  IClassFactory* factory = nullptr;
  LONG before = 0;
};

TEST_F(Factory, CreatesFiltersWithOneReferenceOrNone) {
  IBaseFilter* filter = nullptr;
  EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
  CLSID clsid{};
  EXPECT_EQ(S_OK, filter->GetClassID(&clsid));
  EXPECT_EQ(CLSID_VelderMuxer, clsid);
  EXPECT_EQ(0u, filter->Release()) << "the caller held the only reference";

  // An interface the filter lacks: nothing stays alive.
  void* out = nullptr;
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IPin, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(before + 1, CBaseObject::ObjectsActive());

  // Aggregated, only the inner IUnknown may be asked for; otherwise nothing is made.
  IUnknown* outer = reinterpret_cast<IUnknown*>(filter);  // never called on these paths
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(outer, IID_IBaseFilter, &out));
  EXPECT_EQ(reinterpret_cast<void*>(1), out);
  EXPECT_EQ(before + 1, CBaseObject::ObjectsActive());

  // No memory for the filter, or for any of its parts.
  for (long successes : {0L, 1L, 2L}) {
    AllocationFault noMemory(successes);
    EXPECT_EQ(E_OUTOFMEMORY, factory->CreateInstance(nullptr, IID_IBaseFilter, &out)) << successes;
  }
  EXPECT_EQ(before + 1, CBaseObject::ObjectsActive());
}

TEST_F(Factory, TheModuleStaysWhileAnythingLivesOrIsLocked) {
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow()) << "a factory is alive";
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
  factory->Release();
  factory = nullptr;
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow()) << "a filter is alive";
  filter->Release();
  EXPECT_EQ(S_OK, ModuleCanUnloadNow());

  IClassFactory* locker = nullptr;
  ASSERT_EQ(S_OK, ModuleGetClassObject(CLSID_VelderMuxer, IID_IClassFactory, reinterpret_cast<void**>(&locker)));
  const LONG locks = ServerLockCount();
  ASSERT_EQ(S_OK, locker->LockServer(TRUE));
  locker->Release();
  EXPECT_EQ(S_FALSE, ModuleCanUnloadNow()) << "locked";
  ASSERT_EQ(S_OK, ModuleGetClassObject(CLSID_VelderMuxer, IID_IClassFactory, reinterpret_cast<void**>(&locker)));
  ASSERT_EQ(S_OK, locker->LockServer(FALSE));
  // An unlock without a lock takes the count below zero, which holds nothing.
  ASSERT_EQ(S_OK, locker->LockServer(FALSE));
  locker->Release();
  EXPECT_EQ(locks - 1, ServerLockCount());
  EXPECT_EQ(S_OK, ModuleCanUnloadNow());
  ASSERT_EQ(S_OK, ModuleGetClassObject(CLSID_VelderMuxer, IID_IClassFactory, reinterpret_cast<void**>(&locker)));
  locker->LockServer(TRUE);  // back where it was
  locker->Release();
  EXPECT_EQ(locks, ServerLockCount());
}

TEST(ModuleMain, KeepsTheHandleAndAnswersTrue) {
  int marker = 0;
  HINSTANCE previous = ModuleInstance();
  EXPECT_TRUE(ModuleMain(&marker, DLL_PROCESS_ATTACH, nullptr));
  EXPECT_EQ(static_cast<HINSTANCE>(&marker), ModuleInstance());
  EXPECT_TRUE(ModuleMain(&marker, DLL_THREAD_ATTACH, nullptr));
  EXPECT_TRUE(ModuleMain(&marker, DLL_PROCESS_DETACH, nullptr));
  ModuleMain(previous, DLL_PROCESS_ATTACH, nullptr);
}

// --- registration through the loaded module ----------------------------------------------------

class Registration : public TempMachineRoot {
 protected:
  void SetUp() override {
    TempMachineRoot::SetUp();
    module = LoadLibraryA(ModulePath().c_str());
    ASSERT_NE(nullptr, module) << ModuleLoadFailureText();
    registerServer = reinterpret_cast<Entry>(GetProcAddress(module, "DllRegisterServer"));
    unregisterServer = reinterpret_cast<Entry>(GetProcAddress(module, "DllUnregisterServer"));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
    TempMachineRoot::TearDown();
  }
  using Entry = HRESULT (*)();
  HMODULE module = nullptr;
  Entry registerServer = nullptr, unregisterServer = nullptr;
};

TEST_F(Registration, WritesTheServerEntriesAndTheFilterRecordOnceHoweverOften) {
  ASSERT_EQ(S_OK, registerServer());
  ASSERT_EQ(S_OK, registerServer());
  EXPECT_EQ("Halvorn ASF Muxer", ReadText(kClassKey, nullptr));
  char path[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(module, path, MAX_PATH), 0u);
  EXPECT_EQ(std::string(path), ReadText(std::string(kClassKey) + "\\InprocServer32", nullptr));
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ("Both", ReadText(std::string(kClassKey) + "\\InprocServer32", "ThreadingModel"));
  ExpectMuxerRecord();
  std::vector<MapperFilter> all;
  ASSERT_EQ(S_OK, ListFilterRegistrations(CLSID_LegacyAmFilterCategory, &all));
  int ours = 0;
  for (const MapperFilter& f : all) ours += f.clsid == CLSID_VelderMuxer;
  EXPECT_EQ(1, ours);

  // COM now creates the filter from the registered module.
  IBaseFilter* filter = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_VelderMuxer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&filter)));
  filter->Release();
  CoFreeUnusedLibraries();
}

TEST_F(Registration, UnregisteringRemovesTheWholeClassKeyAndTheRecord) {
  ASSERT_EQ(S_OK, registerServer());
  // Something else added its own entries under the class key.
  HKEY added = nullptr;
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            RegCreateKeyA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\Extra\\Deeper\\Deepest").c_str(), &added));
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            RegSetValueExA(added, "Note", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2));
  RegCloseKey(added);
  ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS),
            RegCreateKeyA(HKEY_CLASSES_ROOT, (std::string(kClassKey) + "\\InprocServer32\\Other").c_str(), &added));
  RegCloseKey(added);

  ASSERT_EQ(S_OK, unregisterServer());
  EXPECT_FALSE(KeyExists(kClassKey));
  EXPECT_TRUE(KeyExists("CLSID")) << "only the class's own key goes";
  MapperFilter record;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), ReadFilterRegistration(CLSID_VelderMuxer, &record));
  // And again, with nothing left to remove.
  EXPECT_EQ(S_OK, unregisterServer());
}

TEST_F(Registration, UnregisteringWhatWasNeverRegisteredSucceeds) {
  EXPECT_EQ(S_OK, unregisterServer());
  EXPECT_FALSE(KeyExists(kClassKey));
}

TEST_F(Registration, AModulePathTooLongForTheRegistryIsRefused) {
  // A copy of the module whose full path does not fit in MAX_PATH characters.
  std::filesystem::path folder = std::filesystem::path(root()) / std::string(120, 'a') / std::string(120, 'b');
  ASSERT_TRUE(std::filesystem::create_directories(folder));
  std::filesystem::copy_file(ModulePath(), folder / "pelistra.ax");
  HMODULE copy = LoadLibraryA((folder / "pelistra.ax").c_str());
  ASSERT_NE(nullptr, copy) << ModuleLoadFailureText();
  auto copyRegister = reinterpret_cast<Entry>(GetProcAddress(copy, "DllRegisterServer"));
  ASSERT_NE(nullptr, copyRegister);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), copyRegister());
  EXPECT_FALSE(KeyExists(kClassKey));
  FreeLibrary(copy);
}

// The older mapper takes the same record pin by pin; it keeps pins by name, so the two "Input"
// pins are one there.
TEST_F(Registration, TheOlderMapperRecordsTheSameFilter) {
  IFilterMapper* mapper = nullptr;
  ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                   reinterpret_cast<void**>(&mapper)));
  EXPECT_EQ(S_FALSE, RegisterFilterRecord(static_cast<const AMOVIESETUP_FILTER*>(nullptr), mapper, true));
  ASSERT_EQ(S_OK, RegisterFilterRecord(&g_VelderMuxerSetup, mapper, true));
  ExpectMuxerRecord(1);
  ASSERT_EQ(S_OK, RegisterFilterRecord(&g_VelderMuxerSetup, mapper, false));
  MapperFilter record;
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), ReadFilterRegistration(CLSID_VelderMuxer, &record));
  EXPECT_EQ(S_OK, RegisterFilterRecord(&g_VelderMuxerSetup, mapper, false)) << "not found counts as removed";
  mapper->Release();
}

// --- key removal -------------------------------------------------------------------------------

class KeyRemoval : public TempMachineRoot {
 protected:
  static void Create(const std::string& key) {
    HKEY handle = nullptr;
    ASSERT_EQ(static_cast<LONG>(ERROR_SUCCESS), RegCreateKeyA(HKEY_CLASSES_ROOT, key.c_str(), &handle));
    RegCloseKey(handle);
  }
};

// Refuses to delete any key named "Stuck", as a key without the rights would be refused.
LONG RefuseStuck(HKEY key, LPCSTR subKey) {
  if (std::string(subKey) == "Stuck") return static_cast<LONG>(ERROR_ACCESS_DENIED);
  return RegDeleteKeyA(key, subKey);
}

TEST_F(KeyRemoval, RemovesATreeAndGivesUpOnlyOnWhatCannotBeDeleted) {
  EXPECT_EQ(E_FAIL, RemoveKey(HKEY_CLASSES_ROOT, ""));
  EXPECT_EQ(S_OK, RemoveKey(HKEY_CLASSES_ROOT, "Missing"));

  for (const char* key : {"Top\\A\\One", "Top\\A\\Two", "Top\\B", "Top\\C\\Three"}) Create(key);
  ASSERT_EQ(S_OK, RemoveKey(HKEY_CLASSES_ROOT, "Top"));
  EXPECT_FALSE(KeyExists("Top"));

  for (const char* key : {"Top\\A\\One", "Top\\Stuck\\Inner", "Top\\Z"}) Create(key);
  ASSERT_EQ(S_OK, RemoveKey(HKEY_CLASSES_ROOT, "Top", RefuseStuck));
  EXPECT_TRUE(KeyExists("Top\\Stuck")) << "the refused key and its parent stay";
  EXPECT_FALSE(KeyExists("Top\\Stuck\\Inner"));
  EXPECT_FALSE(KeyExists("Top\\A"));
  EXPECT_FALSE(KeyExists("Top\\Z")) << "the keys after the refused one are removed too";
}

}  // namespace
