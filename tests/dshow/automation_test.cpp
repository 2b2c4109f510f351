// The automation library: BSTR and VARIANT helpers, type library files and their lookup, and
// Invoke onto an interface's vtable.
#include <gtest/gtest.h>

#include <string>

#include "platform/com/type_library.h"
#include "platform/dshow/seeking.h"
#include "platform/win/text.h"

namespace {

TEST(Automation, StringsAndVariantConversions) {
  BSTR text = SysAllocString(u"pelistra");
  EXPECT_EQ(SysStringLen(text), 8u);
  EXPECT_EQ(std::u16string(text), u"pelistra");
  SysFreeString(text);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  BSTR blank = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(blank[0], 0);
  EXPECT_EQ(blank[3], 0);
  SysFreeString(blank);

  struct Case {
    VARIANT from;
    VARTYPE to;
    HRESULT result;
    double value;
  };
  double byRef = 7.6;
  VARIANT i4{}, r8{}, big{}, ref{}, flag{}, numberText{}, wordText{};
  i4.vt = VT_I4, i4.lVal = -3;
  r8.vt = VT_R8, r8.dblVal = 2.5;
  big.vt = VT_R8, big.dblVal = 1e12;
  ref.vt = VT_R8 | VT_BYREF, ref.pdblVal = &byRef;
  flag.vt = VT_BOOL, flag.boolVal = VARIANT_TRUE;
  numberText.vt = VT_BSTR, numberText.bstrVal = SysAllocString(u"0.25");
  wordText.vt = VT_BSTR, wordText.bstrVal = SysAllocString(u"fast");
  const Case cases[] = {
      {i4, VT_R8, S_OK, -3},          {r8, VT_I4, S_OK, 3},   {big, VT_I4, DISP_E_OVERFLOW, 0},
      {ref, VT_I4, S_OK, 8},          {flag, VT_I4, S_OK, -1}, {numberText, VT_R8, S_OK, 0.25},
      {wordText, VT_R8, DISP_E_TYPEMISMATCH, 0},
  };
  for (const Case& c : cases) {
    VARIANT out;
    VariantInit(&out);
    EXPECT_EQ(VariantChangeType(&out, &c.from, 0, c.to), c.result) << c.from.vt << " to " << c.to;
    if (c.result == S_OK) EXPECT_EQ(c.to == VT_R8 ? out.dblVal : out.lVal, c.value);
    VariantClear(&out);
  }
  VARIANT back;
  VariantInit(&back);
  ASSERT_EQ(VariantChangeType(&back, &r8, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(back.bstrVal), u"2.5");
  VariantClear(&back);
  VariantClear(&numberText);
  VariantClear(&wordText);
}

TEST(Automation, MalformedTypeLibrariesAreRefused) {
  const std::string header = "PELISTRA-TYPELIB 1\n";
  const std::string library = "library {56A868B0-0AD4-11CE-B03A-0020AF0BA770} 1 0 L\n";
  const std::string itf = "interface {56A868B2-0AD4-11CE-B03A-0020AF0BA770} I 9\n";
  const std::string bad[] = {
      "",
      "PELISTRA-TYPELIB 2\n" + library,
      header,
      header + "library {nonsense} 1 0 L\n",
      header + library + "member Orphan 1 method 3\n",
      header + library + itf + "member Outside 1 method 9\n",
      header + library + itf + "member Low 1 method 2\n",
      header + library + itf + "member Get 1 propget 4 in:R8:x retval:R8:y\n",
      header + library + itf + "member Put 1 propput 4\n",
      header + library + itf + "member Odd 1 operator 4\n",
      header + library + itf + "member Typed 1 method 4 in:QWORD:x\n",
      header + library + itf + "member Twice 1 method 4 in:R8:x in:R8:y\n",
      header + library + itf + "member Id 0x1FFFFFFFF method 4\n",
  };
  for (const std::string& text : bad) {
    ITypeLib* lib = reinterpret_cast<ITypeLib*>(1);
    EXPECT_EQ(ParseTypeLibrary(text, &lib), TYPE_E_UNSUPFORMAT) << text;
    EXPECT_EQ(lib, nullptr);
  }
  ITypeLib* lib = nullptr;
  ASSERT_EQ(ParseTypeLibrary(header + library + itf + "member Fine 5 method 4 retval:BSTR:s\n", &lib), S_OK);
  lib->Release();
}

TEST(Automation, LibrariesAreFoundByFileAndByRegistration) {
  ITypeLib* lib = nullptr;
  EXPECT_EQ(LoadTypeLib(u"no-such.tlb", &lib), TYPE_E_CANTLOADLIBRARY);
  EXPECT_EQ(LoadRegTypeLib(IID_IMediaPosition, 1, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED) << "not a library id";
  EXPECT_EQ(LoadRegTypeLib(LIBID_QuartzTypeLib, 2, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED) << "no version 2";
  EXPECT_EQ(LoadRegTypeLib(LIBID_QuartzTypeLib, 1, 1, 0, &lib), TYPE_E_LIBNOTREGISTERED) << "only 1.0";
  ASSERT_EQ(LoadRegTypeLib(LIBID_QuartzTypeLib, 1, 0, 0x409, &lib), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_EQ(attr->guid, LIBID_QuartzTypeLib);
  lib->ReleaseTLibAttr(attr);
  lib->Release();
  ASSERT_EQ(LoadTypeLib(u"control.tlb", &lib), S_OK);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_IMediaSeeking, &info), TYPE_E_ELEMENTNOTFOUND);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IMediaPosition, &info), S_OK);
  TYPEATTR* type = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->cFuncs, 11);
  EXPECT_EQ(type->cbSizeVft, 18 * sizeof(void*));
  info->ReleaseTypeAttr(type);
  BSTR names[3] = {};
  UINT count = 0;
  ASSERT_EQ(info->GetNames(0x60020004, names, 3, &count), S_OK);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(std::u16string(names[0]), u"Rate");
  SysFreeString(names[0]);
  SysFreeString(names[1]);
  info->Release();
  lib->Release();
}

// Records what Invoke reaches.
class Position final : public IMediaPosition {
 public:
  double stop = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* d) override { return *d = 1.5, S_OK; }
  HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME*) override { return VFW_E_WRONG_STATE; }
  HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* t) override { return *t = stop, S_OK; }
  HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME t) override { return stop = t, S_OK; }
  HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE put_Rate(double) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_Rate(double*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE CanSeekForward(LONG* c) override { return *c = 0, S_OK; }
  HRESULT STDMETHODCALLTYPE CanSeekBackward(LONG* c) override { return *c = -1, S_OK; }
};

TEST(Automation, InvokeChecksTheCallAndReachesTheMember) {
  ITypeLib* lib = nullptr;
  ASSERT_EQ(LoadTypeLib(u"control.tlb", &lib), S_OK);
  ITypeInfo* info = nullptr;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IMediaPosition, &info), S_OK);
  lib->Release();
  Position object;
  IMediaPosition* instance = &object;
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"StopTime"), const_cast<LPOLESTR>(u"llTime"),
                      const_cast<LPOLESTR>(u"nothing")};
  MEMBERID ids[3];
  EXPECT_EQ(info->GetIDsOfNames(names, 3, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0x60020002);
  EXPECT_EQ(ids[1], 0);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);

  VARIANT arg, result;
  VariantInit(&arg);
  VariantInit(&result);
  arg.vt = VT_BSTR;
  arg.bstrVal = SysAllocString(u"12.5");
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS put{&arg, &named, 1, 1}, none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(info->Invoke(instance, 0x60020002, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr), S_OK);
  EXPECT_EQ(object.stop, 12.5);
  ASSERT_EQ(info->Invoke(instance, 0x60020002, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_R8);
  EXPECT_EQ(result.dblVal, 12.5);
  ASSERT_EQ(info->Invoke(instance, 0x60020006, DISPATCH_METHOD, &none, &result, nullptr, nullptr), S_OK);
  EXPECT_EQ(result.vt, VT_I4);
  EXPECT_EQ(result.lVal, -1);
  VariantClear(&arg);

  struct Failure {
    MEMBERID id;
    WORD flags;
    DISPPARAMS params;
    HRESULT result;
  };
  VARIANT word;
  VariantInit(&word);
  word.vt = VT_BSTR;
  word.bstrVal = SysAllocString(u"later");
  const Failure failures[] = {
      {0x60020002, DISPATCH_PROPERTYPUT, none, DISP_E_BADPARAMCOUNT},
      {0x60020002, DISPATCH_PROPERTYPUT, {&word, &named, 1, 1}, DISP_E_TYPEMISMATCH},
      {0x60020000, DISPATCH_PROPERTYPUT, {&word, &named, 1, 1}, DISP_E_MEMBERNOTFOUND},
      {0x12345, DISPATCH_METHOD, none, DISP_E_MEMBERNOTFOUND},
      {0x60020000, DISPATCH_PROPERTYGET, {&word, &named, 1, 1}, DISP_E_NONAMEDARGS},
      {0x60020001, DISPATCH_PROPERTYGET, none, DISP_E_EXCEPTION},
  };
  for (const Failure& f : failures) {
    DISPPARAMS params = f.params;
    EXCEPINFO exception{};
    UINT argumentError = 99;
    EXPECT_EQ(info->Invoke(instance, f.id, f.flags, &params, &result, &exception, &argumentError), f.result) << f.id;
    if (f.result == DISP_E_TYPEMISMATCH) EXPECT_EQ(argumentError, 0u);
    if (f.result == DISP_E_EXCEPTION) EXPECT_EQ(exception.scode, VFW_E_WRONG_STATE);
  }
  VariantClear(&word);
  EXPECT_EQ(info->Invoke(nullptr, 0x60020000, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr), E_INVALIDARG);
  info->Release();
}

}  // namespace
