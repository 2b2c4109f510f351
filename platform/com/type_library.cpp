#include "platform/com/type_library.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "platform/com/ref_count.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/seeking.h"
#include "platform/registry/registry.h"
#include "platform/shell/machine_root.h"
#include "platform/win/sync.h"
#include "platform/win/text.h"

namespace {

enum class ParamType { None, I4, R8, Bstr };

struct Member {
  std::u16string name;
  MEMBERID id;
  INVOKEKIND kind;
  UINT slot;
  ParamType in = ParamType::None;
  std::u16string inName;
  ParamType out = ParamType::None;
  std::u16string outName;
};

struct InterfaceDescription {
  GUID iid;
  std::u16string name;
  UINT slots;
  std::vector<Member> members;
};

struct LibraryDescription {
  GUID libid;
  WORD major, minor;
  std::u16string name;
  std::vector<InterfaceDescription> interfaces;
};

using Description = std::shared_ptr<const LibraryDescription>;

bool SameName(const std::u16string& a, const OLECHAR* b) {
  size_t i = 0;
  for (; i < a.size(); ++i) {
    if (!b[i]) return false;
    char16_t x = a[i], y = b[i];
    if (x < 128 && y < 128 && std::tolower(x) == std::tolower(y)) continue;
    if (x != y) return false;
  }
  return b[i] == 0;
}

BSTR AllocText(const std::u16string& text) { return SysAllocStringLen(text.c_str(), static_cast<UINT>(text.size())); }

VARTYPE VariantTypeOf(ParamType type) {
  switch (type) {
    case ParamType::I4: return VT_I4;
    case ParamType::R8: return VT_R8;
    case ParamType::Bstr: return VT_BSTR;
    default: return VT_EMPTY;
  }
}

// Calls the vtable slot of a COM object with the given arguments after `this`.
template <class... Args>
HRESULT CallSlot(void* instance, UINT slot, Args... args) {
  using Generic = void (*)();
  using Method = HRESULT (*)(void*, Args...);
  Generic* table = *static_cast<Generic**>(instance);
  return reinterpret_cast<Method>(table[slot])(instance, args...);
}

template <class... In>
HRESULT CallWithResult(void* instance, const Member& m, VARIANT* result, In... in) {
  HRESULT hr;
  VARIANT value;
  VariantInit(&value);
  switch (m.out) {
    case ParamType::None: return CallSlot(instance, m.slot, in...);
    case ParamType::I4: hr = CallSlot(instance, m.slot, in..., &value.lVal); break;
    case ParamType::R8: hr = CallSlot(instance, m.slot, in..., &value.dblVal); break;
    case ParamType::Bstr: hr = CallSlot(instance, m.slot, in..., &value.bstrVal); break;
  }
  value.vt = VariantTypeOf(m.out);
  if (FAILED(hr) || !result)
    VariantClear(&value);
  else
    *result = value;
  return hr;
}

HRESULT CallMember(void* instance, const Member& m, const VARIANT* in, VARIANT* result) {
  switch (m.in) {
    case ParamType::None: return CallWithResult(instance, m, result);
    case ParamType::I4: return CallWithResult(instance, m, result, in->lVal);
    case ParamType::R8: return CallWithResult(instance, m, result, in->dblVal);
    case ParamType::Bstr: return CallWithResult(instance, m, result, in->bstrVal);
  }
  return E_UNEXPECTED;
}

class TypeLib;

class TypeInfo final : public RefCount, public ITypeInfo {
 public:
  TypeInfo(ITypeLib* library, Description description, size_t index)
      : m_library(library), m_description(std::move(description)), m_index(index) {
    m_library->AddRef();
  }
  ~TypeInfo() override { m_library->Release(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
      *ppv = static_cast<ITypeInfo*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PLATFORM_REFCOUNT_METHODS

  HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** out) override {
    if (!out) return E_INVALIDARG;
    auto* attr = static_cast<TYPEATTR*>(CoTaskMemAlloc(sizeof(TYPEATTR)));
    if (!attr) return E_OUTOFMEMORY;
    *attr = TYPEATTR{};
    attr->guid = Interface().iid;
    attr->memidConstructor = attr->memidDestructor = -1;
    attr->typekind = TKIND_DISPATCH;
    attr->cFuncs = static_cast<WORD>(Interface().members.size());
    attr->cbSizeVft = static_cast<WORD>(Interface().slots * sizeof(void*));
    attr->cbAlignment = sizeof(void*);
    attr->cbSizeInstance = sizeof(void*);
    attr->wTypeFlags = TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE;
    attr->wMajorVerNum = m_description->major;
    attr->wMinorVerNum = m_description->minor;
    *out = attr;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* attr) override { CoTaskMemFree(attr); }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** out) override { return NotOffered(out); }
  HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT, FUNCDESC** out) override { return NotOffered(out); }
  HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** out) override { return NotOffered(out); }
  void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC*) override {}
  void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) override {}

  HRESULT STDMETHODCALLTYPE GetNames(MEMBERID id, BSTR* names, UINT max, UINT* count) override {
    if (!names || !count) return E_INVALIDARG;
    *count = 0;
    const Member* m = FindById(id);
    if (!m) return TYPE_E_ELEMENTNOTFOUND;
    std::vector<const std::u16string*> all{&m->name};
    if (m->in != ParamType::None) all.push_back(&m->inName);
    if (m->out != ParamType::None) all.push_back(&m->outName);
    for (const std::u16string* name : all) {
      if (*count == max) break;
      names[*count] = AllocText(*name);
      if (!names[*count]) {
        while (*count) SysFreeString(names[--*count]);
        return E_OUTOFMEMORY;
      }
      ++*count;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT, HREFTYPE* out) override {
    if (out) *out = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT, INT* out) override {
    if (out) *out = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }

  // The first name is a member's, the others that member's parameters; names ignore letter case.
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override {
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    const InterfaceDescription& itf = Interface();
    const Member* found = nullptr;
    for (const Member& m : itf.members)
      if (names[0] && SameName(m.name, names[0])) {
        found = &m;
        break;
      }
    if (!found) return DISP_E_UNKNOWNNAME;
    ids[0] = found->id;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
      // Parameters are numbered as in the member's list; a get and a put share a name.
      ids[i] = DISPID_UNKNOWN;
      for (const Member& m : itf.members) {
        if (m.id != found->id || !names[i]) continue;
        if (m.in != ParamType::None && SameName(m.inName, names[i])) ids[i] = 0;
        if (m.out != ParamType::None && SameName(m.outName, names[i]) && ids[i] == DISPID_UNKNOWN)
          ids[i] = m.in != ParamType::None ? 1 : 0;
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Invoke(void* instance, MEMBERID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* exception, UINT* argumentError) override {
    if (!instance || !params || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs) || params->cNamedArgs > params->cArgs)
      return E_INVALIDARG;
    const Member* m = FindForCall(id, flags);
    if (!m) return DISP_E_MEMBERNOTFOUND;
    // The only named argument understood is the value of a property put.
    if (params->cNamedArgs > 1 ||
        (params->cNamedArgs == 1 && (m->kind != INVOKE_PROPERTYPUT || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)))
      return DISP_E_NONAMEDARGS;
    UINT wanted = m->in != ParamType::None ? 1 : 0;
    if (params->cArgs != wanted) return DISP_E_BADPARAMCOUNT;
    VARIANT argument;
    VariantInit(&argument);
    if (wanted) {
      HRESULT hr = VariantChangeType(&argument, &params->rgvarg[0], 0, VariantTypeOf(m->in));
      if (FAILED(hr)) {
        if (argumentError) *argumentError = 0;
        return hr == E_OUTOFMEMORY ? hr : DISP_E_TYPEMISMATCH;
      }
    }
    if (result) VariantInit(result);
    HRESULT hr = CallMember(instance, *m, &argument, result);
    VariantClear(&argument);
    if (FAILED(hr)) {
      // A failing member is reported the way script callers expect: an exception with its status.
      if (exception) {
        *exception = EXCEPINFO{};
        exception->scode = hr;
      }
      return DISP_E_EXCEPTION;
    }
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID id, BSTR* name, BSTR* doc, DWORD* context,
                                             BSTR* helpFile) override {
    const std::u16string* text = nullptr;
    if (id == -1) {
      text = &Interface().name;
    } else if (const Member* m = FindById(id)) {
      text = &m->name;
    } else {
      return TYPE_E_ELEMENTNOTFOUND;
    }
    if (doc) *doc = nullptr;
    if (context) *context = 0;
    if (helpFile) *helpFile = nullptr;
    if (name) {
      *name = AllocText(*text);
      if (!*name) return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR* dll, BSTR* name, WORD* ordinal) override {
    if (dll) *dll = nullptr;
    if (name) *name = nullptr;
    if (ordinal) *ordinal = 0;
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE, ITypeInfo** out) override { return NotOffered(out); }
  HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, void** out) override { return NotOffered(out); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override { return NotOffered(out); }
  HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* out) override { return NotOffered(out); }
  HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** library, UINT* index) override {
    if (!library) return E_INVALIDARG;
    *library = m_library;
    m_library->AddRef();
    if (index) *index = static_cast<UINT>(m_index);
    return S_OK;
  }

 private:
  template <class T>
  static HRESULT NotOffered(T** out) {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  const InterfaceDescription& Interface() const { return m_description->interfaces[m_index]; }
  const Member* FindById(MEMBERID id) const {
    for (const Member& m : Interface().members)
      if (m.id == id) return &m;
    return nullptr;
  }
  // A get may be asked for as a method too, as scripting callers do.
  const Member* FindForCall(MEMBERID id, WORD flags) const {
    for (const Member& m : Interface().members) {
      if (m.id != id) continue;
      if ((flags & DISPATCH_PROPERTYPUT) && m.kind == INVOKE_PROPERTYPUT) return &m;
      if ((flags & DISPATCH_PROPERTYGET) && m.kind == INVOKE_PROPERTYGET) return &m;
      if ((flags & DISPATCH_METHOD) && (m.kind == INVOKE_FUNC || m.kind == INVOKE_PROPERTYGET)) return &m;
      if ((flags & DISPATCH_PROPERTYGET) && m.kind == INVOKE_FUNC && m.in == ParamType::None) return &m;
    }
    return nullptr;
  }

  ITypeLib* m_library;
  Description m_description;
  size_t m_index;
};

class TypeLib final : public RefCount, public ITypeLib {
 public:
  explicit TypeLib(Description description) : m_description(std::move(description)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeLib) {
      *ppv = static_cast<ITypeLib*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  PLATFORM_REFCOUNT_METHODS

  UINT STDMETHODCALLTYPE GetTypeInfoCount() override { return static_cast<UINT>(m_description->interfaces.size()); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (index >= m_description->interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *out = new (std::nothrow) TypeInfo(this, m_description, index);
    return *out ? S_OK : E_OUTOFMEMORY;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) override {
    if (!kind) return E_INVALIDARG;
    if (index >= m_description->interfaces.size()) return TYPE_E_ELEMENTNOTFOUND;
    *kind = TKIND_DISPATCH;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** out) override {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    for (size_t i = 0; i < m_description->interfaces.size(); ++i)
      if (m_description->interfaces[i].iid == guid) return GetTypeInfo(static_cast<UINT>(i), out);
    return TYPE_E_ELEMENTNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** out) override {
    if (!out) return E_INVALIDARG;
    auto* attr = static_cast<TLIBATTR*>(CoTaskMemAlloc(sizeof(TLIBATTR)));
    if (!attr) return E_OUTOFMEMORY;
    *attr = TLIBATTR{m_description->libid, 0, SYS_WIN64, m_description->major, m_description->minor, 0};
    *out = attr;
    return S_OK;
  }
  void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* attr) override { CoTaskMemFree(attr); }
  HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** out) override {
    if (out) *out = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* name, BSTR* doc, DWORD* context,
                                             BSTR* helpFile) override {
    if (doc) *doc = nullptr;
    if (context) *context = 0;
    if (helpFile) *helpFile = nullptr;
    const std::u16string* text = nullptr;
    if (index == -1)
      text = &m_description->name;
    else if (index >= 0 && static_cast<size_t>(index) < m_description->interfaces.size())
      text = &m_description->interfaces[index].name;
    else
      return TYPE_E_ELEMENTNOTFOUND;
    if (name) {
      *name = AllocText(*text);
      if (!*name) return E_OUTOFMEMORY;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE IsName(LPOLESTR name, ULONG, BOOL* found) override {
    if (!name || !found) return E_INVALIDARG;
    *found = FALSE;
    for (const InterfaceDescription& itf : m_description->interfaces) {
      if (SameName(itf.name, name)) *found = TRUE;
      for (const Member& m : itf.members)
        if (SameName(m.name, name)) *found = TRUE;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE FindName(LPOLESTR, ULONG, ITypeInfo** infos, MEMBERID*, USHORT* found) override {
    if (infos) *infos = nullptr;
    if (found) *found = 0;
    return E_NOTIMPL;
  }

 private:
  Description m_description;
};

// --- the file format ---

bool ParseNumber(const std::string& word, long long* out) {
  if (word.empty()) return false;
  try {
    size_t used = 0;
    *out = std::stoll(word, &used, 0);
    return used == word.size();
  } catch (...) {
    return false;
  }
}

bool ParseType(const std::string& word, ParamType* out) {
  if (word == "I4") *out = ParamType::I4;
  else if (word == "R8") *out = ParamType::R8;
  else if (word == "BSTR") *out = ParamType::Bstr;
  else return false;
  return true;
}

// "in:R8:llTime" or "retval:R8:plength".
bool ParseParameter(const std::string& word, Member* m) {
  size_t first = word.find(':'), second = word.find(':', first + 1);
  if (first == std::string::npos || second == std::string::npos || second + 1 >= word.size()) return false;
  std::string role = word.substr(0, first);
  ParamType type;
  if (!ParseType(word.substr(first + 1, second - first - 1), &type)) return false;
  std::u16string name = Utf8ToWide(word.substr(second + 1));
  if (role == "in" && m->in == ParamType::None) {
    m->in = type;
    m->inName = name;
  } else if (role == "retval" && m->out == ParamType::None) {
    m->out = type;
    m->outName = name;
  } else {
    return false;
  }
  return true;
}

bool ParseLines(std::string_view text, LibraryDescription* lib) {
  std::istringstream lines{std::string(text)};
  std::string line;
  bool header = false, haveLibrary = false;
  while (std::getline(lines, line)) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.empty() || words[0][0] == '#') continue;
    if (!header) {
      if (words.size() != 2 || words[0] != "PELISTRA-TYPELIB" || words[1] != "1") return false;
      header = true;
      continue;
    }
    long long a = 0, b = 0;
    if (words[0] == "library") {
      auto id = words.size() == 5 ? GuidFromString(words[1]) : std::nullopt;
      if (!id || haveLibrary || !ParseNumber(words[2], &a) || !ParseNumber(words[3], &b) || a < 0 || a > 0xFFFF ||
          b < 0 || b > 0xFFFF)
        return false;
      *lib = LibraryDescription{*id, static_cast<WORD>(a), static_cast<WORD>(b), Utf8ToWide(words[4]), {}};
      haveLibrary = true;
    } else if (words[0] == "interface") {
      auto id = words.size() == 4 ? GuidFromString(words[1]) : std::nullopt;
      if (!haveLibrary || !id || !ParseNumber(words[3], &a) || a < 3 || a > 1024) return false;
      lib->interfaces.push_back({*id, Utf8ToWide(words[2]), static_cast<UINT>(a), {}});
    } else if (words[0] == "member") {
      if (lib->interfaces.empty() || words.size() < 5 || words.size() > 7) return false;
      InterfaceDescription& itf = lib->interfaces.back();
      Member m;
      m.name = Utf8ToWide(words[1]);
      if (!ParseNumber(words[2], &a) || a < INT32_MIN || a > UINT32_MAX) return false;
      m.id = static_cast<MEMBERID>(static_cast<uint32_t>(a));
      if (words[3] == "method") m.kind = INVOKE_FUNC;
      else if (words[3] == "propget") m.kind = INVOKE_PROPERTYGET;
      else if (words[3] == "propput") m.kind = INVOKE_PROPERTYPUT;
      else return false;
      // IUnknown's three slots are never dispatched to; the slot must lie in the table.
      if (!ParseNumber(words[4], &b) || b < 3 || b >= static_cast<long long>(itf.slots)) return false;
      m.slot = static_cast<UINT>(b);
      for (size_t i = 5; i < words.size(); ++i)
        if (!ParseParameter(words[i], &m)) return false;
      if (m.kind == INVOKE_PROPERTYGET && (m.in != ParamType::None || m.out == ParamType::None)) return false;
      if (m.kind == INVOKE_PROPERTYPUT && (m.in == ParamType::None || m.out != ParamType::None)) return false;
      itf.members.push_back(std::move(m));
    } else {
      return false;
    }
  }
  return header && haveLibrary;
}

constexpr char kControlTypeLibrary[] = R"(PELISTRA-TYPELIB 1
# The filter graph's automation types, as the platform's setup installs them.
library {56A868B0-0AD4-11CE-B03A-0020AF0BA770} 1 0 ActiveMovieControlTypeLibrary
interface {56A868B2-0AD4-11CE-B03A-0020AF0BA770} IMediaPosition 18
member Duration 0x60020000 propget 7 retval:R8:plength
member CurrentPosition 0x60020001 propput 8 in:R8:llTime
member CurrentPosition 0x60020001 propget 9 retval:R8:pllTime
member StopTime 0x60020002 propget 10 retval:R8:pllTime
member StopTime 0x60020002 propput 11 in:R8:llTime
member PrerollTime 0x60020003 propget 12 retval:R8:pllTime
member PrerollTime 0x60020003 propput 13 in:R8:llTime
member Rate 0x60020004 propput 14 in:R8:dRate
member Rate 0x60020004 propget 15 retval:R8:pdRate
member CanSeekForward 0x60020005 method 16 retval:I4:pCanSeekForward
member CanSeekBackward 0x60020006 method 17 retval:I4:pCanSeekBackward
)";

std::string RegistryGuid(REFGUID g) { return GuidToString(g); }

std::string SubkeyPath(REFGUID libid) { return "TypeLib\\" + RegistryGuid(libid); }

bool ReadDefaultValue(HKEY key, const std::string& subKey, std::string* value) {
  HKEY sub = nullptr;
  if (RegOpenKeyExA(key, subKey.c_str(), 0, KEY_QUERY_VALUE, &sub) != static_cast<LONG>(ERROR_SUCCESS)) return false;
  DWORD type = 0, size = 0;
  bool ok = RegQueryValueExA(sub, nullptr, nullptr, &type, nullptr, &size) == static_cast<LONG>(ERROR_SUCCESS) &&
            type == REG_SZ;
  if (ok) {
    std::string data(size, '\0');
    ok = RegQueryValueExA(sub, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) ==
         static_cast<LONG>(ERROR_SUCCESS);
    data.resize(std::min<size_t>(size, data.size()));
    while (!data.empty() && data.back() == '\0') data.pop_back();
    *value = data;
  }
  RegCloseKey(sub);
  return ok;
}

void WriteDefaultValue(const std::string& key, const std::string& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyA(HKEY_CLASSES_ROOT, key.c_str(), &handle) != static_cast<LONG>(ERROR_SUCCESS)) return;
  RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>(value.size() + 1));
  RegCloseKey(handle);
}

// The platform's setup: "control.tlb" in the system directory and its registration.
void PrepareControlTypeLibrary() {
  std::string path = SystemDirectoryPath() + "control.tlb";
  std::string_view text = ControlTypeLibraryText();
  std::ifstream existing(path, std::ios::binary);
  std::string present((std::istreambuf_iterator<char>(existing)), std::istreambuf_iterator<char>());
  if (present != text) {
    // Written beside and renamed, so a process reading it meanwhile sees it whole.
    std::string temporary = path + ".part" + std::to_string(reinterpret_cast<uintptr_t>(&text));
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    std::rename(temporary.c_str(), path.c_str());
  }
  std::string key = SubkeyPath(LIBID_QuartzTypeLib) + "\\1.0";
  WriteDefaultValue(key, "ActiveMovie control type library");
  WriteDefaultValue(key + "\\0\\win32", path);
  WriteDefaultValue(key + "\\FLAGS", "0");
  WriteDefaultValue(key + "\\HELPDIR", SystemDirectoryPath());
}

struct ControlTypeLibraryPreparer {
  ControlTypeLibraryPreparer() { AddMachineRootPreparer(&PrepareControlTypeLibrary); }
} g_controlTypeLibraryPreparer;

}  // namespace

HRESULT ParseTypeLibrary(std::string_view text, ITypeLib** library) {
  if (!library) return E_POINTER;
  *library = nullptr;
  try {
    auto description = std::make_shared<LibraryDescription>();
    if (!ParseLines(text, description.get())) return TYPE_E_UNSUPFORMAT;
    *library = new TypeLib(std::move(description));
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

std::string_view ControlTypeLibraryText() { return {kControlTypeLibrary, sizeof kControlTypeLibrary - 1}; }

extern "C" HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** library) {
  if (!library) return E_POINTER;
  *library = nullptr;
  if (!file || !*file) return E_INVALIDARG;
  try {
    std::string path = WideToUtf8(file);
    if (path.find('/') == std::string::npos) {
      HRESULT hr = EnsureMachineRoot();
      if (FAILED(hr)) return hr;
      path = SystemDirectoryPath() + path;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) return TYPE_E_CANTLOADLIBRARY;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return TYPE_E_CANTLOADLIBRARY;
    // A type library is small; anything huge is not one.
    if (text.size() > (1u << 20)) return TYPE_E_UNSUPFORMAT;
    return ParseTypeLibrary(text, library);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** library) {
  if (!library) return E_POINTER;
  *library = nullptr;
  try {
    HKEY versions = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, SubkeyPath(libid).c_str(), 0, KEY_READ, &versions) !=
        static_cast<LONG>(ERROR_SUCCESS))
      return TYPE_E_LIBNOTREGISTERED;
    // The newest registered version of the same major number with at least the minor asked for.
    std::string best;
    long bestMinor = -1;
    char name[64];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      LONG status = RegEnumKeyExA(versions, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == static_cast<LONG>(ERROR_NO_MORE_ITEMS)) break;
      if (status != static_cast<LONG>(ERROR_SUCCESS)) continue;
      unsigned long keyMajor = 0, keyMinor = 0;
      char dot = 0, rest = 0;
      if (std::sscanf(name, "%lx%c%lx%c", &keyMajor, &dot, &keyMinor, &rest) != 3 || dot != '.') continue;
      if (keyMajor == major && keyMinor >= minor && static_cast<long>(keyMinor) > bestMinor) {
        bestMinor = static_cast<long>(keyMinor);
        best = name;
      }
    }
    std::string path;
    bool found = false;
    if (!best.empty()) {
      char language[16];
      std::snprintf(language, sizeof language, "%lx", static_cast<unsigned long>(lcid));
      for (std::string locale : {std::string(language), std::string("0")})
        for (const char* platform : {"win64", "win32"})
          if (!found) found = ReadDefaultValue(versions, best + "\\" + locale + "\\" + platform, &path);
    }
    RegCloseKey(versions);
    if (!found || path.empty()) return TYPE_E_LIBNOTREGISTERED;
    std::u16string wide = Utf8ToWide(path);
    HRESULT hr = LoadTypeLib(wide.c_str(), library);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    if (SUCCEEDED((*library)->GetLibAttr(&attr))) {
      bool same = attr->guid == libid;
      (*library)->ReleaseTLibAttr(attr);
      if (!same) {
        SafeRelease(*library);
        return TYPE_E_LIBNOTREGISTERED;
      }
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
