// BSTR strings and VARIANTs.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/automation.h"
#include "platform/com/taskmem.h"
#include "platform/win/text.h"

namespace {
// The byte length sits in the 4 bytes before the text; the block starts there.
constexpr size_t kPrefix = sizeof(UINT);
}  // namespace

extern "C" BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > (UINT32_MAX - kPrefix - sizeof(OLECHAR)) / sizeof(OLECHAR)) return nullptr;
  auto* block = static_cast<BYTE*>(CoTaskMemAlloc(kPrefix + (length + 1) * sizeof(OLECHAR)));
  if (!block) return nullptr;
  UINT bytes = length * sizeof(OLECHAR);
  std::memcpy(block, &bytes, kPrefix);
  auto* result = reinterpret_cast<BSTR>(block + kPrefix);
  if (text)
    std::memcpy(result, text, bytes);
  else
    std::memset(result, 0, bytes);
  result[length] = 0;
  return result;
}

extern "C" BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(WideLength(text)));
}

extern "C" void SysFreeString(BSTR text) {
  if (text) CoTaskMemFree(reinterpret_cast<BYTE*>(text) - kPrefix);
}

extern "C" UINT SysStringLen(BSTR text) {
  if (!text) return 0;
  UINT bytes;
  std::memcpy(&bytes, reinterpret_cast<BYTE*>(text) - kPrefix, kPrefix);
  return bytes / sizeof(OLECHAR);
}

extern "C" void VariantInit(VARIANTARG* v) {
  std::memset(v, 0, sizeof *v);
  v->vt = VT_EMPTY;
}

extern "C" HRESULT VariantClear(VARIANTARG* v) {
  if (!v) return E_INVALIDARG;
  if (!(v->vt & VT_BYREF)) {
    if (v->vt == VT_BSTR) SysFreeString(v->bstrVal);
    if ((v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) && v->punkVal) v->punkVal->Release();
  }
  VariantInit(v);
  return S_OK;
}

extern "C" HRESULT VariantCopy(VARIANTARG* target, const VARIANTARG* source) {
  if (!target || !source) return E_INVALIDARG;
  if (target == source) return S_OK;
  VARIANT copy = *source;
  if (!(source->vt & VT_BYREF)) {
    if (source->vt == VT_BSTR && source->bstrVal) {
      copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
      if (!copy.bstrVal) return E_OUTOFMEMORY;
    }
    if ((source->vt == VT_UNKNOWN || source->vt == VT_DISPATCH) && source->punkVal) source->punkVal->AddRef();
  }
  VariantClear(target);
  *target = copy;
  return S_OK;
}

namespace {

// The value of a numeric, boolean or text variant as a double; false for any other type.
bool ReadNumber(const VARIANT& v, double* out) {
  VARTYPE vt = v.vt & ~VT_BYREF;
  bool byRef = (v.vt & VT_BYREF) != 0;
  if (byRef && !v.byref) return false;
  switch (vt) {
    case VT_I2: *out = byRef ? *static_cast<SHORT*>(v.byref) : v.iVal; return true;
    case VT_I4:
    case VT_INT: *out = byRef ? *static_cast<LONG*>(v.byref) : v.lVal; return true;
    case VT_UI4:
    case VT_UINT: *out = byRef ? *static_cast<ULONG*>(v.byref) : v.ulVal; return true;
    case VT_R4: *out = byRef ? *static_cast<float*>(v.byref) : v.fltVal; return true;
    case VT_R8: *out = byRef ? *static_cast<double*>(v.byref) : v.dblVal; return true;
    case VT_BOOL: *out = (byRef ? *static_cast<VARIANT_BOOL*>(v.byref) : v.boolVal) ? -1 : 0; return true;
    case VT_UI1: *out = byRef ? *static_cast<BYTE*>(v.byref) : v.bVal; return true;
    case VT_I1: *out = byRef ? *static_cast<CHAR*>(v.byref) : v.cVal; return true;
    case VT_UI2: *out = byRef ? *static_cast<USHORT*>(v.byref) : v.uiVal; return true;
    case VT_BSTR: {
      BSTR text = byRef ? *static_cast<BSTR*>(v.byref) : v.bstrVal;
      std::string narrow = WideToUtf8(text);
      if (narrow.empty()) return false;
      errno = 0;
      char* end = nullptr;
      *out = std::strtod(narrow.c_str(), &end);
      return errno == 0 && end && *end == 0;
    }
    default: return false;
  }
}

}  // namespace

extern "C" HRESULT VariantChangeType(VARIANTARG* target, const VARIANTARG* source, USHORT, VARTYPE vt) {
  if (!target || !source) return E_INVALIDARG;
  VARTYPE from = source->vt & ~VT_BYREF;
  if (from == vt && !(source->vt & VT_BYREF)) return VariantCopy(target, source);
  VARIANT result;
  VariantInit(&result);
  result.vt = vt;
  double value = 0;
  if (vt == VT_BSTR) {
    if (from == VT_BSTR) {
      BSTR text = (source->vt & VT_BYREF) ? *static_cast<BSTR*>(source->byref) : source->bstrVal;
      result.bstrVal = SysAllocStringLen(text, SysStringLen(text));
    } else if (ReadNumber(*source, &value)) {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", value);
      std::u16string wide = Utf8ToWide(text);
      result.bstrVal = SysAllocStringLen(wide.c_str(), static_cast<UINT>(wide.size()));
    } else {
      return DISP_E_TYPEMISMATCH;
    }
    if (!result.bstrVal) return E_OUTOFMEMORY;
  } else {
    if (!ReadNumber(*source, &value)) return DISP_E_TYPEMISMATCH;
    // NaN fits no integer: every range test below fails for it.
    auto inRange = [&](double low, double high) { return value >= low && value <= high; };
    switch (vt) {
      case VT_R8: result.dblVal = value; break;
      case VT_R4: result.fltVal = static_cast<float>(value); break;
      case VT_I4:
      case VT_INT:
        if (!inRange(INT32_MIN, INT32_MAX)) return DISP_E_OVERFLOW;
        result.lVal = static_cast<LONG>(std::lround(value));
        break;
      case VT_I2:
        if (!inRange(INT16_MIN, INT16_MAX)) return DISP_E_OVERFLOW;
        result.iVal = static_cast<SHORT>(std::lround(value));
        break;
      case VT_UI1:
        if (!inRange(0, 255)) return DISP_E_OVERFLOW;
        result.bVal = static_cast<BYTE>(std::lround(value));
        break;
      case VT_BOOL: result.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
      default: return DISP_E_TYPEMISMATCH;
    }
  }
  VariantClear(target);
  *target = result;
  return S_OK;
}
