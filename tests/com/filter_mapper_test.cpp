// The filter mapper: registrations through both interfaces, read back, replaced, removed;
// matching enumeration.
#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/dshow/filter_mapper.h"
#include "platform/win/text.h"
#include "tests/registry/temp_machine_root.h"

namespace {

constexpr CLSID kMuxer = MakeGuid("E007F9AB-C9B8-403D-91BA-B1E50AA0F55A");
constexpr GUID kVideo = MakeGuid("73646976-0000-0010-8000-00AA00389B71");
constexpr GUID kAudio = MakeGuid("73647561-0000-0010-8000-00AA00389B71");
constexpr HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

class FilterMapperTest : public TempMachineRoot {
 protected:
  void SetUp() override {
    TempMachineRoot::SetUp();
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                               reinterpret_cast<void**>(&mapper2_)),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                               reinterpret_cast<void**>(&mapper_)),
              S_OK);
  }
  void TearDown() override {
    SafeRelease(mapper2_);
    SafeRelease(mapper_);
    TempMachineRoot::TearDown();
  }

  // The muxer's setup record: two pins "Input" connecting to "Output", any type.
  HRESULT RegisterMuxer() {
    static const REGPINTYPES anyType = {&GUID_NULL, &GUID_NULL};
    static WCHAR input[] = u"Input";
    static const REGFILTERPINS pins[2] = {{input, FALSE, FALSE, FALSE, FALSE, &GUID_NULL, u"Output", 1, &anyType},
                                          {input, FALSE, FALSE, FALSE, FALSE, &GUID_NULL, u"Output", 1, &anyType}};
    REGFILTER2 data{};
    data.dwVersion = 1;
    data.dwMerit = MERIT_DO_NOT_USE;
    data.cPins = 2;
    data.rgPins = pins;
    return mapper2_->RegisterFilter(kMuxer, u"Halvorn ASF Muxer", nullptr, nullptr, nullptr, &data);
  }

  IFilterMapper2* mapper2_ = nullptr;
  IFilterMapper* mapper_ = nullptr;
};

TEST_F(FilterMapperTest, NewerInterfaceRegistrationReadsBackAndIsReplacedWhole) {
  ASSERT_EQ(RegisterMuxer(), S_OK);
  ASSERT_EQ(RegisterMuxer(), S_OK);
  std::vector<MapperFilter> all;
  ASSERT_EQ(ListFilterRegistrations(CLSID_LegacyAmFilterCategory, &all), S_OK);
  ASSERT_EQ(all.size(), 1u);
  const MapperFilter& muxer = all[0];
  EXPECT_EQ(muxer.clsid, kMuxer);
  EXPECT_EQ(muxer.name, "Halvorn ASF Muxer");
  EXPECT_EQ(muxer.merit, 0x200000u);
  ASSERT_EQ(muxer.pins.size(), 2u);
  for (const MapperPin& pin : muxer.pins) {
    EXPECT_EQ(pin.name, "Input");
    EXPECT_FALSE(pin.rendered || pin.output || pin.zero || pin.many);
    EXPECT_EQ(pin.connectsToFilter, GUID_NULL);
    EXPECT_EQ(pin.connectsToPin, "Output");
    ASSERT_EQ(pin.types.size(), 1u);
    EXPECT_EQ(pin.types[0].major, GUID_NULL);
    EXPECT_EQ(pin.types[0].subtype, GUID_NULL);
  }

  EXPECT_EQ(mapper2_->UnregisterFilter(nullptr, nullptr, kMuxer), S_OK);
  MapperFilter gone;
  EXPECT_EQ(ReadFilterRegistration(kMuxer, &gone), kNotFound);
  EXPECT_EQ(mapper2_->UnregisterFilter(nullptr, nullptr, kMuxer), kNotFound);
}

TEST_F(FilterMapperTest, CategoriesInstancesAndBadRecords) {
  constexpr CLSID category = MakeGuid("33D9A760-90C8-11D0-BD43-00A0C911CE86");
  EXPECT_EQ(mapper2_->CreateCategory(category, MERIT_NORMAL, u"Encoders"), S_OK);
  MapperFilter entry;
  ASSERT_EQ(ReadFilterRegistration(category, &entry, CLSID_ActiveMovieCategories), S_OK);
  EXPECT_EQ(entry.name, "Encoders");

  // Version 2 pins carry flags and no names; an instance name of the caller's choosing.
  static const REGPINTYPES video = {&kVideo, &GUID_NULL};
  const REGFILTERPINS2 pin = {REG_PINFLAG_B_OUTPUT | REG_PINFLAG_B_MANY, 1, 1, &video, 0, nullptr, nullptr};
  REGFILTER2 data{};
  data.dwVersion = 2;
  data.dwMerit = MERIT_UNLIKELY;
  data.cPins2 = 1;
  data.rgPins2 = &pin;
  IMoniker* moniker = reinterpret_cast<IMoniker*>(&data);
  ASSERT_EQ(mapper2_->RegisterFilter(kMuxer, u"Encoder", &moniker, &category, u"Köder", &data), S_OK);
  EXPECT_EQ(moniker, nullptr);
  ASSERT_EQ(ReadFilterRegistration(kMuxer, &entry, category, "Köder"), S_OK);
  ASSERT_EQ(entry.pins.size(), 1u);
  EXPECT_TRUE(entry.pins[0].output && entry.pins[0].many && !entry.pins[0].rendered);
  EXPECT_EQ(entry.pins[0].types[0].major, kVideo);
  EXPECT_EQ(mapper2_->UnregisterFilter(&category, u"köder", kMuxer), S_OK);  // letter case ignored

  data.dwVersion = 3;
  EXPECT_EQ(mapper2_->RegisterFilter(kMuxer, u"x", nullptr, nullptr, nullptr, &data), E_INVALIDARG);
  EXPECT_EQ(mapper2_->RegisterFilter(kMuxer, u"x", nullptr, nullptr, nullptr, nullptr), E_POINTER);
  data.dwVersion = 1;
  data.cPins = 1;
  data.rgPins = nullptr;
  EXPECT_EQ(mapper2_->RegisterFilter(kMuxer, u"x", nullptr, nullptr, nullptr, &data), E_POINTER);
  data.cPins = 0;
  EXPECT_EQ(mapper2_->RegisterFilter(kMuxer, u"x", nullptr, nullptr, u"a\\b", &data), E_INVALIDARG);
  EXPECT_EQ(ReadFilterRegistration(kMuxer, &entry), kNotFound);
}

TEST_F(FilterMapperTest, OlderInterfaceBuildsARegistrationPinByPin) {
  // Nothing to add pins to yet.
  EXPECT_EQ(mapper_->RegisterPin(kMuxer, u"Input", FALSE, FALSE, FALSE, FALSE, GUID_NULL, u"Output"), kNotFound);
  ASSERT_EQ(mapper_->RegisterFilter(kMuxer, u"Halvorn ASF Muxer", MERIT_DO_NOT_USE), S_OK);
  ASSERT_EQ(mapper_->RegisterPin(kMuxer, u"Video", FALSE, FALSE, FALSE, FALSE, GUID_NULL, u"Output"), S_OK);
  ASSERT_EQ(mapper_->RegisterPin(kMuxer, u"Audio", TRUE, FALSE, TRUE, FALSE, GUID_NULL, u"Output"), S_OK);
  // A pin registered again under its name (any letter case) is redefined, not added.
  ASSERT_EQ(mapper_->RegisterPin(kMuxer, u"VIDEO", TRUE, FALSE, FALSE, FALSE, GUID_NULL, u"Out"), S_OK);
  ASSERT_EQ(mapper_->RegisterPinType(kMuxer, u"Video", kVideo, GUID_NULL), S_OK);
  ASSERT_EQ(mapper_->RegisterPinType(kMuxer, u"Video", kVideo, GUID_NULL), S_OK);
  ASSERT_EQ(mapper_->RegisterPinType(kMuxer, u"Audio", kAudio, GUID_NULL), S_OK);
  EXPECT_EQ(mapper_->RegisterPinType(kMuxer, u"Text", kAudio, GUID_NULL), kNotFound);

  MapperFilter muxer;
  ASSERT_EQ(ReadFilterRegistration(kMuxer, &muxer), S_OK);
  EXPECT_EQ(muxer.merit, MERIT_DO_NOT_USE);
  ASSERT_EQ(muxer.pins.size(), 2u);
  EXPECT_EQ(muxer.pins[0].name, "Video");
  EXPECT_TRUE(muxer.pins[0].rendered);
  EXPECT_EQ(muxer.pins[0].connectsToPin, "Out");
  ASSERT_EQ(muxer.pins[0].types.size(), 1u);
  EXPECT_EQ(muxer.pins[0].types[0].major, kVideo);
  EXPECT_TRUE(muxer.pins[1].zero);

  EXPECT_EQ(mapper_->UnregisterPin(kMuxer, u"Audio"), S_OK);
  EXPECT_EQ(mapper_->UnregisterPin(kMuxer, u"Audio"), kNotFound);
  CLSID instance = GUID_NULL;
  ASSERT_EQ(mapper_->RegisterFilterInstance(kMuxer, u"Second", &instance), S_OK);
  EXPECT_NE(instance, GUID_NULL);
  EXPECT_EQ(mapper_->UnregisterFilterInstance(instance), S_OK);
  EXPECT_EQ(mapper_->UnregisterFilterInstance(instance), kNotFound);
  EXPECT_EQ(mapper_->UnregisterFilter(kMuxer), S_OK);
  EXPECT_EQ(mapper_->UnregisterFilter(kMuxer), kNotFound);
}

TEST_F(FilterMapperTest, EnumeratesMatchingFilters) {
  struct Registration {
    CLSID clsid;
    const char16_t* name;
    DWORD merit;
    BOOL output;
    BOOL rendered;
    GUID major;
  } registrations[] = {
      {MakeGuid("00000001-0000-0000-0000-000000000001"), u"Video renderer", MERIT_NORMAL, FALSE, TRUE, kVideo},
      {MakeGuid("00000001-0000-0000-0000-000000000002"), u"Audio renderer", MERIT_NORMAL, FALSE, TRUE, kAudio},
      {MakeGuid("00000001-0000-0000-0000-000000000003"), u"Video source", MERIT_UNLIKELY, TRUE, FALSE, kVideo},
      {MakeGuid("00000001-0000-0000-0000-000000000004"), u"Any sink", MERIT_DO_NOT_USE, FALSE, FALSE, GUID_NULL},
  };
  for (const Registration& r : registrations) {
    ASSERT_EQ(mapper_->RegisterFilter(r.clsid, r.name, r.merit), S_OK);
    ASSERT_EQ(mapper_->RegisterPin(r.clsid, u"Pin", r.rendered, r.output, FALSE, FALSE, GUID_NULL, u""), S_OK);
    ASSERT_EQ(mapper_->RegisterPinType(r.clsid, u"Pin", r.major, GUID_NULL), S_OK);
  }
  auto names = [&](DWORD merit, BOOL inputNeeded, GUID inputMajor, BOOL render, BOOL outputNeeded, GUID outputMajor) {
    std::vector<std::string> found;
    IEnumRegFilters* list = nullptr;
    EXPECT_EQ(mapper_->EnumMatchingFilters(&list, merit, inputNeeded, inputMajor, GUID_NULL, render, outputNeeded,
                                           outputMajor, GUID_NULL),
              S_OK);
    if (!list) return found;
    REGFILTER* filters[2];
    ULONG fetched = 0;
    HRESULT hr;
    do {
      hr = list->Next(2, filters, &fetched);
      for (ULONG i = 0; i < fetched; ++i) {
        found.push_back(WideToUtf8(filters[i]->Name));
        CoTaskMemFree(filters[i]);
      }
    } while (hr == S_OK);
    EXPECT_EQ(hr, S_FALSE);
    list->Release();
    return found;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(names(0, TRUE, kVideo, FALSE, FALSE, GUID_NULL), (Names{"Video renderer", "Any sink"}));
  EXPECT_EQ(names(0, TRUE, kVideo, TRUE, FALSE, GUID_NULL), (Names{"Video renderer"}));
  EXPECT_EQ(names(MERIT_NORMAL, TRUE, GUID_NULL, FALSE, FALSE, GUID_NULL), (Names{"Video renderer", "Audio renderer"}));
  EXPECT_EQ(names(0, FALSE, GUID_NULL, FALSE, TRUE, kVideo), (Names{"Video source"}));
  EXPECT_EQ(names(0, TRUE, kAudio, FALSE, TRUE, kVideo), Names{});
}

TEST_F(FilterMapperTest, OneObjectServesBothInterfacesAndRefusesAggregation) {
  IFilterMapper* older = nullptr;
  ASSERT_EQ(mapper2_->QueryInterface(IID_IFilterMapper, reinterpret_cast<void**>(&older)), S_OK);
  IUnknown* viaOlder = nullptr;
  IUnknown* viaNewer = nullptr;
  older->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaOlder));
  mapper2_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaNewer));
  EXPECT_EQ(viaOlder, viaNewer);
  viaOlder->Release();
  viaNewer->Release();
  older->Release();
  void* none = nullptr;
  EXPECT_EQ(mapper2_->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(mapper2_->EnumMatchingFilters(nullptr, 0, FALSE, 0, FALSE, 0, nullptr, nullptr, nullptr, FALSE, FALSE, 0,
                                          nullptr, nullptr, nullptr),
            E_NOTIMPL);
  EXPECT_EQ(CoCreateInstance(CLSID_FilterMapper2, mapper2_, CLSCTX_INPROC_SERVER, IID_IUnknown, &none),
            CLASS_E_NOAGGREGATION);
}

}  // namespace
