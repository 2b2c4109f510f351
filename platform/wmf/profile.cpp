#include "platform/wmf/profile.h"

#include <atomic>
#include <new>

#include "platform/win/text.h"
#include "platform/wmf/factory_seam.h"

namespace {

// The platform's rule for names handed out: null buffer → the length needed (terminator
// included); a short buffer → ERROR_INSUFFICIENT_BUFFER with the length needed.
template <class Length>
HRESULT CopyNameOut(const std::u16string& name, WCHAR* out, Length* length) {
  if (!length) return E_POINTER;
  Length needed = static_cast<Length>(name.size() + 1);
  if (!out) {
    *length = needed;
    return S_OK;
  }
  if (*length < needed) {
    *length = needed;
    return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  name.copy(out, name.size());
  out[name.size()] = 0;
  *length = needed;
  return S_OK;
}

}  // namespace

bool IsWritableMediaType(REFGUID streamType, const WM_MEDIA_TYPE& type) {
  if (!IsEqualGUID(type.majortype, streamType)) return false;
  if (type.cbFormat != 0 && !type.pbFormat) return false;
  if (IsEqualGUID(streamType, MEDIATYPE_Audio)) {
    if (!IsEqualGUID(type.formattype, FORMAT_WaveFormatEx) || type.cbFormat < sizeof(WAVEFORMATEX)) return false;
    auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
    return wave->nChannels != 0 && wave->nSamplesPerSec != 0 && wave->nBlockAlign != 0 &&
           sizeof(WAVEFORMATEX) + wave->cbSize <= type.cbFormat;
  }
  if (IsEqualGUID(streamType, MEDIATYPE_Video)) {
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo)) return type.cbFormat >= sizeof(VIDEOINFOHEADER);
    if (IsEqualGUID(type.formattype, FORMAT_MPEG2Video)) {
      if (type.cbFormat < offsetof(MPEG2VIDEOINFO, dwSequenceHeader)) return false;
      auto* mpeg2 = reinterpret_cast<const MPEG2VIDEOINFO*>(type.pbFormat);
      return offsetof(MPEG2VIDEOINFO, dwSequenceHeader) + uint64_t{mpeg2->cbSequenceHeader} <= type.cbFormat;
    }
  }
  return false;
}

// --- StreamConfig -------------------------------------------------------------------------------

HRESULT StreamConfig::Create(const StreamSettings& settings, IWMStreamConfig** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* config = new (std::nothrow) StreamConfig;
  if (!config) return E_OUTOFMEMORY;
  try {
    config->m_settings = settings;
  } catch (const std::bad_alloc&) {
    config->Release();
    return E_OUTOFMEMORY;
  }
  *out = config;
  return S_OK;
}

HRESULT StreamConfig::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWMStreamConfig)) {
    *ppv = static_cast<IWMStreamConfig*>(this);
  } else if (IsEqualGUID(riid, IID_IWMMediaProps)) {
    *ppv = static_cast<IWMMediaProps*>(this);
  } else {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

HRESULT StreamConfig::GetStreamType(GUID* type) {
  if (!type) return E_POINTER;
  *type = m_settings.streamType;
  return S_OK;
}

HRESULT StreamConfig::GetStreamNumber(WORD* number) {
  if (!number) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *number = m_settings.streamNumber;
  return S_OK;
}

HRESULT StreamConfig::SetStreamNumber(WORD number) {
  if (number == 0 || number > kMaxStreamNumber) return E_INVALIDARG;
  CriticalSectionLock hold(m_lock);
  m_settings.streamNumber = number;
  return S_OK;
}

HRESULT StreamConfig::GetStreamName(WCHAR* name, WORD* length) {
  CriticalSectionLock hold(m_lock);
  return CopyNameOut(m_settings.name, name, length);
}

HRESULT StreamConfig::SetStreamName(WCHAR* name) {
  if (!name) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  try {
    m_settings.name = name;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT StreamConfig::GetConnectionName(WCHAR* name, WORD* length) {
  CriticalSectionLock hold(m_lock);
  return CopyNameOut(m_settings.connectionName, name, length);
}

HRESULT StreamConfig::SetConnectionName(WCHAR* name) {
  if (!name) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  try {
    m_settings.connectionName = name;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT StreamConfig::GetBitrate(DWORD* bitrate) {
  if (!bitrate) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *bitrate = m_settings.bitrate;
  return S_OK;
}

HRESULT StreamConfig::SetBitrate(DWORD bitrate) {
  CriticalSectionLock hold(m_lock);
  m_settings.bitrate = bitrate;
  return S_OK;
}

HRESULT StreamConfig::GetBufferWindow(DWORD* window) {
  if (!window) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *window = m_settings.bufferWindow;
  return S_OK;
}

HRESULT StreamConfig::SetBufferWindow(DWORD window) {
  CriticalSectionLock hold(m_lock);
  m_settings.bufferWindow = window;
  return S_OK;
}

HRESULT StreamConfig::GetType(GUID* type) { return GetStreamType(type); }

HRESULT StreamConfig::GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) {
  CriticalSectionLock hold(m_lock);
  return m_settings.mediaType.CopyOut(type, size);
}

HRESULT StreamConfig::SetMediaType(WM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  if (!IsWritableMediaType(m_settings.streamType, *type)) return NS_E_INVALID_INPUT_FORMAT;
  CriticalSectionLock hold(m_lock);
  return m_settings.mediaType.Assign(*type);
}

// --- Profile ------------------------------------------------------------------------------------

std::vector<StreamSettings> Profile::Streams() {
  CriticalSectionLock hold(m_lock);
  return m_streams;
}

HRESULT Profile::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWMProfile)) {
    *ppv = static_cast<IWMProfile*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT Profile::GetVersion(WMT_VERSION* version) {
  if (!version) return E_POINTER;
  *version = m_version;
  return S_OK;
}

HRESULT Profile::GetName(WCHAR* name, DWORD* length) {
  CriticalSectionLock hold(m_lock);
  return CopyNameOut(m_name, name, length);
}

HRESULT Profile::SetName(const WCHAR* name) {
  if (!name) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  try {
    m_name = name;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Profile::GetDescription(WCHAR* description, DWORD* length) {
  CriticalSectionLock hold(m_lock);
  return CopyNameOut(m_description, description, length);
}

HRESULT Profile::SetDescription(const WCHAR* description) {
  if (!description) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  try {
    m_description = description;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Profile::GetStreamCount(DWORD* count) {
  if (!count) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  *count = static_cast<DWORD>(m_streams.size());
  return S_OK;
}

HRESULT Profile::GetStream(DWORD index, IWMStreamConfig** config) {
  if (!config) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  if (index >= m_streams.size()) return E_INVALIDARG;
  return StreamConfig::Create(m_streams[index], config);
}

ptrdiff_t Profile::IndexOf(WORD number) const {
  for (size_t i = 0; i < m_streams.size(); ++i)
    if (m_streams[i].streamNumber == number) return static_cast<ptrdiff_t>(i);
  return -1;
}

HRESULT Profile::GetStreamByNumber(WORD number, IWMStreamConfig** config) {
  if (!config) return E_POINTER;
  CriticalSectionLock hold(m_lock);
  ptrdiff_t at = IndexOf(number);
  if (at < 0) return NS_E_NO_STREAM;
  return StreamConfig::Create(m_streams[at], config);
}

HRESULT Profile::RemoveStream(IWMStreamConfig* config) {
  if (!config) return E_POINTER;
  WORD number = 0;
  config->GetStreamNumber(&number);
  return RemoveStreamByNumber(number);
}

HRESULT Profile::RemoveStreamByNumber(WORD number) {
  CriticalSectionLock hold(m_lock);
  ptrdiff_t at = IndexOf(number);
  if (at < 0) return NS_E_NO_STREAM;
  m_streams.erase(m_streams.begin() + at);
  return S_OK;
}

HRESULT Profile::Validate(const StreamSettings& settings, bool replacing) {
  if (settings.streamNumber == 0 || settings.streamNumber > kMaxStreamNumber) return NS_E_INVALID_STREAM;
  if (!settings.mediaType.IsSet()) return NS_E_INVALID_STREAM;
  bool present = IndexOf(settings.streamNumber) >= 0;
  if (present != replacing) return replacing ? NS_E_NO_STREAM : NS_E_INVALID_STREAM;
  return S_OK;
}

// Only configurations made by this runtime can join a profile: their settings are read directly.
static StreamConfig* OwnConfig(IWMStreamConfig* config) {
  IWMMediaProps* props = nullptr;
  if (FAILED(config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props)))) return nullptr;
  props->Release();
  return static_cast<StreamConfig*>(config);
}

HRESULT Profile::AddStream(IWMStreamConfig* config) {
  if (!config) return E_POINTER;
  StreamConfig* own = OwnConfig(config);
  if (!own) return E_INVALIDARG;
  CriticalSectionLock hold(m_lock);
  HRESULT hr = Validate(own->Settings(), false);
  if (FAILED(hr)) return hr;
  try {
    m_streams.push_back(own->Settings());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Profile::ReconfigStream(IWMStreamConfig* config) {
  if (!config) return E_POINTER;
  StreamConfig* own = OwnConfig(config);
  if (!own) return E_INVALIDARG;
  CriticalSectionLock hold(m_lock);
  HRESULT hr = Validate(own->Settings(), true);
  if (FAILED(hr)) return hr;
  StreamSettings& slot = m_streams[IndexOf(own->Settings().streamNumber)];
  try {
    slot = own->Settings();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Profile::CreateNewStream(REFGUID streamType, IWMStreamConfig** config) {
  if (!config) return E_POINTER;
  *config = nullptr;
  if (!IsEqualGUID(streamType, MEDIATYPE_Audio) && !IsEqualGUID(streamType, MEDIATYPE_Video)) return E_INVALIDARG;
  StreamSettings settings;
  settings.streamType = streamType;
  return StreamConfig::Create(settings, config);
}

HRESULT Profile::GetMutualExclusionCount(DWORD* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
HRESULT Profile::GetMutualExclusion(DWORD, IWMMutualExclusion**) { return E_INVALIDARG; }
HRESULT Profile::RemoveMutualExclusion(IWMMutualExclusion*) { return E_INVALIDARG; }
HRESULT Profile::AddMutualExclusion(IWMMutualExclusion*) { return E_NOTIMPL; }
HRESULT Profile::CreateNewMutualExclusion(IWMMutualExclusion**) { return E_NOTIMPL; }

// --- ProfileManager -----------------------------------------------------------------------------

HRESULT ProfileManager::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IWMProfileManager)) {
    *ppv = static_cast<IWMProfileManager*>(this);
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT ProfileManager::CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) {
  if (!profile) return E_POINTER;
  *profile = nullptr;
  switch (version) {
    case WMT_VER_4_0:
    case WMT_VER_7_0:
    case WMT_VER_8_0:
    case WMT_VER_9_0: break;
    default: return E_INVALIDARG;
  }
  *profile = new (std::nothrow) Profile(version);
  return *profile ? S_OK : E_OUTOFMEMORY;
}

// Stored and system profiles are not part of this runtime: profiles are built stream by stream.
HRESULT ProfileManager::LoadProfileByID(REFGUID, IWMProfile**) { return E_NOTIMPL; }
HRESULT ProfileManager::LoadProfileByData(const WCHAR*, IWMProfile**) { return E_NOTIMPL; }
HRESULT ProfileManager::SaveProfile(IWMProfile*, WCHAR*, DWORD*) { return E_NOTIMPL; }
HRESULT ProfileManager::GetSystemProfileCount(DWORD* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}
HRESULT ProfileManager::LoadSystemProfile(DWORD, IWMProfile**) { return E_INVALIDARG; }

static std::atomic<ProfileManagerFactory> g_profileManagerFactory{nullptr};

void SetProfileManagerFactory(ProfileManagerFactory factory) { g_profileManagerFactory.store(factory); }

HRESULT CreateRuntimeProfileManager(IWMProfileManager** manager) {
  if (!manager) return E_POINTER;
  *manager = new (std::nothrow) ProfileManager;
  return *manager ? S_OK : E_OUTOFMEMORY;
}

extern "C" HRESULT WMCreateProfileManager(IWMProfileManager** manager) {
  if (manager) *manager = nullptr;
  if (ProfileManagerFactory factory = g_profileManagerFactory.load()) return factory(manager);
  return CreateRuntimeProfileManager(manager);
}
