// The COM object base: reference counts, destruction once, aggregation, the live-object count.
#include <vector>

#include "platform/dshow/seeking.h"
#include "tests/framework/framework_test.h"
#include "tests/framework/test_filters.h"

using namespace testing_filters;

namespace {

// Counts its destructions; its destructor may take and drop a reference on itself.
class Counted final : public CUnknown {
 public:
  Counted(int* destroyed, bool touchSelf, IUnknown* outer = nullptr)
      : CUnknown(nullptr, outer), m_destroyed(destroyed), m_touchSelf(touchSelf) {}
  ~Counted() override {
    if (m_touchSelf) {
      NonDelegatingAddRef();
      NonDelegatingRelease();
    }
    ++*m_destroyed;
  }

 private:
  int* m_destroyed;
  bool m_touchSelf;
};

// An outer object that records what reaches it.
class RecordingOuter final : public IUnknown {
 public:
  std::vector<IID> queried;
  int addRefs = 0, releases = 0;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    queried.push_back(riid);
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++addRefs; }
  ULONG STDMETHODCALLTYPE Release() override { return ++releases; }
};

class ComBase : public FrameworkTest {};

TEST_F(ComBase, FirstReferenceIsOneAndLastReleaseDestroysOnce) {
  for (bool touchSelf : {false, true}) {
    int destroyed = 0;
    LONG before = CBaseObject::ObjectsActive();
    auto* object = new Counted(&destroyed, touchSelf);
    EXPECT_EQ(CBaseObject::ObjectsActive(), before + 1);
    EXPECT_EQ(object->NonDelegatingAddRef(), 1u);
    EXPECT_EQ(object->NonDelegatingAddRef(), 2u);
    EXPECT_EQ(object->NonDelegatingRelease(), 1u);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
    EXPECT_EQ(destroyed, 1) << "touchSelf " << touchSelf;
    EXPECT_EQ(CBaseObject::ObjectsActive(), before);
  }
}

TEST_F(ComBase, QueriesWithNullOutPointerOrUnknownInterface) {
  int destroyed = 0;
  auto* object = new Counted(&destroyed, false);
  object->NonDelegatingAddRef();
  EXPECT_EQ(object->NonDelegatingQueryInterface(IID_IUnknown, nullptr), E_POINTER);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(object->NonDelegatingQueryInterface(IID_IBaseFilter, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(GetInterface(object->GetOwner(), nullptr), E_POINTER);

  CTestSinkFilter* filter = Create<CTestSinkFilter>();
  EXPECT_EQ(filter->Interface()->QueryInterface(IID_IPin, nullptr), E_POINTER);
  EXPECT_EQ(static_cast<IPin*>(filter->Input())->QueryInterface(IID_IMemInputPin, nullptr), E_POINTER);
  filter->Interface()->Release();
  object->NonDelegatingRelease();
}

TEST_F(ComBase, AggregatedObjectHandsOutItsInnerUnknownAndDelegatesEverythingElse) {
  RecordingOuter outer;
  CTestSinkFilter* inner = new CTestSinkFilter(1, &outer);
  IUnknown* innerUnknown = nullptr;
  // The creator holds the inner object through its non-delegating IUnknown.
  ASSERT_EQ(inner->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerUnknown)), S_OK);
  EXPECT_NE(innerUnknown, static_cast<IUnknown*>(&outer));
  EXPECT_EQ(outer.addRefs, 0);

  IBaseFilter* filter = nullptr;
  ASSERT_EQ(innerUnknown->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  EXPECT_EQ(outer.addRefs, 1) << "a reference on an aggregated interface is the outer object's";
  void* other = nullptr;
  filter->QueryInterface(IID_IMediaSeeking, &other);
  ASSERT_EQ(outer.queried.size(), 1u);
  EXPECT_EQ(outer.queried[0], IID_IMediaSeeking);
  filter->Release();
  EXPECT_EQ(outer.releases, 1);

  EXPECT_EQ(innerUnknown->Release(), 0u);  // the outer object's last release of its inner one
}

TEST_F(ComBase, PinReferencesAreTheFiltersAndEnumeratorsKeepTheFilterAlive) {
  CTestSinkFilter* filter = Create<CTestSinkFilter>();
  IPin* pin = filter->Input();
  EXPECT_EQ(pin->AddRef(), 2u);
  IEnumPins* pins = nullptr;
  ASSERT_EQ(filter->Interface()->EnumPins(&pins), S_OK);
  EXPECT_EQ(pin->Release(), 2u);  // the enumerator's reference is on the filter too
  EXPECT_EQ(filter->Interface()->Release(), 1u);
  LONG alive = CBaseObject::ObjectsActive();
  EXPECT_EQ(pins->Release(), 0u);
  EXPECT_EQ(CBaseObject::ObjectsActive(), alive - 2) << "the filter and its pin go with the last reference";
}

TEST_F(ComBase, AutomationLibraryIsFreedWithTheLastLiveObject) {
  ASSERT_EQ(CBaseObject::ObjectsActive(), 0) << "this test needs to own every live object";
  int destroyed = 0;
  auto* object = new Counted(&destroyed, false);
  object->NonDelegatingAddRef();
  HMODULE library = LoadOLEAut32();
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(LoadOLEAut32(), library);
  EXPECT_EQ(LoadedOLEAut32(), library);
  object->NonDelegatingRelease();
  EXPECT_EQ(LoadedOLEAut32(), nullptr);
  // Loaded again on a later need.
  EXPECT_EQ(LoadOLEAut32(), library);
  auto* again = new Counted(&destroyed, false);
  again->NonDelegatingAddRef();
  again->NonDelegatingRelease();
  EXPECT_EQ(LoadedOLEAut32(), nullptr);
}

}  // namespace
