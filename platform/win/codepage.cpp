#include "platform/win/codepage.h"

#include <cstring>
#include <string>

#include "platform/win/last_error.h"
#include "platform/win/status.h"
#include "platform/win/text.h"

namespace {

bool KnownCodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_MACCP || codePage == CP_THREAD_ACP ||
         codePage == CP_UTF8;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

// Copies a converted text by the platform's rules for a counted destination.
template <class Char>
int Deliver(const std::basic_string<Char>& text, Char* target, int targetSize) {
  if (targetSize == 0) return static_cast<int>(text.size());
  if (text.size() > static_cast<size_t>(targetSize)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(target, text.data(), text.size() * sizeof(Char));
  return static_cast<int>(text.size());
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceBytes, LPWSTR target,
                                   int targetChars) {
  if (!KnownCodePage(codePage) || !source || sourceBytes == 0 || sourceBytes < -1 || targetChars < 0 ||
      (!target && targetChars != 0))
    return Fail(ERROR_INVALID_PARAMETER);
  try {
    std::string_view text(source, sourceBytes == -1 ? std::strlen(source) + 1 : static_cast<size_t>(sourceBytes));
    std::u16string wide = Utf8ToWide(text);
    // Invalid sequences (overlong forms included) do not survive the way back unchanged.
    if ((flags & MB_ERR_INVALID_CHARS) && WideToUtf8(wide) != text) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    return Deliver(wide, target, targetChars);
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceChars, LPSTR target,
                                   int targetBytes, LPCSTR, BOOL* usedDefaultChar) {
  if (!KnownCodePage(codePage) || !source || sourceChars == 0 || sourceChars < -1 || targetBytes < 0 ||
      (!target && targetBytes != 0))
    return Fail(ERROR_INVALID_PARAMETER);
  try {
    std::u16string_view text(source, sourceChars == -1 ? WideLength(source) + 1 : static_cast<size_t>(sourceChars));
    std::string narrow = WideToUtf8(text);
    // UTF-8 encodes every character but an unpaired surrogate, which becomes U+FFFD.
    if ((flags & WC_ERR_INVALID_CHARS) && Utf8ToWide(narrow) != text) return Fail(ERROR_NO_UNICODE_TRANSLATION);
    if (usedDefaultChar) *usedDefaultChar = FALSE;
    return Deliver(narrow, target, targetBytes);
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  }
}
