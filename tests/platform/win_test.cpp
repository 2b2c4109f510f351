// The platform base: GUID text both ways, four-character codes, status rule, UTF-16 text, seams.
#include <gtest/gtest.h>

#include <thread>

#include "platform/com/alloc_fault.h"
#include "platform/com/runtime.h"
#include "platform/com/taskmem.h"
#include "platform/win/guid.h"
#include "platform/win/status.h"
#include "platform/win/sync.h"
#include "platform/win/text.h"

TEST(Guid, RegistryTextRoundTripsAndIgnoresLetterCaseOnInput) {
  constexpr GUID header = MakeGuid("75B22630-668E-11CF-A6D9-00AA0062CE6C");
  EXPECT_EQ(GuidToString(header), "{75B22630-668E-11CF-A6D9-00AA0062CE6C}");
  auto parsed = GuidFromString("{75b22630-668e-11cf-a6d9-00aa0062ce6c}");
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(IsEqualGUID(*parsed, header));
  // Memory layout: the first three groups little-endian, the rest in text order.
  BYTE bytes[16];
  GuidToBytes(header, bytes);
  const BYTE expected[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  EXPECT_EQ(0, memcmp(bytes, expected, 16));
}

TEST(Guid, MalformedTextIsRefused) {
  for (const char* text : {"", "{}", "75B22630-668E-11CF-A6D9-00AA0062CE6C", "{75B22630-668E-11CF-A6D9-00AA0062CE6}",
                           "{75B22630-668E-11CF-A6D900AA0062CE6C0}", "{75B2263G-668E-11CF-A6D9-00AA0062CE6C}",
                           "{75B22630-668E-11CF-A6D9-00AA0062CE6C}x"})
    EXPECT_FALSE(GuidFromString(text)) << text;
}

TEST(Guid, FourCCGuidsKeepLetterCase) {
  EXPECT_EQ(GuidToString(FourCCGuid("vids")), "{73646976-0000-0010-8000-00AA00389B71}");
  EXPECT_EQ(GuidToString(FourCCGuid("XVID")), "{44495658-0000-0010-8000-00AA00389B71}");
  EXPECT_NE(FourCCGuid("xvid"), FourCCGuid("XVID"));
  EXPECT_TRUE(IsFourCCGuid(FourCCGuid("h264")));
  EXPECT_FALSE(IsFourCCGuid(MakeGuid("75B22630-668E-11CF-A6D9-00AA0062CE6C")));
}

TEST(Status, Win32CodesJoinTheWin32Facility) {
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY), E_OUTOFMEMORY);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), E_INVALIDARG);
  EXPECT_TRUE(FAILED(E_FAIL));
  EXPECT_TRUE(SUCCEEDED(S_FALSE));
}

TEST(Text, Utf16RoundTripIncludingSurrogatesAndBadBytes) {
  std::string text = "caf\xC3\xA9 \xF0\x9F\x8E\xA5";
  std::u16string wide = Utf8ToWide(text);
  EXPECT_EQ(wide.size(), 7u);
  EXPECT_EQ(WideToUtf8(wide), text);
  EXPECT_EQ(Utf8ToWide("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToWide("\xE2\x82"), u"\uFFFD\uFFFD");
  EXPECT_EQ(WideCompare(u"abc", u"abc"), 0);
  EXPECT_NE(WideCompare(u"abc", u"ABC"), 0);
  EXPECT_EQ(WideLength(u"ASF File"), 8u);
}

TEST(Sync, CriticalSectionIsReentrantAndCountersAreAtomic) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);

  LONG volatile count = 0;
  std::thread a([&] { for (int i = 0; i < 100000; ++i) InterlockedIncrement(&count); });
  for (int i = 0; i < 100000; ++i) InterlockedDecrement(&count);
  a.join();
  EXPECT_EQ(count, 0);
}

static DWORD g_slept = 0;
TEST(Sync, SleepGoesThroughItsSeam) {
  SetSleepHook([](DWORD ms) { g_slept += ms; });
  Sleep(5);
  SetSleepHook(nullptr);
  EXPECT_EQ(g_slept, 5u);
}

TEST(TaskMemory, FaultSeamFailsExactlyTheChosenAllocation) {
  AllocationFault fault(1);
  void* first = CoTaskMemAlloc(16);
  void* second = CoTaskMemAlloc(16);
  void* third = CoTaskMemAlloc(16);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  CoTaskMemFree(first);
  CoTaskMemFree(third);
}

TEST(Com, StringFromGuid2NeedsRoomForTheTerminator) {
  WCHAR text[39];
  EXPECT_EQ(StringFromGUID2(GUID_NULL, text, 38), 0);
  EXPECT_EQ(StringFromGUID2(GUID_NULL, text, 39), 39);
  EXPECT_EQ(WideToUtf8(text), "{00000000-0000-0000-0000-000000000000}");
}
