// The memory allocator and its samples.
#include <gtest/gtest.h>

#include "framework/mediatype.h"
#include "platform/com/runtime.h"
#include "platform/dshow/allocator.h"

namespace {

IMemAllocator* NewAllocator(LONG buffers = 2, LONG size = 100, LONG align = 1, LONG prefix = 0) {
  IMemAllocator* allocator = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                             reinterpret_cast<void**>(&allocator)),
            S_OK);
  ALLOCATOR_PROPERTIES want{buffers, size, align, prefix}, got{};
  EXPECT_EQ(allocator->SetProperties(&want, &got), S_OK);
  return allocator;
}

struct PropertiesCase {
  ALLOCATOR_PROPERTIES request;
  HRESULT result;
  LONG actualBuffer;
};

TEST(MemoryAllocator, PropertiesAreCheckedAndRoundedToTheAlignment) {
  const PropertiesCase cases[] = {
      {{2, 100, 1, 0}, S_OK, 100},     {{2, 100, 16, 4}, S_OK, 108}, {{1, 1, 64, 0}, S_OK, 64},
      {{2, 100, 0, 0}, VFW_E_BADALIGN, 0}, {{2, 100, 3, 0}, VFW_E_BADALIGN, 0}, {{-1, 100, 1, 0}, E_INVALIDARG, 0},
      {{0x10000, 0x10000, 1, 0}, E_INVALIDARG, 0},
  };
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                             reinterpret_cast<void**>(&allocator)),
            S_OK);
  for (const PropertiesCase& c : cases) {
    ALLOCATOR_PROPERTIES request = c.request, actual{};
    EXPECT_EQ(allocator->SetProperties(&request, &actual), c.result) << c.request.cbBuffer << " " << c.request.cbAlign;
    if (c.result == S_OK) EXPECT_EQ(actual.cbBuffer, c.actualBuffer);
  }
  allocator->Release();

  // The runtime's own objects are never aggregated; the outer object is not touched.
  IUnknown* inner = nullptr;
  EXPECT_EQ(CoCreateInstance(CLSID_MemoryAllocator, reinterpret_cast<IUnknown*>(16), CLSCTX_INPROC_SERVER,
                             IID_IUnknown, reinterpret_cast<void**>(&inner)),
            CLASS_E_NOAGGREGATION);
}

TEST(MemoryAllocator, SamplesComeFromAPoolAndReturnOnTheirLastRelease) {
  IMemAllocator* allocator = NewAllocator(2, 100, 16, 4);
  IMediaSample* a = nullptr;
  EXPECT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ALLOCATOR_PROPERTIES again{2, 50, 1, 0}, got{};
  EXPECT_EQ(allocator->SetProperties(&again, &got), VFW_E_ALREADY_COMMITTED);
  IMediaSample *b = nullptr, *c = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
  ASSERT_EQ(allocator->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
  EXPECT_EQ(allocator->GetBuffer(&c, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
  BYTE* data = nullptr;
  a->GetPointer(&data);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data - 4) % 16, 0u) << "the prefix starts on the alignment";
  EXPECT_EQ(a->GetSize(), 108);
  a->AddRef();
  a->Release();
  EXPECT_EQ(allocator->GetBuffer(&c, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT) << "still referenced";
  a->SetSyncPoint(TRUE);
  a->Release();
  ASSERT_EQ(allocator->GetBuffer(&c, nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
  EXPECT_EQ(c, a);
  EXPECT_EQ(c->IsSyncPoint(), S_FALSE) << "a sample comes back clean";
  // Decommitted with samples out: they stay usable and hold the allocator.
  EXPECT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(allocator->SetProperties(&again, &got), VFW_E_BUFFERS_OUTSTANDING);
  EXPECT_EQ(allocator->GetBuffer(&a, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
  allocator->Release();
  b->GetPointer(&data);
  data[0] = 1;
  b->Release();
  c->Release();  // the allocator goes with its last sample
}

TEST(MemoryAllocator, SampleTimesTypesAndProperties) {
  IMemAllocator* allocator = NewAllocator(1, 64);
  allocator->Commit();
  IMediaSample* sample = nullptr;
  ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME s = 100;
  sample->SetTime(&s, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(stop, 101);
  REFERENCE_TIME e = 150;
  sample->SetTime(&s, &e);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(sample->SetActualDataLength(65), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(10), S_OK);

  AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  EXPECT_EQ(type, nullptr);
  CMediaType audio;
  audio.SetType(MEDIATYPE_Audio);
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
  audio.SetFormat(&format, sizeof format);
  ASSERT_EQ(sample->SetMediaType(&audio), S_OK);
  ASSERT_EQ(sample->GetMediaType(&type), S_OK);
  EXPECT_TRUE(CMediaType(*type) == audio);
  EXPECT_NE(type->pbFormat, audio.pbFormat);
  DeleteMediaType(type);

  IMediaSample2* sample2 = nullptr;
  ASSERT_EQ(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&sample2)), S_OK);
  AM_SAMPLE2_PROPERTIES props{};
  ASSERT_EQ(sample2->GetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), S_OK);
  EXPECT_EQ(props.dwSampleFlags, AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID | AM_SAMPLE_TYPECHANGED);
  EXPECT_EQ(props.lActual, 10);
  EXPECT_EQ(props.cbBuffer, 64);
  ASSERT_NE(props.pMediaType, nullptr);
  EXPECT_EQ(props.pMediaType->majortype, MEDIATYPE_Audio);
  props.dwSampleFlags = AM_SAMPLE_SPLICEPOINT;  // no type change: the type goes
  props.lActual = 20;
  ASSERT_EQ(sample2->SetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_OK);
  EXPECT_EQ(sample->GetActualDataLength(), 20);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  props.pbBuffer = nullptr;
  EXPECT_EQ(sample2->SetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), E_INVALIDARG);
  sample2->Release();
  sample->Release();
  allocator->Release();
}

}  // namespace
