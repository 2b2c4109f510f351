#include "tools/pelistra/probe_command.h"

#include <CLI/CLI.hpp>

#include <cstdarg>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <vector>

#include "platform/asf/format.h"
#include "platform/asf/reader.h"
#include "platform/win/text.h"

namespace {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

// "H264" when the code is printable, else its hex value.
std::string FourCCText(uint32_t code) {
  std::string s;
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>(code >> (8 * i));
    if (c < 0x20 || c > 0x7E) return Format("0x%08X", code);
    s.push_back(c);
  }
  return s;
}

std::string Seconds(uint64_t ticks) { return Format("%.3f", static_cast<double>(ticks) / 1e7); }

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
    else if (c < 0x20) out += Format("\\u%04x", c);
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

std::string FlagsText(uint32_t flags) {
  std::string s;
  if (flags & asf::kFlagBroadcast) s += "broadcast ";
  if (flags & asf::kFlagSeekable) s += "seekable ";
  if (flags & ~(asf::kFlagBroadcast | asf::kFlagSeekable)) s += Format("0x%X ", flags);
  if (s.empty()) return "none";
  s.pop_back();
  return s;
}

std::string StreamType(const asf::StreamInfo& s) { return s.audio ? "audio" : s.video ? "video" : "other"; }

struct Frame {
  uint16_t stream;
  uint32_t presentationMs;
  uint32_t size;
  bool key;
};

void PrintText(const asf::Reader& r, const std::string& path, const std::vector<Frame>& frames, bool withFrames,
               std::ostream& out) {
  const auto& f = r.File();
  out << "File: " << path << "\n";
  if (!r.Title().empty()) out << "Title: " << WideToUtf8(r.Title()) << "\n";
  out << "File ID: " << GuidToString(f.fileId) << "\n";
  out << "Packets: " << f.packetCount << " declared, " << r.PacketsInFile() << " present, " << f.minPacketSize
      << " bytes each\n";
  out << "Preroll: " << f.prerollMs << " ms\n";
  const uint64_t preroll = f.prerollMs * asf::kTicksPerMs;
  out << "Play duration: " << Seconds(f.playDuration) << " s (media "
      << Seconds(f.playDuration > preroll ? f.playDuration - preroll : 0) << " s)\n";
  out << "Send duration: " << Seconds(f.sendDuration) << " s\n";
  out << "Flags: " << FlagsText(f.flags) << "\n";
  out << "Max bitrate: " << f.maxBitrate << " bit/s\n";
  for (const auto& s : r.Streams()) {
    out << "Stream " << s.number << ": " << StreamType(s);
    if (s.audio)
      out << Format(", format tag 0x%04X, %u Hz, %u channels, %u bits", s.formatTag, s.samplesPerSecond, s.channels,
                    s.bitsPerSample);
    else if (s.video)
      out << ", " << FourCCText(s.fourcc) << ", " << s.width << "x" << s.height;
    out << ", " << s.bitrate << " bit/s, buffer " << s.bufferWindowMs << " ms, " << r.ObjectCount(s.number)
        << " objects\n";
  }
  for (const auto& index : r.Indexes()) {
    out << "Index: stream " << index.stream << ", " << index.entries.size() << " entries every "
        << Seconds(index.interval) << " s\n";
  }
  if (withFrames)
    for (const auto& fr : frames)
      out << "frame stream " << fr.stream << " time " << fr.presentationMs << " ms size " << fr.size
          << (fr.key ? " key" : "") << "\n";
  if (r.Problems().empty()) out << "Problems: none\n";
  for (const auto& p : r.Problems())
    out << (p.severity == asf::Problem::Severity::Error ? "error" : "warning") << " at " << p.offset << ": "
        << p.message << "\n";
}

void PrintJson(const asf::Reader& r, const std::string& path, const std::vector<Frame>& frames, bool withFrames,
               std::ostream& out) {
  const auto& f = r.File();
  out << "{\n  \"file\": " << JsonString(path) << ",\n";
  out << "  \"title\": " << JsonString(WideToUtf8(r.Title())) << ",\n";
  out << "  \"file_id\": " << JsonString(GuidToString(f.fileId)) << ",\n";
  out << "  \"packet_size\": " << f.minPacketSize << ",\n";
  out << "  \"packet_count\": " << f.packetCount << ",\n";
  out << "  \"packets_present\": " << r.PacketsInFile() << ",\n";
  out << "  \"preroll_ms\": " << f.prerollMs << ",\n";
  out << "  \"play_duration\": " << f.playDuration << ",\n";
  out << "  \"send_duration\": " << f.sendDuration << ",\n";
  out << "  \"file_size\": " << f.fileSize << ",\n";
  out << "  \"max_bitrate\": " << f.maxBitrate << ",\n";
  out << "  \"flags\": {\"value\": " << f.flags << ", \"broadcast\": " << ((f.flags & asf::kFlagBroadcast) ? "true" : "false")
      << ", \"seekable\": " << ((f.flags & asf::kFlagSeekable) ? "true" : "false") << "},\n";
  out << "  \"streams\": [";
  const char* sep = "\n";
  for (const auto& s : r.Streams()) {
    out << sep << "    {\"number\": " << s.number << ", \"type\": " << JsonString(StreamType(s));
    if (s.audio)
      out << ", \"format_tag\": " << s.formatTag << ", \"sample_rate\": " << s.samplesPerSecond
          << ", \"channels\": " << s.channels << ", \"bits_per_sample\": " << s.bitsPerSample;
    if (s.video)
      out << ", \"fourcc\": " << JsonString(FourCCText(s.fourcc)) << ", \"width\": " << s.width
          << ", \"height\": " << s.height;
    out << ", \"bitrate\": " << s.bitrate << ", \"buffer_window_ms\": " << s.bufferWindowMs
        << ", \"max_object_size\": " << s.maxObjectSize << ", \"objects\": " << r.ObjectCount(s.number) << "}";
    sep = ",\n";
  }
  out << "\n  ],\n  \"indexes\": [";
  sep = "\n";
  for (const auto& index : r.Indexes()) {
    out << sep << "    {\"stream\": " << index.stream << ", \"interval\": " << index.interval
        << ", \"max_packet_count\": " << index.maxPacketCount << ", \"count\": " << index.entries.size()
        << ", \"entries\": [";
    for (size_t i = 0; i < index.entries.size(); ++i)
      out << (i ? ", " : "") << "[" << index.entries[i].packetNumber << ", " << index.entries[i].packetCount << "]";
    out << "]}";
    sep = ",\n";
  }
  out << "\n  ],\n";
  if (withFrames) {
    out << "  \"frames\": [";
    sep = "\n";
    for (const auto& fr : frames) {
      out << sep << "    {\"stream\": " << fr.stream << ", \"time_ms\": " << fr.presentationMs << ", \"size\": " << fr.size
          << ", \"key\": " << (fr.key ? "true" : "false") << "}";
      sep = ",\n";
    }
    out << "\n  ],\n";
  }
  out << "  \"problems\": [";
  sep = "\n";
  for (const auto& p : r.Problems()) {
    out << sep << "    {\"severity\": "
        << JsonString(p.severity == asf::Problem::Severity::Error ? "error" : "warning") << ", \"offset\": " << p.offset
        << ", \"message\": " << JsonString(p.message) << "}";
    sep = ",\n";
  }
  out << "\n  ]\n}\n";
}

}  // namespace

int RunProbe(const ProbeOptions& options, std::ostream& out, std::ostream& err) {
  asf::Reader reader;
  HRESULT hr = reader.Open(options.path);
  if (SUCCEEDED(hr)) {
    std::vector<Frame> frames;
    hr = reader.ReadObjects([&](const asf::MediaObject& o) {
      if (options.frames) frames.push_back({o.stream, o.presentationMs, o.size, o.keyFrame});
    });
    if (SUCCEEDED(hr)) {
      if (options.json) PrintJson(reader, options.path, frames, options.frames, out);
      else PrintText(reader, options.path, frames, options.frames, out);
      if (reader.HasErrors()) {
        err << "pelistra probe: " << options.path << ": the file has structural errors\n";
        return 1;
      }
      return 0;
    }
  }
  err << "pelistra probe: " << options.path << ": ";
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
    err << "no such file";
  else if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED))
    err << "permission denied";
  else if (!reader.Problems().empty())
    err << "not a readable ASF file: " << reader.Problems().front().message;
  else
    err << Format("cannot be read (status 0x%08X)", static_cast<uint32_t>(hr));
  err << "\n";
  return 2;
}

void AddProbeCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probe = app.add_subcommand("probe", "Show the streams, header, index and structural errors of an ASF file");
  probe->add_option("FILE", options->path, "ASF file to read")->required();
  probe->add_flag("--json", options->json, "Print JSON (with every index entry)");
  probe->add_flag("--frames", options->frames, "One line per media object: stream, time, size, key frame");
  probe->callback([options, &exitCode] { exitCode = RunProbe(*options, std::cout, std::cerr); });
}
