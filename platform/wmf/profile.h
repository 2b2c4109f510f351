// Profiles: the streams a writer will put into a file, each described by a stream configuration.
#pragma once

#include <string>
#include <vector>

#include "platform/com/ref_count.h"
#include "platform/wmf/owned_media_type.h"

// What a stream configuration holds; a profile keeps its own copies of these.
struct StreamSettings {
  GUID streamType = GUID_NULL;  // MEDIATYPE_Audio or MEDIATYPE_Video
  WORD streamNumber = 0;
  DWORD bitrate = 0;
  DWORD bufferWindow = 0;  // milliseconds
  std::u16string name;
  std::u16string connectionName;
  OwnedMediaType mediaType;
};

class StreamConfig final : public IWMStreamConfig, public IWMMediaProps, private RefCount {
 public:
  static HRESULT Create(const StreamSettings& settings, IWMStreamConfig** out);
  const StreamSettings& Settings() const { return m_settings; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  PLATFORM_REFCOUNT_METHODS

  HRESULT STDMETHODCALLTYPE GetStreamType(GUID* type) override;
  HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* number) override;
  HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD number) override;
  HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* name, WORD* length) override;
  HRESULT STDMETHODCALLTYPE SetStreamName(WCHAR* name) override;
  HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* name, WORD* length) override;
  HRESULT STDMETHODCALLTYPE SetConnectionName(WCHAR* name) override;
  HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* bitrate) override;
  HRESULT STDMETHODCALLTYPE SetBitrate(DWORD bitrate) override;
  HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* window) override;
  HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD window) override;

  HRESULT STDMETHODCALLTYPE GetType(GUID* type) override;
  HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* type, DWORD* size) override;
  HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* type) override;

 private:
  StreamConfig() = default;
  StreamSettings m_settings;
  CRITICAL_SECTION m_lock;
};

class Profile final : public IWMProfile, private RefCount {
 public:
  explicit Profile(WMT_VERSION version) : m_version(version) {}
  // A copy of the streams as they stand now.
  std::vector<StreamSettings> Streams();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  PLATFORM_REFCOUNT_METHODS

  HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* version) override;
  HRESULT STDMETHODCALLTYPE GetName(WCHAR* name, DWORD* length) override;
  HRESULT STDMETHODCALLTYPE SetName(const WCHAR* name) override;
  HRESULT STDMETHODCALLTYPE GetDescription(WCHAR* description, DWORD* length) override;
  HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR* description) override;
  HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetStream(DWORD index, IWMStreamConfig** config) override;
  HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD number, IWMStreamConfig** config) override;
  HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig* config) override;
  HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD number) override;
  HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* config) override;
  HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig* config) override;
  HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID streamType, IWMStreamConfig** config) override;
  HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD index, IWMMutualExclusion** exclusion) override;
  HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(IWMMutualExclusion* exclusion) override;
  HRESULT STDMETHODCALLTYPE AddMutualExclusion(IWMMutualExclusion* exclusion) override;
  HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(IWMMutualExclusion** exclusion) override;

 private:
  // Checks a configuration before it joins the profile.
  HRESULT Validate(const StreamSettings& settings, bool replacing);
  ptrdiff_t IndexOf(WORD number) const;

  WMT_VERSION m_version;
  std::u16string m_name;
  std::u16string m_description;
  std::vector<StreamSettings> m_streams;
  CRITICAL_SECTION m_lock;
};

class ProfileManager final : public IWMProfileManager, private RefCount {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  PLATFORM_REFCOUNT_METHODS

  HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION version, IWMProfile** profile) override;
  HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID id, IWMProfile** profile) override;
  HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR* data, IWMProfile** profile) override;
  HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile* profile, WCHAR* data, DWORD* length) override;
  HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* count) override;
  HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD index, IWMProfile** profile) override;
};

// The stream numbers the writer API accepts.
constexpr WORD kMaxStreamNumber = 63;
// True when the type is one the writer can carry as the given stream type (audio with a
// WAVEFORMATEX; video with a VIDEOINFOHEADER or MPEG2VIDEOINFO), blocks long enough to read.
bool IsWritableMediaType(REFGUID streamType, const WM_MEDIA_TYPE& type);
