// ASF object identifiers, field constants and little-endian byte helpers shared by the writer
// and the reader. A GUID's in-memory layout is the byte order ASF stores, so the platform GUID
// type serves for both.
#pragma once

#include <cstring>

#include "platform/win/guid.h"
#include "platform/win/types.h"

namespace asf {

// Top-level and header objects.
inline constexpr GUID kHeaderObject = MakeGuid("75B22630-668E-11CF-A6D9-00AA0062CE6C");
inline constexpr GUID kDataObject = MakeGuid("75B22636-668E-11CF-A6D9-00AA0062CE6C");
inline constexpr GUID kSimpleIndexObject = MakeGuid("33000890-E5B1-11CF-89F4-00A0C90349CB");
inline constexpr GUID kIndexObject = MakeGuid("D6E229D3-35DA-11D1-9034-00A0C90349BE");
inline constexpr GUID kFilePropertiesObject = MakeGuid("8CABDCA1-A947-11CF-8EE4-00C00C205365");
inline constexpr GUID kStreamPropertiesObject = MakeGuid("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
inline constexpr GUID kHeaderExtensionObject = MakeGuid("5FBF03B5-A92E-11CF-8EE3-00C00C205365");
inline constexpr GUID kCodecListObject = MakeGuid("86D15240-311D-11D0-A3A4-00A0C90348F6");
inline constexpr GUID kContentDescriptionObject = MakeGuid("75B22633-668E-11CF-A6D9-00AA0062CE6C");
inline constexpr GUID kExtendedContentDescriptionObject = MakeGuid("D2D0A440-E307-11D2-97F0-00A0C95EA850");
inline constexpr GUID kStreamBitratePropertiesObject = MakeGuid("7BF875CE-468D-11D1-8D82-006097C9A2B2");
inline constexpr GUID kPaddingObject = MakeGuid("1806D474-CADF-4509-A4BA-9AABCB96AAE8");
// Inside the Header Extension.
inline constexpr GUID kExtendedStreamPropertiesObject = MakeGuid("14E6A5CB-C672-4332-8399-A96952065B5A");
inline constexpr GUID kHeaderExtensionReserved = MakeGuid("ABD3D211-A9BA-11CF-8EE6-00C00C205365");
// Stream types and error correction kinds.
inline constexpr GUID kAudioMedia = MakeGuid("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
inline constexpr GUID kVideoMedia = MakeGuid("BC19EFC0-5B4D-11CF-A8FD-00805F5C442B");
inline constexpr GUID kNoErrorCorrection = MakeGuid("20FB5700-5B55-11CF-A8FD-00805F5C442B");
inline constexpr GUID kAudioSpread = MakeGuid("BFC3CD50-618F-11CF-8BB2-00AA00B4E220");

// Fixed object sizes.
constexpr uint32_t kObjectHeaderSize = 24;
constexpr uint32_t kHeaderObjectFixedSize = 30;
constexpr uint32_t kFilePropertiesSize = 104;
constexpr uint32_t kStreamPropertiesFixedSize = 78;
constexpr uint32_t kHeaderExtensionFixedSize = 46;
constexpr uint32_t kExtendedStreamPropertiesFixedSize = 88;
constexpr uint32_t kDataObjectHeaderSize = 50;
constexpr uint32_t kSimpleIndexFixedSize = 56;

// File Properties flags.
constexpr uint32_t kFlagBroadcast = 0x1;
constexpr uint32_t kFlagSeekable = 0x2;

// Packet layout the writer uses: EC flags 0x82 with two EC bytes, multiple payloads with a WORD
// padding length, property flags BYTE replicated length / DWORD offset / BYTE object number /
// BYTE stream number, WORD payload lengths, 8 bytes of replicated data.
constexpr uint8_t kErrorCorrectionFlags = 0x82;
constexpr uint8_t kLengthTypeFlags = 0x11;
constexpr uint8_t kPropertyFlags = 0x5D;
constexpr uint8_t kPayloadLengthTypeWord = 0x80;
constexpr uint32_t kPacketHeaderSize = 3 + 1 + 1 + 2 + 4 + 2 + 1;  // through the payload flags byte
constexpr uint32_t kPayloadHeaderSize = 1 + 1 + 4 + 1 + 8 + 2;
constexpr uint32_t kMaxPayloadsPerPacket = 63;
constexpr uint8_t kKeyFrameBit = 0x80;

// Times: sample times in 100 ns, presentation and send times in DWORD milliseconds.
constexpr int64_t kTicksPerMs = 10000;

inline void PutU8(uint8_t*& p, uint8_t v) { *p++ = v; }
inline void PutU16(uint8_t*& p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p += 2;
}
inline void PutU32(uint8_t*& p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  p += 4;
}
inline void PutU64(uint8_t*& p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  p += 8;
}
inline void PutGuid(uint8_t*& p, const GUID& g) {
  GuidToBytes(g, p);
  p += 16;
}
inline void PutBytes(uint8_t*& p, const void* data, size_t size) {
  if (size) std::memcpy(p, data, size);
  p += size;
}

inline uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t GetU64(const uint8_t* p) { return GetU32(p) | static_cast<uint64_t>(GetU32(p + 4)) << 32; }
inline GUID GetGuid(const uint8_t* p) { return GuidFromBytes(p); }

}  // namespace asf
