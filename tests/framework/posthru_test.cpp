// The position pass-through: forwarding to the upstream pin's seeking interfaces, local rules,
// and the dispatch path through the platform's type description.
#include <cmath>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "framework/posthru.h"
#include "platform/com/type_library.h"
#include "platform/registry/registry.h"
#include "platform/shell/machine_root.h"
#include "platform/win/text.h"
#include "tests/framework/framework_test.h"
#include "tests/framework/test_filters.h"

using namespace testing_filters;

namespace {

constexpr HRESULT kAnswer = MakeStatus(0x00040042);  // a success only the upstream pin gives

// The upstream pin's seeking interfaces: record the call, answer kAnswer.
class UpstreamSeeking final : public IMediaSeeking, public IMediaPosition {
 public:
  std::string last;
  double rate = 0;
  HRESULT answer = kAnswer;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IMediaSeeking) *ppv = static_cast<IMediaSeeking*>(this);
    else if (riid == IID_IMediaPosition) *ppv = static_cast<IMediaPosition*>(this);
    else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT Call(const char* name) {
    last = name;
    return answer;
  }
  HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD*) override { return Call("GetCapabilities"); }
  HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD*) override { return Call("CheckCapabilities"); }
  HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID*) override { return Call("IsFormatSupported"); }
  HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID*) override { return Call("QueryPreferredFormat"); }
  HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID*) override { return Call("GetTimeFormat"); }
  HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID*) override { return Call("IsUsingTimeFormat"); }
  HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID*) override { return Call("SetTimeFormat"); }
  HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* d) override {
    if (d) *d = 12345;
    return Call("GetDuration");
  }
  HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG*) override { return Call("GetStopPosition"); }
  HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* p) override {
    if (p) *p = 777;
    return Call("GetCurrentPosition");
  }
  HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG*, const GUID*, LONGLONG, const GUID*) override {
    return Call("ConvertTimeFormat");
  }
  HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG*, DWORD, LONGLONG*, DWORD) override { return Call("SetPositions"); }
  HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG*, LONGLONG*) override { return Call("GetPositions"); }
  HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG*, LONGLONG*) override { return Call("GetAvailable"); }
  HRESULT STDMETHODCALLTYPE SetRate(double r) override {
    rate = r;
    return Call("SetRate");
  }
  HRESULT STDMETHODCALLTYPE GetRate(double*) override { return Call("GetRate"); }
  HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG*) override { return Call("GetPreroll"); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* d) override {
    if (d) *d = 42.5;
    return Call("get_Duration");
  }
  HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME) override { return Call("put_CurrentPosition"); }
  HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME*) override { return Call("get_CurrentPosition"); }
  HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME*) override { return Call("get_StopTime"); }
  HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME) override { return Call("put_StopTime"); }
  HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME*) override { return Call("get_PrerollTime"); }
  HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME) override { return Call("put_PrerollTime"); }
  HRESULT STDMETHODCALLTYPE put_Rate(double r) override {
    rate = r;
    return Call("put_Rate");
  }
  HRESULT STDMETHODCALLTYPE get_Rate(double*) override { return Call("get_Rate"); }
  HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* can) override {
    if (can) *can = -1;
    return Call("CanSeekForward");
  }
  HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG*) override { return Call("CanSeekBackward"); }
};

class PosPassThru : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    source = Create<CTestSourceFilter>();
    sink = Create<CTestSinkFilter>(1);
    source->Output()->seeking = static_cast<IMediaSeeking*>(&upstream);
    HRESULT status = S_OK;
    // As a filter holds it: aggregated under the filter, bound to its input pin.
    passThru = new CPosPassThru(nullptr, sink->GetOwner(), &status, sink->Input());
    EXPECT_EQ(status, S_OK);
    seeking = passThru;
    position = passThru;
  }
  void TearDown() override {
    delete passThru;
    source->Output()->Disconnect();
    sink->Input()->Disconnect();
    source->Interface()->Release();
    sink->Interface()->Release();
    FrameworkTest::TearDown();
  }
  void Connect() { ASSERT_EQ(source->Output()->Connect(sink->Input(), nullptr), S_OK); }

  UpstreamSeeking upstream;
  CTestSourceFilter* source = nullptr;
  CTestSinkFilter* sink = nullptr;
  CPosPassThru* passThru = nullptr;
  IMediaSeeking* seeking = nullptr;
  IMediaPosition* position = nullptr;
};

struct Forwarded {
  const char* name;
  std::function<HRESULT(IMediaSeeking*, IMediaPosition*)> call;
};

const std::vector<Forwarded>& ForwardedCalls() {
  static LONGLONG t = 0;
  static GUID g = GUID_NULL;
  static DWORD d = 0;
  static double r = 0;
  static LONG l = 0;
  static const std::vector<Forwarded> calls = {
      {"GetCapabilities", [](IMediaSeeking* s, IMediaPosition*) { return s->GetCapabilities(&d); }},
      {"CheckCapabilities", [](IMediaSeeking* s, IMediaPosition*) { return s->CheckCapabilities(&d); }},
      {"IsFormatSupported", [](IMediaSeeking* s, IMediaPosition*) { return s->IsFormatSupported(&g); }},
      {"QueryPreferredFormat", [](IMediaSeeking* s, IMediaPosition*) { return s->QueryPreferredFormat(&g); }},
      {"GetTimeFormat", [](IMediaSeeking* s, IMediaPosition*) { return s->GetTimeFormat(&g); }},
      {"IsUsingTimeFormat", [](IMediaSeeking* s, IMediaPosition*) { return s->IsUsingTimeFormat(&g); }},
      {"SetTimeFormat", [](IMediaSeeking* s, IMediaPosition*) { return s->SetTimeFormat(&g); }},
      {"GetDuration", [](IMediaSeeking* s, IMediaPosition*) { return s->GetDuration(&t); }},
      {"GetStopPosition", [](IMediaSeeking* s, IMediaPosition*) { return s->GetStopPosition(&t); }},
      {"GetCurrentPosition", [](IMediaSeeking* s, IMediaPosition*) { return s->GetCurrentPosition(&t); }},
      {"ConvertTimeFormat", [](IMediaSeeking* s, IMediaPosition*) { return s->ConvertTimeFormat(&t, &g, 1, &g); }},
      {"SetPositions", [](IMediaSeeking* s, IMediaPosition*) { return s->SetPositions(&t, 0, &t, 0); }},
      {"GetPositions", [](IMediaSeeking* s, IMediaPosition*) { return s->GetPositions(&t, &t); }},
      {"GetAvailable", [](IMediaSeeking* s, IMediaPosition*) { return s->GetAvailable(&t, &t); }},
      {"SetRate", [](IMediaSeeking* s, IMediaPosition*) { return s->SetRate(2.0); }},
      {"GetRate", [](IMediaSeeking* s, IMediaPosition*) { return s->GetRate(&r); }},
      {"GetPreroll", [](IMediaSeeking* s, IMediaPosition*) { return s->GetPreroll(&t); }},
      {"get_Duration", [](IMediaSeeking*, IMediaPosition* p) { return p->get_Duration(&r); }},
      {"put_CurrentPosition", [](IMediaSeeking*, IMediaPosition* p) { return p->put_CurrentPosition(1.0); }},
      {"get_CurrentPosition", [](IMediaSeeking*, IMediaPosition* p) { return p->get_CurrentPosition(&r); }},
      {"get_StopTime", [](IMediaSeeking*, IMediaPosition* p) { return p->get_StopTime(&r); }},
      {"put_StopTime", [](IMediaSeeking*, IMediaPosition* p) { return p->put_StopTime(1.0); }},
      {"get_PrerollTime", [](IMediaSeeking*, IMediaPosition* p) { return p->get_PrerollTime(&r); }},
      {"put_PrerollTime", [](IMediaSeeking*, IMediaPosition* p) { return p->put_PrerollTime(1.0); }},
      {"put_Rate", [](IMediaSeeking*, IMediaPosition* p) { return p->put_Rate(0.5); }},
      {"get_Rate", [](IMediaSeeking*, IMediaPosition* p) { return p->get_Rate(&r); }},
      {"CanSeekForward", [](IMediaSeeking*, IMediaPosition* p) { return p->CanSeekForward(&l); }},
      {"CanSeekBackward", [](IMediaSeeking*, IMediaPosition* p) { return p->CanSeekBackward(&l); }},
  };
  return calls;
}

TEST_F(PosPassThru, EveryCallReachesTheUpstreamPinOnceConnected) {
  for (const Forwarded& f : ForwardedCalls())
    EXPECT_EQ(f.call(seeking, position), E_NOTIMPL) << f.name << " while unconnected";
  Connect();
  for (const Forwarded& f : ForwardedCalls()) {
    upstream.last.clear();
    EXPECT_EQ(f.call(seeking, position), kAnswer) << f.name;
    EXPECT_EQ(upstream.last, f.name);
  }
  // An upstream pin without the interfaces: nothing is cached, each call looks again.
  source->Output()->seeking = nullptr;
  for (const Forwarded& f : ForwardedCalls()) EXPECT_EQ(f.call(seeking, position), E_NOTIMPL) << f.name;
}

TEST_F(PosPassThru, ZeroRateIsRefusedHereAndOtherRatesGoUpstream) {
  EXPECT_EQ(seeking->SetRate(0.0), E_INVALIDARG);
  EXPECT_EQ(position->put_Rate(-0.0), E_INVALIDARG);
  Connect();
  upstream.last.clear();
  EXPECT_EQ(seeking->SetRate(0.0), E_INVALIDARG);
  EXPECT_TRUE(upstream.last.empty());
  EXPECT_EQ(seeking->SetRate(std::nan("")), kAnswer);
  EXPECT_TRUE(std::isnan(upstream.rate));
  LONGLONG current = 0;
  EXPECT_EQ(seeking->GetCurrentPosition(&current), kAnswer);
  EXPECT_EQ(current, 777);
  LONGLONG start;
  EXPECT_EQ(passThru->GetMediaTime(&start, nullptr), E_FAIL);
}

TEST_F(PosPassThru, ReferencesGoToTheOwningFilter) {
  sink->Interface()->AddRef();
  ULONG before = sink->Interface()->Release();
  EXPECT_EQ(seeking->AddRef(), before + 1);
  EXPECT_EQ(position->Release(), before);
  IMediaPosition* fromSeeking = nullptr;
  // Queries go to the filter, which does not route them here: only the inner object answers.
  EXPECT_EQ(seeking->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&fromSeeking)), E_NOINTERFACE);
  ASSERT_EQ(passThru->NonDelegatingQueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&fromSeeking)), S_OK);
  EXPECT_EQ(fromSeeking, position);
  fromSeeking->Release();
  EXPECT_EQ(passThru->NonDelegatingQueryInterface(IID_IMediaSeeking, nullptr), E_POINTER);

  HRESULT status = S_OK;
  CPosPassThru unbound(nullptr, nullptr, &status, nullptr);
  EXPECT_EQ(status, E_POINTER);
}

TEST_F(PosPassThru, DispatchReachesTheUpstreamPin) {
  UINT count = 0;
  EXPECT_EQ(position->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(position->GetTypeInfo(1, 0, &info), TYPE_E_ELEMENTNOTFOUND);
  EXPECT_EQ(info, nullptr);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  const IID someInterface = IID_IMediaPosition;
  EXPECT_EQ(position->Invoke(0x60020000, someInterface, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);

  // Every member has a name.
  for (const char16_t* name : {u"Duration", u"CurrentPosition", u"StopTime", u"PrerollTime", u"Rate",
                               u"CanSeekForward", u"CanSeekBackward", u"duration"}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(position->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << WideToUtf8(name);
    EXPECT_NE(id, DISPID_UNKNOWN);
  }
  LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"Volume")};
  DISPID id = 0;
  EXPECT_EQ(position->GetIDsOfNames(IID_NULL, unknown, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);

  LPOLESTR duration[] = {const_cast<LPOLESTR>(u"Duration")};
  ASSERT_EQ(position->GetIDsOfNames(IID_NULL, duration, 1, 0, &id), S_OK);
  EXCEPINFO exception{};
  EXPECT_EQ(position->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, &exception, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_NOTIMPL) << "unconnected: the member's own failure";

  Connect();
  ASSERT_EQ(position->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(upstream.last, "get_Duration");
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_EQ(result.dblVal, 42.5);

  LPOLESTR rate[] = {const_cast<LPOLESTR>(u"Rate")};
  ASSERT_EQ(position->GetIDsOfNames(IID_NULL, rate, 1, 0, &id), S_OK);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 3;  // converted to the member's double
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&value, &named, 1, 1};
  ASSERT_EQ(position->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(upstream.last, "put_Rate");
  EXPECT_EQ(upstream.rate, 3.0);

  LPOLESTR forward[] = {const_cast<LPOLESTR>(u"CanSeekForward")};
  ASSERT_EQ(position->GetIDsOfNames(IID_NULL, forward, 1, 0, &id), S_OK);
  ASSERT_EQ(position->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, -1);
}

// The registered library is tried first, "control.tlb" in the system directory second.
TEST_F(PosPassThru, TypeDescriptionComesFromTheRegisteredLibraryBeforeControlTlb) {
  ASSERT_EQ(EnsureMachineRoot(), S_OK);
  const std::string system = SystemDirectoryPath();
  const std::string control = system + "control.tlb", elsewhere = system + "registered-copy.tlb";
  const std::string key = "TypeLib\\{56A868B0-0AD4-11CE-B03A-0020AF0BA770}\\1.0\\0\\win32";
  auto registerPath = [&](const std::string& path) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, key.c_str(), &handle), 0);
    RegSetValueExA(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegCloseKey(handle);
  };
  auto typeInfoResult = [&] {
    HRESULT status = S_OK;
    CPosPassThru fresh(nullptr, nullptr, &status, sink->Input());  // a new object loads afresh
    ITypeInfo* info = nullptr;
    HRESULT hr = fresh.GetTypeInfo(0, 0, &info);
    if (info) info->Release();
    return hr;
  };
  ASSERT_TRUE(std::filesystem::exists(control)) << "the platform's setup writes it";
  EXPECT_EQ(typeInfoResult(), S_OK);

  // Registered elsewhere and control.tlb gone: the registered file is used.
  std::filesystem::rename(control, elsewhere);
  registerPath(elsewhere);
  EXPECT_EQ(typeInfoResult(), S_OK);

  // Not registered: control.tlb, and only it.
  ASSERT_EQ(RegDeleteTreeA(HKEY_CLASSES_ROOT, "TypeLib\\{56A868B0-0AD4-11CE-B03A-0020AF0BA770}"), 0);
  EXPECT_EQ(typeInfoResult(), TYPE_E_CANTLOADLIBRARY);
  std::filesystem::rename(elsewhere, control);
  EXPECT_EQ(typeInfoResult(), S_OK);

  registerPath(control);
}

}  // namespace
