// The GUIDs by which the recorder recognises streams, the uncompressed-video test and the
// classes of video subtypes that decide how a video stream is inspected.
#pragma once

#include "platform/dshow/mediatype.h"

// Subtype of H.264 elementary streams as upstream filters deliver them.
inline constexpr GUID MEDIASUBTYPE_H264_INPUT = MakeGuid("8D2D71CB-243F-45E3-B2D8-5FD7967EC09B");
// MPEG-4 part 2 input, lower-case "xvid".
inline constexpr GUID MEDIASUBTYPE_xvid = FourCCGuid("xvid");
// The subtypes written into the writer profile for those two inputs.
inline constexpr GUID MEDIASUBTYPE_h264 = FourCCGuid("h264");
inline constexpr GUID MEDIASUBTYPE_XVID = FourCCGuid("XVID");

// True when the record's subtype is one of the fourteen uncompressed subtypes (PCM among them);
// nothing but the subtype is looked at.
bool IsUncompressedVideo(const AM_MEDIA_TYPE* type);

enum class VideoSubtypeClass { H264, Mpeg4Part2, Other };

// The class of a video stream, decided by its subtype alone. Only the H.264 input subtype and
// lower-case "xvid" select an inspection; "XVID", "MJPG" and everything else is Other.
VideoSubtypeClass ClassifyVideoSubtype(REFGUID subtype);

// The subtype the writer profile carries for an input subtype.
GUID ProfileVideoSubtype(REFGUID subtype);
