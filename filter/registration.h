// Self-registration: the COM server entries under HKEY_CLASSES_ROOT\CLSID that let COM load this
// module for its classes, and the filter mapper's record of each filter. Both are driven by the
// factory table. Registration writes the server entries first and the filter records second;
// unregistration removes them in the opposite order; a failure stops the sequence where it is.
#pragma once

#include "filter/factory_table.h"
#include "platform/registry/registry.h"

// DllRegisterServer (true) and DllUnregisterServer (false).
HRESULT RegisterModule(bool registering);

// CLSID\{clsid} with the description as its default value, and below it the server type key
// with the module path and the threading model.
HRESULT RegisterServer(REFCLSID clsid, const WCHAR* description, const WCHAR* modulePath, const WCHAR* threadingModel,
                       const WCHAR* serverType);
// Removes CLSID\{clsid} with everything below it; S_OK also when it is missing.
HRESULT UnregisterServer(REFCLSID clsid);

// Removes `subKey` of `parent` with all its children: E_FAIL for an empty name, else S_OK, also
// when it is missing. A child that cannot be deleted is left, with its parent, and the removal
// goes on with the others. `deleteKey` is the registry's, or a test's stand-in.
using KeyDeleter = LONG (*)(HKEY key, LPCSTR subKey);
HRESULT RemoveKey(HKEY parent, LPCSTR subKey, KeyDeleter deleteKey = RegDeleteKeyA);

// A filter's mapper record: any old one is removed first, so registering replaces it. S_FALSE
// without a record; the mapper's "not found" counts as success.
HRESULT RegisterFilterRecord(const AMOVIESETUP_FILTER* setup, IFilterMapper2* mapper, bool registering);
HRESULT RegisterFilterRecord(const AMOVIESETUP_FILTER* setup, IFilterMapper* mapper, bool registering);
