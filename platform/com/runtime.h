// The COM runtime calls: initialisation, GUID text, and object creation.
#pragma once

#include "platform/com/unknown.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = 0x17;

extern "C" {
HRESULT CoInitialize(void* reserved);
HRESULT CoInitializeEx(void* reserved, DWORD flags);
void CoUninitialize();
// Writes the registry text form with its terminator; returns the characters written including
// the terminator, or 0 when `max` is too small.
int StringFromGUID2(REFGUID guid, WCHAR* out, int max);
// Creates an object of a class: the platform's own classes first, then a registered in-process
// server.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID riid, void** ppv);
}

// The platform registers its own classes (allocator, graph, mapper...) here. The creator makes
// an object with one reference, aggregated under `outer` when given, and queries it for riid.
using BuiltinCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
void RegisterBuiltinClass(REFCLSID clsid, BuiltinCreator creator);

// Looks up a class that is not built in: set by the part of the platform that loads registered
// modules. Returns the class factory or a failure status.
using RegisteredClassResolver = HRESULT (*)(REFCLSID clsid, REFIID riid, void** ppv);
void SetRegisteredClassResolver(RegisteredClassResolver resolver);
