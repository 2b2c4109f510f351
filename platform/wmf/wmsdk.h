// The Windows-Media-style writer: profiles that describe the streams of a file, and a writer
// that takes compressed samples and writes them into an ASF file through its file sink.
#pragma once

#include "platform/com/unknown.h"
#include "platform/dshow/mediatype.h"

// Same fields in the same order as the filter runtime's record, filled by a plain copy of it.
using WM_MEDIA_TYPE = AM_MEDIA_TYPE;

enum WMT_VERSION : DWORD {
  WMT_VER_4_0 = 0x00040000,
  WMT_VER_7_0 = 0x00070000,
  WMT_VER_8_0 = 0x00080000,
  WMT_VER_9_0 = 0x00090000,
};

enum WMT_ATTR_DATATYPE : DWORD {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
  WMT_TYPE_QWORD = 4,
  WMT_TYPE_WORD = 5,
  WMT_TYPE_GUID = 6,
};

// Flags of a written sample.
constexpr DWORD WM_SF_CLEANPOINT = 0x1;
constexpr DWORD WM_SF_DISCONTINUITY = 0x2;
constexpr DWORD WM_SF_DATALOSS = 0x4;

constexpr HRESULT NS_E_INVALID_INPUT_FORMAT = MakeStatus(0xC00D0BB8);
constexpr HRESULT NS_E_INVALID_OUTPUT_FORMAT = MakeStatus(0xC00D0BB9);
constexpr HRESULT NS_E_NOT_CONFIGURED = MakeStatus(0xC00D0BBE);
constexpr HRESULT NS_E_PROFILE_MISMATCH = MakeStatus(0xC00D1B78);
constexpr HRESULT NS_E_NO_STREAM = MakeStatus(0xC00D002C);
constexpr HRESULT NS_E_INVALID_NAME = MakeStatus(0xC00D0BC5);

inline constexpr IID IID_INSSBuffer = MakeGuid("E1CD3524-03D7-11D2-9EED-006097D2D7CF");
inline constexpr IID IID_IWMProfileManager = MakeGuid("D16679F2-6CA0-472D-8D31-2F5D55AEE155");
inline constexpr IID IID_IWMProfile = MakeGuid("96406BDB-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMStreamConfig = MakeGuid("96406BDC-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMMediaProps = MakeGuid("96406BCE-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMInputMediaProps = MakeGuid("96406BD5-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMWriter = MakeGuid("96406BD4-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMWriterAdvanced = MakeGuid("96406BE3-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMHeaderInfo = MakeGuid("96406BDA-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMWriterSink = MakeGuid("96406BE4-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMWriterFileSink = MakeGuid("96406BE5-2B2B-11D3-B36B-00C04F6108FF");
inline constexpr IID IID_IWMWriterFileSink2 = MakeGuid("14282BA7-4AEF-4205-8CE5-C229035A05BC");

struct INSSBuffer : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetLength(DWORD* pdwLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLength(DWORD dwLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* pdwLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** ppdwBuffer) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferAndLength(BYTE** ppdwBuffer, DWORD* pdwLength) = 0;
};

struct IWMMediaProps : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetType(GUID* pguidType) = 0;
  // With a null type, reports the bytes needed in *pcbType (the record plus its format block).
  virtual HRESULT STDMETHODCALLTYPE GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetMediaType(WM_MEDIA_TYPE* pType) = 0;
};

struct IWMInputMediaProps : IWMMediaProps {
  virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* pwszName, WORD* pcchName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetGroupName(WCHAR* pwszName, WORD* pcchName) = 0;
};

struct IWMStreamConfig : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetStreamType(GUID* pguidStreamType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamNumber(WORD* pwStreamNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStreamNumber(WORD wStreamNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamName(WCHAR* pwszStreamName, WORD* pcchStreamName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetStreamName(WCHAR* pwszStreamName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConnectionName(WCHAR* pwszInputName, WORD* pcchInputName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetConnectionName(WCHAR* pwszInputName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBitrate(DWORD* pdwBitrate) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBitrate(DWORD pdwBitrate) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBufferWindow(DWORD* pmsBufferWindow) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetBufferWindow(DWORD msBufferWindow) = 0;
};

struct IWMMutualExclusion;

struct IWMProfile : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetVersion(WMT_VERSION* pdwVersion) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetName(WCHAR* pwszName, DWORD* pcchName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetName(const WCHAR* pwszName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(WCHAR* pwszDescription, DWORD* pcchDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDescription(const WCHAR* pwszDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD* pcStreams) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStreamByNumber(WORD wStreamNum, IWMStreamConfig** ppConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveStream(IWMStreamConfig* pConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveStreamByNumber(WORD wStreamNum) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddStream(IWMStreamConfig* pConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReconfigStream(IWMStreamConfig* pConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateNewStream(REFGUID guidStreamType, IWMStreamConfig** ppConfig) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMutualExclusionCount(DWORD* pcME) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMutualExclusion(DWORD dwMEIndex, IWMMutualExclusion** ppME) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveMutualExclusion(IWMMutualExclusion* pME) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddMutualExclusion(IWMMutualExclusion* pME) = 0;
  virtual HRESULT STDMETHODCALLTYPE CreateNewMutualExclusion(IWMMutualExclusion** ppME) = 0;
};

struct IWMProfileManager : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateEmptyProfile(WMT_VERSION dwVersion, IWMProfile** ppProfile) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadProfileByID(REFGUID guidProfile, IWMProfile** ppProfile) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadProfileByData(const WCHAR* pwszProfile, IWMProfile** ppProfile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveProfile(IWMProfile* pIWMProfile, WCHAR* pwszProfile, DWORD* pdwLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSystemProfileCount(DWORD* pcProfiles) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadSystemProfile(DWORD dwProfileIndex, IWMProfile** ppProfile) = 0;
};

struct IWMWriter : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetProfileByID(REFGUID guidProfile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetProfile(IWMProfile* pProfile) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetOutputFilename(const WCHAR* pwszFilename) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputCount(DWORD* pcInputs) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputProps(DWORD dwInputNum, IWMInputMediaProps** ppInput) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetInputProps(DWORD dwInputNum, IWMInputMediaProps* pInput) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputFormatCount(DWORD dwInputNumber, DWORD* pcFormats) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInputFormat(DWORD dwInputNumber, DWORD dwFormatNumber, IWMInputMediaProps** pProps) = 0;
  virtual HRESULT STDMETHODCALLTYPE BeginWriting() = 0;
  virtual HRESULT STDMETHODCALLTYPE EndWriting() = 0;
  virtual HRESULT STDMETHODCALLTYPE AllocateSample(DWORD dwSampleSize, INSSBuffer** ppSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE WriteSample(DWORD dwInputNum, QWORD cnsSampleTime, DWORD dwFlags, INSSBuffer* pSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE Flush() = 0;
};

struct WM_WRITER_STATISTICS {
  QWORD qwSampleCount;
  QWORD qwByteCount;
  QWORD qwDroppedSampleCount;
  QWORD qwDroppedByteCount;
  DWORD dwCurrentBitrate;
  DWORD dwAverageBitrate;
  DWORD dwExpectedBitrate;
  DWORD dwCurrentSampleRate;
  DWORD dwAverageSampleRate;
  DWORD dwExpectedSampleRate;
};

struct IWMWriterSink;

struct IWMWriterAdvanced : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetSinkCount(DWORD* pcSinks) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSink(DWORD dwSinkNum, IWMWriterSink** ppSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddSink(IWMWriterSink* pSink) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveSink(IWMWriterSink* pSink) = 0;
  // The send time and duration are the caller's; the writer computes the packets' own send times.
  virtual HRESULT STDMETHODCALLTYPE WriteStreamSample(WORD wStreamNum, QWORD cnsSampleTime, DWORD msSampleSendTime,
                                                      QWORD cnsSampleDuration, DWORD dwFlags, INSSBuffer* pSample) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetLiveSource(BOOL fIsLiveSource) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* pfRealTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetWriterTime(QWORD* pcnsCurrentTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStatistics(WORD wStreamNum, WM_WRITER_STATISTICS* pStats) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSyncTolerance(DWORD msWindow) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSyncTolerance(DWORD* pmsWindow) = 0;
};

struct IWMHeaderInfo : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetAttributeCount(WORD wStreamNum, WORD* pcAttributes) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributeByIndex(WORD wIndex, WORD* pwStreamNum, WCHAR* pwszName, WORD* pcchNameLen,
                                                        WMT_ATTR_DATATYPE* pType, BYTE* pValue, WORD* pcbLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttributeByName(WORD* pwStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE* pType,
                                                       BYTE* pValue, WORD* pcbLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAttribute(WORD wStreamNum, LPCWSTR pszName, WMT_ATTR_DATATYPE Type,
                                                 const BYTE* pValue, WORD cbLength) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMarkerCount(WORD* pcMarkers) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMarker(WORD wIndex, WCHAR* pwszMarkerName, WORD* pcchMarkerNameLen, QWORD* pcnsMarkerTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddMarker(WCHAR* pwszMarkerName, QWORD cnsMarkerTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveMarker(WORD wIndex) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScriptCount(WORD* pcScripts) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetScript(WORD wIndex, WCHAR* pwszType, WORD* pcchTypeLen, WCHAR* pwszCommand,
                                              WORD* pcchCommandLen, QWORD* pcnsScriptTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE AddScript(WCHAR* pwszType, WCHAR* pwszCommand, QWORD cnsScriptTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE RemoveScript(WORD wIndex) = 0;
};

struct IWMWriterSink : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnHeader(INSSBuffer* pHeader) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsRealTime(BOOL* pfRealTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE AllocateDataUnit(DWORD cbDataUnit, INSSBuffer** ppDataUnit) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnDataUnit(INSSBuffer* pDataUnit) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnEndWriting() = 0;
};

struct IWMWriterFileSink : IWMWriterSink {
  virtual HRESULT STDMETHODCALLTYPE Open(const WCHAR* pwszFilename) = 0;
};

struct IWMWriterFileSink2 : IWMWriterFileSink {
  virtual HRESULT STDMETHODCALLTYPE Start(QWORD cnsStartTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE Stop(QWORD cnsStopTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsStopped(BOOL* pfStopped) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFileDuration(QWORD* pcnsDuration) = 0;
  // Bytes in the output file so far.
  virtual HRESULT STDMETHODCALLTYPE GetFileSize(QWORD* pcbFile) = 0;
  virtual HRESULT STDMETHODCALLTYPE Close() = 0;
  virtual HRESULT STDMETHODCALLTYPE IsClosed(BOOL* pfClosed) = 0;
};

struct IWMMutualExclusion : IUnknown {};

extern "C" {
HRESULT WMCreateProfileManager(IWMProfileManager** ppProfileManager);
// No certificate is needed for writing; pass null.
HRESULT WMCreateWriter(IUnknown* pUnkCert, IWMWriter** ppWriter);
}
