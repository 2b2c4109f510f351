#include "platform/asf/header_builder.h"

#include "platform/asf/format.h"

namespace asf {
namespace {

uint32_t TypeSpecificSize(const StreamDescription& s) {
  return s.kind == StreamKind::Audio ? static_cast<uint32_t>(s.format.size()) : 11 + static_cast<uint32_t>(s.format.size());
}
uint32_t ErrorCorrectionSize(const StreamDescription& s) { return s.kind == StreamKind::Audio ? kAudioSpreadDataSize : 0; }
uint32_t StreamPropertiesSize(const StreamDescription& s) {
  return kStreamPropertiesFixedSize + TypeSpecificSize(s) + ErrorCorrectionSize(s);
}
uint32_t TitleBytes(const std::u16string& title) { return title.empty() ? 0 : 2 * static_cast<uint32_t>(title.size() + 1); }

void PutObjectHeader(uint8_t*& p, const GUID& id, uint64_t size) {
  PutGuid(p, id);
  PutU64(p, size);
}

void PutStreamProperties(uint8_t*& p, const StreamDescription& s) {
  const bool audio = s.kind == StreamKind::Audio;
  PutObjectHeader(p, kStreamPropertiesObject, StreamPropertiesSize(s));
  PutGuid(p, audio ? kAudioMedia : kVideoMedia);
  PutGuid(p, audio ? kAudioSpread : kNoErrorCorrection);
  PutU64(p, 0);  // time offset
  PutU32(p, TypeSpecificSize(s));
  PutU32(p, ErrorCorrectionSize(s));
  PutU16(p, s.number & 0x7F);
  PutU32(p, 0);
  if (audio) {
    PutBytes(p, s.format.data(), s.format.size());
    const uint16_t blockAlign = s.format.size() >= 14 ? GetU16(s.format.data() + 12) : 1;
    // Span 1: players do no descrambling.
    PutU8(p, 1);
    PutU16(p, blockAlign);
    PutU16(p, blockAlign);
    PutU16(p, 1);
    PutU8(p, 0);
  } else {
    PutU32(p, static_cast<uint32_t>(s.width));
    PutU32(p, static_cast<uint32_t>(s.height));
    PutU8(p, 2);
    PutU16(p, static_cast<uint16_t>(s.format.size()));
    uint8_t* bitmapHeader = p;
    PutBytes(p, s.format.data(), s.format.size());
    // biSize must repeat the format data size.
    uint8_t* q = bitmapHeader;
    PutU32(q, static_cast<uint32_t>(s.format.size()));
  }
}

void PutExtendedStreamProperties(uint8_t*& p, const StreamDescription& s, uint32_t maxObjectSize) {
  PutObjectHeader(p, kExtendedStreamPropertiesObject, kExtendedStreamPropertiesFixedSize);
  PutU64(p, 0);  // start time: unspecified
  PutU64(p, 0);  // end time: unspecified
  PutU32(p, s.bitrate);
  PutU32(p, s.bufferWindowMs);
  PutU32(p, 0);
  PutU32(p, s.bitrate);
  PutU32(p, s.bufferWindowMs);
  PutU32(p, 0);
  PutU32(p, maxObjectSize);
  PutU32(p, 0x2);  // seekable
  PutU16(p, s.number);
  PutU16(p, 0);
  PutU64(p, static_cast<uint64_t>(s.kind == StreamKind::Video ? s.averageTimePerFrame : 0));
  PutU16(p, 0);
  PutU16(p, 0);
}

}  // namespace

std::vector<uint8_t> BuildHeader(const std::vector<StreamDescription>& streams, const std::u16string& title,
                                 const HeaderFields& f) {
  const uint32_t extensionData = static_cast<uint32_t>(streams.size()) * kExtendedStreamPropertiesFixedSize;
  uint64_t headerSize = kHeaderObjectFixedSize + kFilePropertiesSize + kHeaderExtensionFixedSize + extensionData;
  uint32_t children = 2;
  for (const auto& s : streams) headerSize += StreamPropertiesSize(s), ++children;
  const uint32_t titleBytes = TitleBytes(title);
  if (titleBytes) headerSize += 34 + titleBytes, ++children;
  const uint32_t bitrateSize = 26 + 6 * static_cast<uint32_t>(streams.size());
  headerSize += bitrateSize, ++children;

  std::vector<uint8_t> out(headerSize + kDataObjectHeaderSize);
  uint8_t* p = out.data();
  PutObjectHeader(p, kHeaderObject, headerSize);
  PutU32(p, children);
  PutU8(p, 1);
  PutU8(p, 2);

  uint32_t maxBitrate = 0;
  for (const auto& s : streams) maxBitrate += s.bitrate;
  PutObjectHeader(p, kFilePropertiesObject, kFilePropertiesSize);
  PutGuid(p, f.fileId);
  PutU64(p, f.fileSize);
  PutU64(p, f.creationTime);
  PutU64(p, f.packetCount);
  PutU64(p, f.playDuration);
  PutU64(p, f.sendDuration);
  PutU64(p, f.prerollMs);
  PutU32(p, f.flags);
  PutU32(p, f.packetSize);
  PutU32(p, f.packetSize);
  PutU32(p, maxBitrate);

  PutObjectHeader(p, kHeaderExtensionObject, kHeaderExtensionFixedSize + extensionData);
  PutGuid(p, kHeaderExtensionReserved);
  PutU16(p, 6);
  PutU32(p, extensionData);
  for (size_t i = 0; i < streams.size(); ++i)
    PutExtendedStreamProperties(p, streams[i], i < f.maxObjectSizes.size() ? f.maxObjectSizes[i] : 0);

  for (const auto& s : streams) PutStreamProperties(p, s);

  if (titleBytes) {
    PutObjectHeader(p, kContentDescriptionObject, 34 + titleBytes);
    PutU16(p, static_cast<uint16_t>(titleBytes));
    for (int i = 0; i < 4; ++i) PutU16(p, 0);
    for (char16_t c : title) PutU16(p, c);
    PutU16(p, 0);
  }

  PutObjectHeader(p, kStreamBitratePropertiesObject, bitrateSize);
  PutU16(p, static_cast<uint16_t>(streams.size()));
  for (const auto& s : streams) {
    PutU16(p, s.number & 0x7F);
    PutU32(p, s.bitrate);
  }

  const bool broadcast = (f.flags & kFlagBroadcast) != 0;
  PutObjectHeader(p, kDataObject, broadcast ? 0 : kDataObjectHeaderSize + f.packetCount * f.packetSize);
  PutGuid(p, f.fileId);
  PutU64(p, broadcast ? 0 : f.packetCount);
  PutU8(p, 1);
  PutU8(p, 1);
  return out;
}

}  // namespace asf
