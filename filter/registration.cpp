#include "filter/registration.h"

#include <cstring>

#include "filter/class_factory.h"
#include "platform/com/inproc_server.h"
#include "platform/com/runtime.h"
#include "platform/win/codepage.h"
#include "platform/win/module.h"
#include "platform/win/wsprintf.h"

namespace {

constexpr HRESULT kMapperNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT FromWin32(LONG error) { return static_cast<HRESULT>(0x80070000u | static_cast<DWORD>(error)); }

// Any failure: it rolls the registration's transaction back; the step's own status is returned.
constexpr LONG kStepFailed = 1;

HRESULT RegisterModuleFrom(HMODULE module, bool registering);

// "CLSID\{...}" for a class.
void ClassKeyName(REFCLSID clsid, char* keyName) {
  WCHAR text[39];
  StringFromGUID2(clsid, text, 39);
  wsprintfA(keyName, "CLSID\\%ls", text);
}

HRESULT RegisterServers(const WCHAR* modulePath) {
  for (int i = 0; i < g_cTemplates; ++i) {
    HRESULT hr = RegisterServer(*g_Templates[i].m_ClsID, g_Templates[i].m_Name, modulePath, u"Both", u"InprocServer32");
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

template <class Mapper>
HRESULT RegisterFilters(Mapper* mapper, bool registering) {
  HRESULT hr = S_OK;
  for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i)
    if (g_Templates[i].m_pAMovieSetup_Filter)
      hr = RegisterFilterRecord(g_Templates[i].m_pAMovieSetup_Filter, mapper, registering);
  return hr;
}

HRESULT RegisterFiltersWithMapper(bool registering) {
  IFilterMapper2* mapper2 = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(&mapper2));
  if (SUCCEEDED(hr)) {
    hr = RegisterFilters(mapper2, registering);
    mapper2->Release();
    return hr;
  }
  IFilterMapper* mapper = nullptr;
  hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                        reinterpret_cast<void**>(&mapper));
  if (FAILED(hr)) return hr;
  hr = RegisterFilters(mapper, registering);
  mapper->Release();
  return hr;
}

}  // namespace

HRESULT RegisterModule(bool registering) {
  // The module found from an address inside it: a host that loaded it without LoadLibraryA never
  // called DllMain, and the handle kept there would name the host program instead.
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&RegisterModule), &module))
    return FromWin32(static_cast<LONG>(GetLastError()));
  // One registry transaction: every step applies, or none when one fails, and no other
  // registration runs between the steps.
  HRESULT hr = E_FAIL;
  bool called = false;
  LONG result = RegistryTransaction([&] {
    called = true;
    hr = RegisterModuleFrom(module, registering);
    return SUCCEEDED(hr) ? static_cast<LONG>(ERROR_SUCCESS) : kStepFailed;
  });
  // The registry's own failure (the transaction could not begin or commit) when the steps had none.
  return result != static_cast<LONG>(ERROR_SUCCESS) && (!called || SUCCEEDED(hr)) ? FromWin32(result) : hr;
}

namespace {

HRESULT RegisterModuleFrom(HMODULE module, bool registering) {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
  // A path cut short to fit would register a file that does not exist.
  if (length == 0 || length >= MAX_PATH) return FromWin32(static_cast<LONG>(GetLastError()));
  WCHAR widePath[MAX_PATH];
  MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH);

  if (registering) {
    HRESULT hr = RegisterServers(widePath);
    if (FAILED(hr)) return hr;
  }
  CoInitialize(nullptr);
  HRESULT hr = RegisterFiltersWithMapper(registering);
  CoFreeUnusedLibraries();
  CoUninitialize();
  if (!registering && SUCCEEDED(hr)) {
    for (int i = 0; i < g_cTemplates; ++i) hr = UnregisterServer(*g_Templates[i].m_ClsID);
  }
  return hr;
}

}  // namespace

HRESULT RegisterServer(REFCLSID clsid, const WCHAR* description, const WCHAR* modulePath, const WCHAR* threadingModel,
                       const WCHAR* serverType) {
  char keyName[MAX_PATH];
  ClassKeyName(clsid, keyName);
  HKEY classKey = nullptr;
  LONG result = RegCreateKeyA(HKEY_CLASSES_ROOT, keyName, &classKey);
  if (result != static_cast<LONG>(ERROR_SUCCESS)) return FromWin32(result);

  char text[MAX_PATH];
  wsprintfA(text, "%ls", description);
  result = RegSetValueA(classKey, nullptr, REG_SZ, text, sizeof text);
  if (result != static_cast<LONG>(ERROR_SUCCESS)) {
    RegCloseKey(classKey);
    return FromWin32(result);
  }
  wsprintfA(text, "%ls", serverType);
  HKEY serverKey = nullptr;
  result = RegCreateKeyA(classKey, text, &serverKey);
  if (result != static_cast<LONG>(ERROR_SUCCESS)) {
    RegCloseKey(classKey);
    return FromWin32(result);
  }
  wsprintfA(text, "%ls", modulePath);
  result = RegSetValueA(serverKey, nullptr, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
  if (result != static_cast<LONG>(ERROR_SUCCESS)) {
    RegCloseKey(serverKey);
    RegCloseKey(classKey);
    return FromWin32(result);
  }
  wsprintfA(text, "%ls", threadingModel);
  result = RegSetValueExA(serverKey, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1));
  RegCloseKey(serverKey);
  RegCloseKey(classKey);
  return result > 0 ? FromWin32(result & 0xFFFF) : S_OK;
}

HRESULT UnregisterServer(REFCLSID clsid) {
  char keyName[MAX_PATH];
  ClassKeyName(clsid, keyName);
  RemoveKey(HKEY_CLASSES_ROOT, keyName);
  return S_OK;
}

HRESULT RemoveKey(HKEY parent, LPCSTR subKey, KeyDeleter deleteKey) {
  if (!subKey || !*subKey) return E_FAIL;
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, subKey, 0, MAXIMUM_ALLOWED, &key) != static_cast<LONG>(ERROR_SUCCESS)) return S_OK;
  char child[MAX_PATH];
  char again[MAX_PATH];
  DWORD index = 0;
  for (;;) {
    DWORD length = MAX_PATH;
    if (RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) != static_cast<LONG>(ERROR_SUCCESS))
      break;
    RemoveKey(key, child, deleteKey);
    // A child still in its place could not be deleted: leave it and go on with the next, or the
    // same child would be offered forever.
    length = MAX_PATH;
    if (RegEnumKeyExA(key, index, again, &length, nullptr, nullptr, nullptr, nullptr) == static_cast<LONG>(ERROR_SUCCESS) &&
        std::strcmp(again, child) == 0)
      ++index;
  }
  RegCloseKey(key);
  deleteKey(parent, subKey);
  return S_OK;
}

HRESULT RegisterFilterRecord(const AMOVIESETUP_FILTER* setup, IFilterMapper2* mapper, bool registering) {
  if (!setup) return S_FALSE;
  HRESULT hr = mapper->UnregisterFilter(nullptr, nullptr, *setup->clsID);
  if (registering) {
    REGFILTER2 data{};
    data.dwVersion = 1;
    data.dwMerit = setup->dwMerit;
    data.cPins = setup->nPins;
    data.rgPins = setup->lpPin;
    hr = mapper->RegisterFilter(*setup->clsID, setup->strName, nullptr, nullptr, nullptr, &data);
  }
  return hr == kMapperNotFound ? S_OK : hr;
}

HRESULT RegisterFilterRecord(const AMOVIESETUP_FILTER* setup, IFilterMapper* mapper, bool registering) {
  if (!setup) return S_FALSE;
  HRESULT hr = mapper->UnregisterFilter(*setup->clsID);
  if (registering) {
    hr = mapper->RegisterFilter(*setup->clsID, setup->strName, setup->dwMerit);
    for (UINT p = 0; SUCCEEDED(hr) && p < setup->nPins; ++p) {
      const REGFILTERPINS& pin = setup->lpPin[p];
      hr = mapper->RegisterPin(*setup->clsID, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                               *pin.clsConnectsToFilter, pin.strConnectsToPin);
      for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t)
        hr = mapper->RegisterPinType(*setup->clsID, pin.strName, *pin.lpMediaType[t].clsMajorType,
                                     *pin.lpMediaType[t].clsMinorType);
    }
  }
  return hr == kMapperNotFound ? S_OK : hr;
}
