// UTF-16 text helpers. The platform's "ANSI" code page is UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "platform/win/types.h"

// Characters before the terminating null.
size_t WideLength(const WCHAR* text);
// Exact, case-sensitive comparison of two null-terminated texts: <0, 0, >0.
int WideCompare(const WCHAR* a, const WCHAR* b);
// Conversions; an invalid sequence becomes U+FFFD.
std::u16string Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::u16string_view text);
inline std::string WideToUtf8(const WCHAR* text) { return text ? WideToUtf8(std::u16string_view(text, WideLength(text))) : std::string(); }
