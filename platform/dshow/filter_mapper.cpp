#include "platform/dshow/filter_mapper.h"

#include <cstring>
#include <mutex>
#include <new>
#include <random>

#include "platform/com/alloc_fault.h"
#include "platform/com/ref_count.h"
#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/filter_mapper_store.h"
#include "platform/registry/registry.h"
#include "platform/win/text.h"

namespace {

std::string Utf8(LPCWSTR text) { return text ? WideToUtf8(text) : std::string(); }

HRESULT FromWin32(LONG code) { return HRESULT_FROM_WIN32(static_cast<DWORD>(code)); }

// Instance names become one registry key name.
bool ValidInstance(const std::string& instance) {
  return !instance.empty() && instance.size() <= 255 && instance.find('\\') == std::string::npos;
}

MapperPinType PinType(const REGPINTYPES& type) {
  return {type.clsMajorType ? *type.clsMajorType : GUID_NULL, type.clsMinorType ? *type.clsMinorType : GUID_NULL};
}

HRESULT PinsFromVersion1(const REGFILTER2& data, MapperFilter* filter) {
  if (data.cPins && !data.rgPins) return E_POINTER;
  for (ULONG i = 0; i < data.cPins; ++i) {
    const REGFILTERPINS& source = data.rgPins[i];
    if (source.nMediaTypes && !source.lpMediaType) return E_POINTER;
    MapperPin pin;
    pin.name = Utf8(source.strName);
    pin.rendered = source.bRendered != FALSE;
    pin.output = source.bOutput != FALSE;
    pin.zero = source.bZero != FALSE;
    pin.many = source.bMany != FALSE;
    pin.connectsToFilter = source.clsConnectsToFilter ? *source.clsConnectsToFilter : GUID_NULL;
    pin.connectsToPin = Utf8(source.strConnectsToPin);
    for (UINT t = 0; t < source.nMediaTypes; ++t) pin.types.push_back(PinType(source.lpMediaType[t]));
    filter->pins.push_back(std::move(pin));
  }
  return S_OK;
}

// Pins of the second form have no names: they are named by their position.
HRESULT PinsFromVersion2(const REGFILTER2& data, MapperFilter* filter) {
  if (data.cPins2 && !data.rgPins2) return E_POINTER;
  for (ULONG i = 0; i < data.cPins2; ++i) {
    const REGFILTERPINS2& source = data.rgPins2[i];
    if (source.nMediaTypes && !source.lpMediaType) return E_POINTER;
    MapperPin pin;
    pin.name = std::to_string(i);
    pin.rendered = (source.dwFlags & REG_PINFLAG_B_RENDERER) != 0;
    pin.output = (source.dwFlags & REG_PINFLAG_B_OUTPUT) != 0;
    pin.zero = (source.dwFlags & REG_PINFLAG_B_ZERO) != 0;
    pin.many = (source.dwFlags & REG_PINFLAG_B_MANY) != 0;
    for (UINT t = 0; t < source.nMediaTypes; ++t) pin.types.push_back(PinType(source.lpMediaType[t]));
    filter->pins.push_back(std::move(pin));
  }
  return S_OK;
}

// A filter registered without a name takes the one its class is registered under.
std::string ClassName(REFCLSID clsid) {
  char name[512];
  LONG size = sizeof name;
  std::string key = "CLSID\\" + GuidToString(clsid);
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), name, &size) != ERROR_SUCCESS) return {};
  return name;
}

GUID NewGuid() {
  std::random_device random;
  GUID g;
  auto* bytes = reinterpret_cast<BYTE*>(&g);
  for (size_t i = 0; i < sizeof g; i += 4) {
    uint32_t word = random();
    std::memcpy(bytes + i, &word, 4);
  }
  g.Data3 = static_cast<WORD>((g.Data3 & 0x0FFF) | 0x4000);  // a random GUID, version 4
  g.Data4[0] = static_cast<BYTE>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

bool TypesMatch(const GUID& wanted, const GUID& registered) {
  return wanted == GUID_NULL || registered == GUID_NULL || wanted == registered;
}

// The older mapper's matching: a pin of the wanted direction whose types admit the wanted ones
// (a null type on either side admits anything); an input must also be rendered when asked.
bool HasPin(const MapperFilter& filter, bool output, const CLSID& major, const CLSID& sub, bool mustRender) {
  for (const MapperPin& pin : filter.pins) {
    if (pin.output != output || (mustRender && !pin.rendered)) continue;
    if (pin.types.empty() && major == GUID_NULL && sub == GUID_NULL) return true;
    for (const MapperPinType& type : pin.types)
      if (TypesMatch(major, type.major) && TypesMatch(sub, type.subtype)) return true;
  }
  return false;
}

struct FoundFilter {
  CLSID clsid;
  std::u16string name;
};

class RegFilterEnumerator final : public RefCount, public IEnumRegFilters {
 public:
  RegFilterEnumerator(std::vector<FoundFilter> filters, size_t position)
      : filters_(std::move(filters)), position_(position) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IEnumRegFilters) return E_NOINTERFACE;
    *ppv = static_cast<IEnumRegFilters*>(this);
    AddRef();
    return S_OK;
  }
  PLATFORM_REFCOUNT_METHODS

  HRESULT STDMETHODCALLTYPE Next(ULONG count, REGFILTER** out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    std::lock_guard<std::mutex> hold(lock_);
    ULONG given = 0;
    while (given < count && position_ < filters_.size()) {
      const FoundFilter& found = filters_[position_];
      size_t nameBytes = (found.name.size() + 1) * sizeof(WCHAR);
      auto* record = static_cast<REGFILTER*>(CoTaskMemAlloc(sizeof(REGFILTER) + nameBytes));
      if (!record) {
        for (ULONG i = 0; i < given; ++i) CoTaskMemFree(out[i]);
        if (fetched) *fetched = 0;
        position_ -= given;
        return E_OUTOFMEMORY;
      }
      record->Clsid = found.clsid;
      record->Name = reinterpret_cast<LPWSTR>(record + 1);
      std::memcpy(record->Name, found.name.c_str(), nameBytes);
      out[given++] = record;
      ++position_;
    }
    if (fetched) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    std::lock_guard<std::mutex> hold(lock_);
    size_t left = filters_.size() - position_;
    position_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    std::lock_guard<std::mutex> hold(lock_);
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumRegFilters** copy) override {
    if (!copy) return E_POINTER;
    *copy = nullptr;
    std::lock_guard<std::mutex> hold(lock_);
    if (!PlatformAllocationAllowed()) return E_OUTOFMEMORY;
    try {
      *copy = new RegFilterEnumerator(filters_, position_);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

 private:
  ~RegFilterEnumerator() = default;
  std::mutex lock_;
  std::vector<FoundFilter> filters_;
  size_t position_;
};

// One object serves both interfaces; the older one works on the DirectShow filter category with
// the filter's CLSID as the instance name.
class FilterMapper final : public RefCount, public IFilterMapper2, public IFilterMapper {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown || riid == IID_IFilterMapper2)
      *ppv = static_cast<IFilterMapper2*>(this);
    else if (riid == IID_IFilterMapper)
      *ppv = static_cast<IFilterMapper*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  PLATFORM_REFCOUNT_METHODS

  // IFilterMapper2
  HRESULT STDMETHODCALLTYPE CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) override {
    return Guarded([&] {
      return FromWin32(mapper_store::WriteFilterHeader(CLSID_ActiveMovieCategories, GuidToString(category), category,
                                                       Utf8(description), merit));
    });
  }

  HRESULT STDMETHODCALLTYPE UnregisterFilter(const CLSID* category, LPCWSTR instance, REFCLSID filter) override {
    return Guarded([&] {
      std::string name = instance ? Utf8(instance) : GuidToString(filter);
      if (!ValidInstance(name)) return E_INVALIDARG;
      return FromWin32(mapper_store::RemoveInstance(category ? *category : CLSID_LegacyAmFilterCategory, name));
    });
  }

  HRESULT STDMETHODCALLTYPE RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker** moniker, const CLSID* category,
                                           LPCWSTR instance, const REGFILTER2* data) override {
    if (moniker) *moniker = nullptr;
    if (!data) return E_POINTER;
    return Guarded([&] {
      MapperFilter record;
      record.clsid = filter;
      record.name = name ? Utf8(name) : ClassName(filter);
      record.merit = data->dwMerit;
      HRESULT hr = data->dwVersion == 1   ? PinsFromVersion1(*data, &record)
                   : data->dwVersion == 2 ? PinsFromVersion2(*data, &record)
                                          : E_INVALIDARG;
      if (FAILED(hr)) return hr;
      std::string instanceName = instance ? Utf8(instance) : GuidToString(filter);
      if (!ValidInstance(instanceName)) return E_INVALIDARG;
      return FromWin32(
          mapper_store::WriteFilter(category ? *category : CLSID_LegacyAmFilterCategory, instanceName, record));
    });
  }

  HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumMoniker** result, DWORD, BOOL, DWORD, BOOL, DWORD, const GUID*,
                                                const REGPINMEDIUM*, const CLSID*, BOOL, BOOL, DWORD, const GUID*,
                                                const REGPINMEDIUM*, const CLSID*) override {
    if (result) *result = nullptr;
    return E_NOTIMPL;
  }

  // IFilterMapper
  HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID clsid, LPCWSTR name, DWORD merit) override {
    return Guarded([&] {
      return FromWin32(mapper_store::WriteFilterHeader(CLSID_LegacyAmFilterCategory, GuidToString(clsid), clsid,
                                                       name ? Utf8(name) : ClassName(clsid), merit));
    });
  }

  HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID clsid, LPCWSTR name, CLSID* mediaResourceId) override {
    if (!mediaResourceId) return E_POINTER;
    return Guarded([&] {
      MapperFilter filter;
      DWORD merit = SUCCEEDED(ReadFilterRegistration(clsid, &filter)) ? filter.merit : MERIT_NORMAL;
      GUID id = NewGuid();
      HRESULT hr = FromWin32(mapper_store::WriteFilterHeader(CLSID_LegacyAmFilterCategory, GuidToString(id), clsid,
                                                             name ? Utf8(name) : ClassName(clsid), merit));
      if (SUCCEEDED(hr)) *mediaResourceId = id;
      return hr;
    });
  }

  HRESULT STDMETHODCALLTYPE RegisterPin(CLSID filter, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero, BOOL many,
                                        CLSID connectsToFilter, LPCWSTR connectsToPin) override {
    if (!name) return E_POINTER;
    return Guarded([&] {
      MapperPin pin;
      pin.name = Utf8(name);
      pin.rendered = rendered != FALSE;
      pin.output = output != FALSE;
      pin.zero = zero != FALSE;
      pin.many = many != FALSE;
      pin.connectsToFilter = connectsToFilter;
      pin.connectsToPin = Utf8(connectsToPin);
      return FromWin32(mapper_store::WritePin(CLSID_LegacyAmFilterCategory, GuidToString(filter), pin));
    });
  }

  HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID filter, LPCWSTR pinName, CLSID majorType, CLSID subType) override {
    if (!pinName) return E_POINTER;
    return Guarded([&] {
      return FromWin32(mapper_store::AddPinType(CLSID_LegacyAmFilterCategory, GuidToString(filter), Utf8(pinName),
                                                {majorType, subType}));
    });
  }

  HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID filter) override {
    return Guarded([&] {
      return FromWin32(mapper_store::RemoveInstance(CLSID_LegacyAmFilterCategory, GuidToString(filter)));
    });
  }

  HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID mediaResourceId) override {
    return Guarded([&] {
      return FromWin32(mapper_store::RemoveInstance(CLSID_LegacyAmFilterCategory, GuidToString(mediaResourceId)));
    });
  }

  HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID filter, LPCWSTR name) override {
    if (!name) return E_POINTER;
    return Guarded([&] {
      return FromWin32(mapper_store::RemovePin(CLSID_LegacyAmFilterCategory, GuidToString(filter), Utf8(name)));
    });
  }

  HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters** result, DWORD merit, BOOL inputNeeded,
                                                CLSID inputMajor, CLSID inputSub, BOOL render, BOOL outputNeeded,
                                                CLSID outputMajor, CLSID outputSub) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    return Guarded([&] {
      std::vector<MapperFilter> registered;
      HRESULT hr = ListFilterRegistrations(CLSID_LegacyAmFilterCategory, &registered);
      if (FAILED(hr)) return hr;
      std::vector<FoundFilter> found;
      for (const MapperFilter& filter : registered) {
        if (filter.merit < merit) continue;
        if (inputNeeded && !HasPin(filter, false, inputMajor, inputSub, render != FALSE)) continue;
        if (outputNeeded && !HasPin(filter, true, outputMajor, outputSub, false)) continue;
        found.push_back({filter.clsid, Utf8ToWide(filter.name)});
      }
      if (!PlatformAllocationAllowed()) return E_OUTOFMEMORY;
      *result = new RegFilterEnumerator(std::move(found), 0);
      return S_OK;
    });
  }

 private:
  ~FilterMapper() = default;

  template <class Body>
  static HRESULT Guarded(Body&& body) {
    try {
      return body();
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
};

HRESULT CreateFilterMapper(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!PlatformAllocationAllowed()) return E_OUTOFMEMORY;
  auto* mapper = new (std::nothrow) FilterMapper;
  if (!mapper) return E_OUTOFMEMORY;
  HRESULT hr = static_cast<IFilterMapper2*>(mapper)->QueryInterface(riid, ppv);
  static_cast<IFilterMapper2*>(mapper)->Release();
  return hr;
}

struct FilterMapperClasses {
  FilterMapperClasses() {
    RegisterBuiltinClass(CLSID_FilterMapper2, &CreateFilterMapper);
    RegisterBuiltinClass(CLSID_FilterMapper, &CreateFilterMapper);
  }
} g_filterMapperClasses;

}  // namespace

HRESULT ReadFilterRegistration(REFCLSID filter, MapperFilter* out, const CLSID& category, const std::string& instance) {
  if (!out) return E_POINTER;
  try {
    return FromWin32(mapper_store::ReadFilter(category, instance.empty() ? GuidToString(filter) : instance, out));
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT ListFilterRegistrations(const CLSID& category, std::vector<MapperFilter>* out) {
  if (!out) return E_POINTER;
  try {
    out->clear();
    std::vector<std::string> instances;
    LONG rc = mapper_store::ListInstances(category, &instances);
    if (rc != ERROR_SUCCESS) return FromWin32(rc);
    for (const std::string& instance : instances) {
      MapperFilter filter;
      // One removed meanwhile by another process is simply no longer listed.
      if (mapper_store::ReadFilter(category, instance, &filter) == ERROR_SUCCESS) out->push_back(std::move(filter));
    }
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}
