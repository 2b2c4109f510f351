// Registered in-process servers: CoCreateInstance finds a class that is not built in under
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32, loads that module (which then stays loaded) and asks
// its DllGetClassObject. CoFreeUnusedLibraries unloads the modules it loaded whose
// DllCanUnloadNow answers S_OK.
#pragma once

#include "platform/com/runtime.h"

constexpr HRESULT CO_E_ERRORINDLL = MakeStatus(0x800401F9);

extern "C" {
void CoFreeUnusedLibraries();
}
