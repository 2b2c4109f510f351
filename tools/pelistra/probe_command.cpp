#include "tools/pelistra/probe_command.h"

#include <CLI/CLI.hpp>

#include <cstdarg>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <algorithm>
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

std::string Severity(const asf::Problem& p) { return p.severity == asf::Problem::Severity::Error ? "error" : "warning"; }

// Presentation times on the file's axis (preroll included), in seconds.
std::string Span(const asf::StreamTotals& t) {
  return Format("%.3f to %.3f s", t.firstMs / 1000.0, t.lastMs / 1000.0);
}

// What the packets hold, over all streams.
struct DataTotals {
  uint64_t objects = 0;
  asf::StreamTotals span;
};

DataTotals ReadFromData(const asf::Reader& r) {
  DataTotals d;
  for (const auto& s : r.Streams()) {
    const auto& t = r.Totals(s.number);
    if (!t.objects) continue;
    d.span.firstMs = d.objects ? std::min(d.span.firstMs, t.firstMs) : t.firstMs;
    d.span.lastMs = std::max(d.span.lastMs, t.lastMs);
    d.objects += t.objects;
  }
  return d;
}

std::string StatusText(const asf::Reader& r) {
  if (!r.Unfinished()) return "finished";
  std::string s = "not finished: the recording was cut short or is still being written (the header still says "
                  "broadcast, so its sizes, counts and durations are unknown";
  if (r.TornBytes()) s += "; the file ends inside a packet";
  return s + ")";
}

// The header part, known before the packets are read.
void PrintTextHead(const asf::Reader& r, const std::string& path, std::ostream& out) {
  const auto& f = r.File();
  out << "File: " << path << "\n";
  if (!r.Title().empty()) out << "Title: " << WideToUtf8(r.Title()) << "\n";
  out << "File ID: " << GuidToString(f.fileId) << "\n";
  out << "Status: " << StatusText(r) << "\n";
  if (r.Framed()) out << "Form: chunked stream (a header chunk, then one chunk per packet)\n";
  if (r.Unfinished())
    out << "Packets: unknown to the header, " << r.PacketsInFile() << " present, " << f.minPacketSize << " bytes each\n";
  else
    out << "Packets: " << f.packetCount << " declared, " << r.PacketsInFile() << " present, " << f.minPacketSize
        << " bytes each\n";
  out << "Preroll: " << f.prerollMs << " ms\n";
  const uint64_t preroll = f.prerollMs * asf::kTicksPerMs;
  if (r.Unfinished()) {
    out << "Play duration: unknown to the header\n";
  } else {
    out << "Play duration: " << Seconds(f.playDuration) << " s (media "
        << Seconds(f.playDuration > preroll ? f.playDuration - preroll : 0) << " s)\n";
    out << "Send duration: " << Seconds(f.sendDuration) << " s\n";
  }
  out << "Flags: " << FlagsText(f.flags) << "\n";
  out << "Max bitrate: " << f.maxBitrate << " bit/s\n";
}

void PrintTextTail(const asf::Reader& r, std::ostream& out) {
  for (const auto& s : r.Streams()) {
    const auto& t = r.Totals(s.number);
    out << "Stream " << s.number << ": " << StreamType(s);
    if (s.audio)
      out << Format(", format tag 0x%04X, %u Hz, %u channels, %u bits", s.formatTag, s.samplesPerSecond, s.channels,
                    s.bitsPerSample);
    else if (s.video)
      out << ", " << FourCCText(s.fourcc) << ", " << s.width << "x" << s.height;
    out << ", " << s.bitrate << " bit/s, buffer " << s.bufferWindowMs << " ms, " << t.objects << " objects";
    if (t.objects) out << ", " << t.keyFrames << " key, " << t.bytes << " bytes, " << Span(t);
    out << "\n";
  }
  for (const auto& index : r.Indexes()) {
    out << "Index: stream " << index.stream << ", " << index.entryCount << " entries every "
        << Seconds(index.interval) << " s\n";
  }
  const DataTotals d = ReadFromData(r);
  out << "Read from the data: " << r.PacketsInFile() << " packets, " << d.objects << " objects";
  if (d.objects) out << ", " << Span(d.span);
  out << "\n";
  if (r.Problems().empty()) out << "Problems: none\n";
  for (const auto& p : r.Problems()) {
    out << Severity(p) << " at " << p.offset << ": " << p.message << "\n";
    if (p.more) out << "  ... and " << p.more << " more like this\n";
  }
}

// One line per object, and a file can hold millions: formatted in one go, not field by field.
void PrintTextFrame(const asf::MediaObject& o, std::ostream& out) {
  char line[96];
  const int n = snprintf(line, sizeof line, "frame stream %u time %u ms size %u%s\n", o.stream, o.presentationMs, o.size,
                         o.keyFrame ? " key" : "");
  out.write(line, n);
}

void PrintJsonHead(const asf::Reader& r, const std::string& path, std::ostream& out) {
  const auto& f = r.File();
  out << "{\n  \"file\": " << JsonString(path) << ",\n";
  out << "  \"title\": " << JsonString(WideToUtf8(r.Title())) << ",\n";
  out << "  \"file_id\": " << JsonString(GuidToString(f.fileId)) << ",\n";
  out << "  \"finished\": " << (r.Unfinished() ? "false" : "true") << ",\n";
  out << "  \"status\": " << JsonString(StatusText(r)) << ",\n";
  out << "  \"chunked\": " << (r.Framed() ? "true" : "false") << ",\n";
  out << "  \"packet_size\": " << f.minPacketSize << ",\n";
  out << "  \"packet_count\": " << f.packetCount << ",\n";
  out << "  \"packets_present\": " << r.PacketsInFile() << ",\n";
  out << "  \"torn_bytes\": " << r.TornBytes() << ",\n";
  out << "  \"preroll_ms\": " << f.prerollMs << ",\n";
  out << "  \"play_duration\": " << f.playDuration << ",\n";
  out << "  \"send_duration\": " << f.sendDuration << ",\n";
  out << "  \"file_size\": " << f.fileSize << ",\n";
  out << "  \"max_bitrate\": " << f.maxBitrate << ",\n";
  out << "  \"flags\": {\"value\": " << f.flags << ", \"broadcast\": " << ((f.flags & asf::kFlagBroadcast) ? "true" : "false")
      << ", \"seekable\": " << ((f.flags & asf::kFlagSeekable) ? "true" : "false") << "},\n";
}

void PrintJsonFrame(const asf::MediaObject& o, bool first, std::ostream& out) {
  char line[128];
  const int n = snprintf(line, sizeof line, "%s    {\"stream\": %u, \"time_ms\": %u, \"size\": %u, \"key\": %s}",
                         first ? "\n" : ",\n", o.stream, o.presentationMs, o.size, o.keyFrame ? "true" : "false");
  out.write(line, n);
}

void PrintJsonTail(const asf::Reader& r, std::ostream& out) {
  out << "  \"streams\": [";
  const char* sep = "\n";
  for (const auto& s : r.Streams()) {
    const auto& t = r.Totals(s.number);
    out << sep << "    {\"number\": " << s.number << ", \"type\": " << JsonString(StreamType(s));
    if (s.audio)
      out << ", \"format_tag\": " << s.formatTag << ", \"sample_rate\": " << s.samplesPerSecond
          << ", \"channels\": " << s.channels << ", \"bits_per_sample\": " << s.bitsPerSample;
    if (s.video)
      out << ", \"fourcc\": " << JsonString(FourCCText(s.fourcc)) << ", \"width\": " << s.width
          << ", \"height\": " << s.height;
    out << ", \"bitrate\": " << s.bitrate << ", \"buffer_window_ms\": " << s.bufferWindowMs
        << ", \"max_object_size\": " << s.maxObjectSize << ", \"objects\": " << t.objects
        << ", \"key_frames\": " << t.keyFrames << ", \"bytes\": " << t.bytes;
    if (t.objects) out << ", \"first_ms\": " << t.firstMs << ", \"last_ms\": " << t.lastMs;
    out << "}";
    sep = ",\n";
  }
  out << "\n  ],\n  \"indexes\": [";
  sep = "\n";
  for (const auto& index : r.Indexes()) {
    out << sep << "    {\"stream\": " << index.stream << ", \"interval\": " << index.interval
        << ", \"max_packet_count\": " << index.maxPacketCount << ", \"count\": " << index.entryCount
        << ", \"entries\": [";
    for (size_t i = 0; i < index.entries.size(); ++i)
      out << (i ? ", " : "") << "[" << index.entries[i].packetNumber << ", " << index.entries[i].packetCount << "]";
    out << "]}";
    sep = ",\n";
  }
  out << "\n  ],\n";
  const DataTotals d = ReadFromData(r);
  out << "  \"read_from_data\": {\"packets\": " << r.PacketsInFile() << ", \"objects\": " << d.objects
      << ", \"send_end_ms\": " << r.SendEndMs();
  if (d.objects) out << ", \"first_ms\": " << d.span.firstMs << ", \"last_ms\": " << d.span.lastMs;
  out << "},\n";
  out << "  \"problems\": [";
  sep = "\n";
  for (const auto& p : r.Problems()) {
    out << sep << "    {\"severity\": " << JsonString(Severity(p)) << ", \"offset\": " << p.offset
        << ", \"message\": " << JsonString(p.message) << ", \"more\": " << p.more << "}";
    sep = ",\n";
  }
  out << "\n  ]\n}\n";
}

std::string Describe(HRESULT hr, const asf::Reader& reader) {
  if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
    return "no such file";
  if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) return "permission denied";
  if (hr == E_OUTOFMEMORY) return "out of memory";
  if (!reader.Problems().empty()) return "not a readable ASF file: " + reader.Problems().front().message;
  return Format("cannot be read (status 0x%08X)", static_cast<uint32_t>(hr));
}

}  // namespace

int RunProbe(const ProbeOptions& options, std::ostream& out, std::ostream& err) {
  asf::Reader reader;
  HRESULT hr = reader.Open(options.path);
  if (FAILED(hr)) {
    err << "pelistra probe: " << options.path << ": " << Describe(hr, reader) << "\n";
    return 2;
  }
  // The header goes out first and frames as they are read, so nothing grows with the file.
  if (options.json) {
    PrintJsonHead(reader, options.path, out);
    if (options.frames) out << "  \"frames\": [";
  } else {
    PrintTextHead(reader, options.path, out);
  }
  bool firstFrame = true;
  asf::Reader::ObjectVisitor visit;
  if (options.frames)
    visit = [&](const asf::MediaObject& o) {
      if (options.json) PrintJsonFrame(o, firstFrame, out);
      else PrintTextFrame(o, out);
      firstFrame = false;
    };
  hr = reader.ReadObjects(visit, asf::Reader::ObjectBytes::None);
  if (options.json && options.frames) out << "\n  ],\n";
  // The report is completed even when reading stopped, so the output stays well formed.
  if (options.json) PrintJsonTail(reader, out);
  else PrintTextTail(reader, out);
  if (FAILED(hr)) {
    err << "pelistra probe: " << options.path << ": reading the packets failed: " << Describe(hr, reader) << "\n";
    return 2;
  }
  if (reader.HasErrors()) {
    err << "pelistra probe: " << options.path << ": the file has structural errors\n";
    return 1;
  }
  if (reader.Unfinished()) {
    err << "pelistra probe: " << options.path << ": not finished: the recording was cut short; "
        << reader.PacketsInFile() << " packets read\n";
    return 3;
  }
  return 0;
}

void AddProbeCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ProbeOptions>();
  CLI::App* probe = app.add_subcommand("probe", "Show the streams, header, index and structural errors of an ASF file");
  probe->add_option("FILE", options->path, "ASF file to read")->required();
  probe->add_flag("--json", options->json, "Print JSON (with every index entry)");
  probe->add_flag("--frames", options->frames, "One line per media object: stream, time, size, key frame");
  probe->footer("Exit status: 0 a finished, sound file (warnings allowed); 1 structural errors; 2 not readable as "
                "ASF; 3 readable but not finished (still marked broadcast: a recording cut short or a live "
                "stream), what it holds read from its packets.");
  probe->callback([options, &exitCode] { exitCode = RunProbe(*options, std::cout, std::cerr); });
}
