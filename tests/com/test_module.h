// A small in-process server for the tests: one class per module variant (TEST_MODULE_INDEX 0..7)
// whose objects answer ITestValue. Its DllMain appends "attach N" / "detach N" lines to the file
// named by PELISTRA_TEST_MODULE_LOG; PELISTRA_TEST_MODULE_REFUSE makes DllMain refuse to attach
// and PELISTRA_TEST_MODULE_FAIL makes DllRegisterServer fail with E_ACCESSDENIED.
#pragma once

#include "platform/com/unknown.h"

inline constexpr IID IID_ITestValue = MakeGuid("5EE1D0FF-0000-4000-8000-000000000000");

constexpr CLSID TestModuleClass(int index) {
  return GUID{0x5EE1D000u + static_cast<DWORD>(index), 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0}};
}

struct ITestValue : IUnknown {
  virtual LONG STDMETHODCALLTYPE Value() = 0;
};

// The value the objects of module variant `index` answer.
constexpr LONG TestModuleValue(int index) { return 4200 + index; }
