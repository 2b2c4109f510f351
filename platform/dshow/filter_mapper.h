// The filter mapper: where filters record themselves (name, merit, pins, media types) for the
// graph to find. CLSID_FilterMapper2 gives IFilterMapper2 (and IFilterMapper); CLSID_FilterMapper
// gives IFilterMapper. Registrations live in the registry under
//   HKEY_CLASSES_ROOT\CLSID\{category}\Instance\{instance}
// with the values FriendlyName, CLSID and Merit and the subkeys Pins\NNNN (Name, Rendered, Output,
// Zero, Many, ConnectsToFilter, ConnectsToPin, and Types\NNNN with MajorType and SubType). The older
// interface uses the category of DirectShow filters and the filter's CLSID as the instance.
// Removing what is not registered answers HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
#pragma once

#include <string>
#include <vector>

#include "platform/com/unknown.h"

struct IMoniker;
struct IEnumMoniker;

inline constexpr CLSID CLSID_FilterMapper = MakeGuid("E436EBB2-524F-11CE-9F53-0020AF0BA770");
inline constexpr CLSID CLSID_FilterMapper2 = MakeGuid("CDA42200-BD88-11D0-BD4E-00A0C911CE86");
inline constexpr IID IID_IFilterMapper = MakeGuid("56A868A3-0AD4-11CE-B03A-0020AF0BA770");
inline constexpr IID IID_IFilterMapper2 = MakeGuid("B79BB0B0-33C1-11D1-ABE1-00A0C905F375");
inline constexpr IID IID_IEnumRegFilters = MakeGuid("56A868A4-0AD4-11CE-B03A-0020AF0BA770");
// The category of ordinary DirectShow filters, and the category of categories.
inline constexpr CLSID CLSID_LegacyAmFilterCategory = MakeGuid("083863F1-70DE-11D0-BD40-00A0C911CE86");
inline constexpr CLSID CLSID_ActiveMovieCategories = MakeGuid("DA4E3DA0-D07D-11D0-BD50-00A0C911CE86");

constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
constexpr DWORD MERIT_SW_COMPRESSOR = 0x100000;
constexpr DWORD MERIT_HW_COMPRESSOR = 0x100050;

struct REGPINTYPES {
  const CLSID* clsMajorType;
  const CLSID* clsMinorType;
};

struct REGFILTERPINS {
  LPWSTR strName;
  BOOL bRendered;
  BOOL bOutput;
  BOOL bZero;
  BOOL bMany;
  const CLSID* clsConnectsToFilter;
  const WCHAR* strConnectsToPin;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
};

struct REGPINMEDIUM {
  CLSID clsMedium;
  DWORD dw1;
  DWORD dw2;
};

constexpr DWORD REG_PINFLAG_B_ZERO = 0x1;
constexpr DWORD REG_PINFLAG_B_RENDERER = 0x2;
constexpr DWORD REG_PINFLAG_B_MANY = 0x4;
constexpr DWORD REG_PINFLAG_B_OUTPUT = 0x8;

struct REGFILTERPINS2 {
  DWORD dwFlags;
  UINT cInstances;
  UINT nMediaTypes;
  const REGPINTYPES* lpMediaType;
  UINT nMediums;
  const REGPINMEDIUM* lpMedium;
  const CLSID* clsPinCategory;
};

struct REGFILTER2 {
  DWORD dwVersion;  // 1: rgPins, 2: rgPins2
  DWORD dwMerit;
  union {
    struct {
      ULONG cPins;
      const REGFILTERPINS* rgPins;
    };
    struct {
      ULONG cPins2;
      const REGFILTERPINS2* rgPins2;
    };
  };
};

// What IEnumRegFilters hands out: one task-memory block holding the record and its name.
struct REGFILTER {
  CLSID Clsid;
  LPWSTR Name;
};

struct IEnumRegFilters : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, REGFILTER** filters, ULONG* fetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumRegFilters** copy) = 0;
};

struct IFilterMapper : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID clsid, LPCWSTR name, DWORD merit) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID clsid, LPCWSTR name, CLSID* mediaResourceId) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterPin(CLSID filter, LPCWSTR name, BOOL rendered, BOOL output, BOOL zero,
                                                BOOL many, CLSID connectsToFilter, LPCWSTR connectsToPin) = 0;
  virtual HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID filter, LPCWSTR pinName, CLSID majorType,
                                                    CLSID subType) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID filter) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID mediaResourceId) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID filter, LPCWSTR name) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters** result, DWORD merit, BOOL inputNeeded,
                                                        CLSID inputMajor, CLSID inputSub, BOOL render,
                                                        BOOL outputNeeded, CLSID outputMajor, CLSID outputSub) = 0;
};

struct IFilterMapper2 : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnregisterFilter(const CLSID* category, LPCWSTR instance, REFCLSID filter) = 0;
  // No moniker is made: a non-null ppMoniker receives null.
  virtual HRESULT STDMETHODCALLTYPE RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker** moniker,
                                                   const CLSID* category, LPCWSTR instance,
                                                   const REGFILTER2* data) = 0;
  // Not provided: E_NOTIMPL.
  virtual HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumMoniker** result, DWORD flags, BOOL exactMatch,
                                                        DWORD merit, BOOL inputNeeded, DWORD inputTypeCount,
                                                        const GUID* inputTypes, const REGPINMEDIUM* inputMedium,
                                                        const CLSID* inputPinCategory, BOOL render,
                                                        BOOL outputNeeded, DWORD outputTypeCount,
                                                        const GUID* outputTypes, const REGPINMEDIUM* outputMedium,
                                                        const CLSID* outputPinCategory) = 0;
};

// Reading registrations back (tests, the pelistra program). Text is UTF-8.
struct MapperPinType {
  GUID major;
  GUID subtype;
};
struct MapperPin {
  std::string name;
  bool rendered = false;
  bool output = false;
  bool zero = false;
  bool many = false;
  CLSID connectsToFilter = GUID_NULL;
  std::string connectsToPin;
  std::vector<MapperPinType> types;
};
struct MapperFilter {
  CLSID clsid = GUID_NULL;
  CLSID category = GUID_NULL;
  std::string instance;
  std::string name;
  DWORD merit = 0;
  std::vector<MapperPin> pins;
};

// One registration: by default the filter's in the DirectShow filter category.
// HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) when there is none.
HRESULT ReadFilterRegistration(REFCLSID filter, MapperFilter* out, const CLSID& category = CLSID_LegacyAmFilterCategory,
                               const std::string& instance = {});
// Every registration of a category, in instance name order.
HRESULT ListFilterRegistrations(const CLSID& category, std::vector<MapperFilter>* out);
