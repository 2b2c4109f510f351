// GUIDs: the 16-byte identifier in its in-memory layout, its registry text form, and the
// four-character-code GUIDs of media types.
#pragma once

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win/types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

namespace guid_detail {
constexpr int HexDigit(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : throw "not a hex digit";
}
constexpr uint64_t Hex(std::string_view text, size_t at, size_t digits) {
  uint64_t value = 0;
  for (size_t i = 0; i < digits; ++i) value = value * 16 + HexDigit(text[at + i]);
  return value;
}
}  // namespace guid_detail

// Builds a GUID at compile time from "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (braces optional).
constexpr GUID MakeGuid(std::string_view text) {
  if (!text.empty() && text.front() == '{') text = text.substr(1, text.size() - 2);
  if (text.size() != 36) throw "GUID text must have 36 characters";
  GUID g{};
  g.Data1 = static_cast<DWORD>(guid_detail::Hex(text, 0, 8));
  g.Data2 = static_cast<WORD>(guid_detail::Hex(text, 9, 4));
  g.Data3 = static_cast<WORD>(guid_detail::Hex(text, 14, 4));
  g.Data4[0] = static_cast<BYTE>(guid_detail::Hex(text, 19, 2));
  g.Data4[1] = static_cast<BYTE>(guid_detail::Hex(text, 21, 2));
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<BYTE>(guid_detail::Hex(text, 24 + 2 * i, 2));
  return g;
}

// A four-character code as the little-endian DWORD the platform stores (first character lowest).
constexpr DWORD MakeFourCC(std::string_view code) {
  return static_cast<DWORD>(static_cast<BYTE>(code[0])) | static_cast<DWORD>(static_cast<BYTE>(code[1])) << 8 |
         static_cast<DWORD>(static_cast<BYTE>(code[2])) << 16 | static_cast<DWORD>(static_cast<BYTE>(code[3])) << 24;
}

// The media type GUID derived from a four-character code: XXXXXXXX-0000-0010-8000-00AA00389B71.
constexpr GUID FourCCGuid(DWORD fourcc) {
  return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
constexpr GUID FourCCGuid(std::string_view code) { return FourCCGuid(MakeFourCC(code)); }

// True when the GUID has the four-character-code form; the code is then its Data1.
constexpr bool IsFourCCGuid(REFGUID g) {
  return g.Data2 == 0 && g.Data3 == 0x0010 && g.Data4[0] == 0x80 && g.Data4[1] == 0x00 && g.Data4[2] == 0x00 &&
         g.Data4[3] == 0xAA && g.Data4[4] == 0x00 && g.Data4[5] == 0x38 && g.Data4[6] == 0x9B && g.Data4[7] == 0x71;
}

// Registry text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
std::string GuidToString(REFGUID g);
// Parses the registry text form (braces required, either letter case); nothing on any fault.
std::optional<GUID> GuidFromString(std::string_view text);

// Writes the GUID's bytes as they are laid out in memory (and in ASF files).
inline void GuidToBytes(REFGUID g, BYTE out[16]) { std::memcpy(out, &g, 16); }
inline GUID GuidFromBytes(const BYTE in[16]) {
  GUID g;
  std::memcpy(&g, in, 16);
  return g;
}
