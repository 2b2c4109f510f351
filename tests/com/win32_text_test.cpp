// The text calls registration uses: code page conversion (ANSI is UTF-8) and wsprintfA.
#include <gtest/gtest.h>

#include <string>

#include "platform/win/codepage.h"
#include "platform/win/last_error.h"
#include "platform/win/status.h"
#include "platform/win/wsprintf.h"

namespace {

TEST(Wsprintf, FormatsAsThePlatformDoes) {
  char out[1100];
  struct Case {
    std::string expected;
    int written;
  };
  auto check = [&](const std::string& expected, int written) {
    EXPECT_EQ(std::string(out), expected);
    EXPECT_EQ(written, static_cast<int>(expected.size()));
  };
  check("CLSID\\{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}",
        wsprintfA(out, "CLSID\\%ls", u"{E007F9AB-C9B8-403D-91BA-B1E50AA0F55A}"));
  check("Köder|Köder|abc", wsprintfA(out, "%ls|%S|%hs", u"Köder", u"Köder", "abc"));
  check("-5 4294967291 fffffffb FFFFFFFB 0x1f", wsprintfA(out, "%d %u %x %X %#x", -5, -5, -5, -5, 31));
  // "l" is 32 bits, as on the platform; I64 is 64.
  check("-1 80070002 9000000000", wsprintfA(out, "%ld %08lX %I64d", LONG{-1}, 0x80070002u, 9000000000LL));
  check("[  ab][ab  ][abc][007]", wsprintfA(out, "[%4s][%-4s][%.3s][%03d]", "ab", "ab", "abcdef", 7));
  check("x% (null)", wsprintfA(out, "%c%% %s", 'x', static_cast<const char*>(nullptr)));
  // Never more than 1024 bytes with the terminator.
  std::string longText(2000, 'a');
  EXPECT_EQ(wsprintfA(out, "%s", longText.c_str()), 1023);
  EXPECT_EQ(std::string(out).size(), 1023u);
}

TEST(CodePages, NarrowToWideByThePlatformRules) {
  WCHAR wide[16];
  // -1: the terminator is converted and counted.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Kö", -1, wide, 16), 3);
  EXPECT_EQ(std::u16string(wide), u"Kö");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Kö", -1, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "Kö", 3, wide, 16), 2);
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "Kö", -1, wide, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  // A broken sequence: replaced, or refused when asked.
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a\xC3", 2, wide, 16), 2);
  EXPECT_EQ(wide[1], u'\uFFFD');
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, "a\xC3", 2, wide, 16), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, wide, 16), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "a", 0, wide, 16), 0);
}

TEST(CodePages, WideToNarrowByThePlatformRules) {
  char narrow[16];
  BOOL usedDefault = TRUE;
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"K\u00f6\U0001F600", -1, narrow, 16, nullptr, &usedDefault), 8);
  EXPECT_EQ(std::string(narrow), "K\xC3\xB6\xF0\x9F\x98\x80");
  EXPECT_FALSE(usedDefault);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"K\u00f6", -1, nullptr, 0, nullptr, nullptr), 4);
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"K\u00f6", -1, narrow, 3, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  const WCHAR lone[] = {u'a', 0xD800, 0};
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, WC_ERR_INVALID_CHARS, lone, -1, narrow, 16, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
}

}  // namespace
