#include "tools/pelistra/record_command.h"

#include <CLI/CLI.hpp>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "filter/asf_muxer.h"
#include "platform/com/runtime.h"
#include "platform/dshow/graph.h"
#include "platform/win/text.h"
#include "platform/wmf/file_events.h"
#include "sources/parsed_source.h"
#include "sources/pattern_source.h"
#include "sources/source_filter.h"
#include "sources/stream_pacer.h"
#include "tools/pelistra/muxer_loader.h"
#include "tools/pelistra/output_guard.h"
#include "tools/pelistra/output_names.h"
#include "tools/pelistra/recording_files.h"
#include "tools/pelistra/status_text.h"
#include "tools/pelistra/written_file.h"

namespace {

// Set from signal handlers: lock-free atomics are safe there.
std::atomic<bool> g_stopRequested{false};
std::atomic<bool> g_nextFileRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) { g_stopRequested = true; }
void OnNextFileSignal(int) { g_nextFileRequested = true; }

// SIGINT and SIGTERM stop the recording, SIGUSR1 starts the next file; the old handlers come
// back when the recording is over. A file size limit (SIGXFSZ) must come back from the write that
// meets it as a status the recording reports, not end the program.
class SignalHandlers {
 public:
  SignalHandlers() {
    g_stopRequested = false;
    g_nextFileRequested = false;
    Install(SIGINT, OnStopSignal, &int_);
    Install(SIGTERM, OnStopSignal, &term_);
    Install(SIGUSR1, OnNextFileSignal, &usr1_);
    Install(SIGXFSZ, SIG_IGN, &xfsz_);
  }
  ~SignalHandlers() {
    sigaction(SIGINT, &int_, nullptr);
    sigaction(SIGTERM, &term_, nullptr);
    sigaction(SIGUSR1, &usr1_, nullptr);
    sigaction(SIGXFSZ, &xfsz_, nullptr);
  }

 private:
  static void Install(int signal, void (*handler)(int), struct sigaction* old) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, old);
  }
  struct sigaction int_ {}, term_ {}, usr1_ {}, xfsz_ {};
};

// Picture size and rate of the built-in source.
constexpr int kPatternWidth = 320, kPatternHeight = 240;
constexpr int kToneRate = 48000, kToneChannels = 2;
constexpr double kToneFrequency = 1000;
// File inputs are kept this close in media time (the recorder slows a stream a second ahead).
constexpr REFERENCE_TIME kPacingWindow = 5000000;
constexpr int kEventWaitMs = 100;
constexpr auto kProgressInterval = std::chrono::milliseconds(250);

int Fail(const std::string& message) {
  std::fprintf(stderr, "pelistra record: %s\n", message.c_str());
  return 1;
}

// Holds one reference and lets it go at the end of the scope.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* p) : p_(p) {}
  ~Ref() { SafeRelease(p_); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T** out() {
    SafeRelease(p_);
    return &p_;
  }
  void** out_void() { return reinterpret_cast<void**>(out()); }

 private:
  T* p_ = nullptr;
};

bool VideoFormatOf(const RecordOptions& options, StreamFormat* format, std::string* error) {
  std::string name = options.videoFormat;
  if (name.empty()) {
    if (options.video == "-") {
      *error = "name the format of standard input with --video-format (h264, mpeg4, mjpeg, y4m)";
      return false;
    }
    const size_t dot = options.video.rfind('.');
    std::string ext = dot == std::string::npos ? "" : options.video.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "264" || ext == "h264" || ext == "avc") name = "h264";
    else if (ext == "m4v" || ext == "mp4v" || ext == "cmp") name = "mpeg4";
    else if (ext == "mjpeg" || ext == "mjpg") name = "mjpeg";
    else if (ext == "y4m") name = "y4m";
    else {
      *error = "unknown video format of " + options.video + ": name it with --video-format (h264, mpeg4, mjpeg, y4m)";
      return false;
    }
  }
  if (!StreamFormatFromName(name, format) || *format == StreamFormat::Wav) {
    *error = "unknown video format '" + name + "' (h264, mpeg4, mjpeg, y4m)";
    return false;
  }
  return true;
}

std::string Clock(double seconds, bool fraction) {
  if (seconds < 0) seconds = 0;
  const auto whole = static_cast<long long>(seconds);
  char text[48];
  if (fraction)
    std::snprintf(text, sizeof text, "%02lld:%02lld:%05.2f", whole / 3600, whole / 60 % 60,
                  seconds - static_cast<double>(whole / 60 * 60));
  else
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  return text;
}

std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// Players choose how to read a file by its extension; an ASF file named .mp4 puzzles them.
void WarnOfExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) return;
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "asf" || ext == "wmv" || ext == "wma") return;
  std::fprintf(stderr, "pelistra record: warning: %s is written as ASF; players expect .asf, .wmv or .wma\n",
               path.c_str());
}

// Why the output cannot be created, from its folder; empty when nothing is found.
std::string OutputProblem(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat info {};
  if (stat(folder.c_str(), &info) != 0) return "the folder " + folder + " does not exist";
  if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
  if (access(folder.c_str(), W_OK | X_OK) != 0) return "the folder " + folder + " is not writable";
  if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return path + " is a folder";
  return "";
}

struct Input {
  CSourceFilter* filter = nullptr;  // one reference, released by ~Recording
  bool video = false;
};

class Recording {
 public:
  explicit Recording(const RecordOptions& options)
      : options_(options), pacer_(kPacingWindow), guard_(options.overwrite) {}
  ~Recording() {
    // Nothing may call into a recording that is gone.
    SetWriterFileObserver(nullptr, nullptr);
    for (Input& input : inputs_) SafeRelease(input.filter);
  }
  int Run();

 private:
  HRESULT OpenInput(std::unique_ptr<UnitSource> source, bool video, const char16_t* name);
  std::string CheckOutputNames();
  void NextFile(const char* why);
  static void OnFileEvent(const WriterFileEvent& event, void* context);
  void ShowProgress(bool final);
  std::string FailureText(HRESULT code);
  std::string FileFailureText();
  void ShowSummary(bool failed, bool stopped);

  const RecordOptions& options_;
  StreamPacer pacer_;
  std::vector<Input> inputs_;
  OutputNames names_;
  OutputGuard guard_;
  // Choosing a name and handing it to the muxer is one step for the video thread (segment time)
  // and the main thread (signal, size). Never taken by the writer's observer: a chooser holds it
  // while the muxer takes its own lock, under which the writer raises its events.
  std::mutex names_lock_;
  RecordingFiles files_;
  bool has_video_ = false, has_audio_ = false;
  IFileSinkFilter* sink_ = nullptr;
  REFERENCE_TIME next_segment_ = 0;
  std::chrono::steady_clock::time_point started_;
  bool progress_shown_ = false;
  int file_inputs_ = 0;  // inputs of known size, for the percentage
  bool live_ = false;
};

HRESULT Recording::OpenInput(std::unique_ptr<UnitSource> source, bool video, const char16_t* name) {
  source->SetWarnings([](const std::string& warning) { std::fprintf(stderr, "pelistra record: %s\n", warning.c_str()); });
  HRESULT hr = source->Open(g_stopRequested);
  if (hr == E_ABORT) return hr;
  if (FAILED(hr)) {
    Fail(source->Error());
    return hr;
  }
  SourceSettings settings;
  settings.fps = options_.fps;
  settings.live = live_;
  settings.duration = options_.duration > 0 ? static_cast<REFERENCE_TIME>(options_.duration * 1e7 + 0.5) : -1;
  // Streams read at full speed keep together; a lone stream never waits.
  if (!live_) settings.pacer = &pacer_;
  if (source->Input() && source->Input()->TotalSize() > 0) ++file_inputs_;
  if (video && options_.segmentTime > 0) {
    const auto segment = static_cast<REFERENCE_TIME>(options_.segmentTime * 1e7 + 0.5);
    next_segment_ = segment;
    // Named just before the unit that reaches the boundary; the muxer starts the new file at the
    // next key frame.
    settings.beforeDeliver = [this, segment](REFERENCE_TIME start) {
      if (start < next_segment_) return;
      while (next_segment_ <= start) next_segment_ += segment;
      NextFile("segment time");
    };
  }
  CSourceFilter* filter = CSourceFilter::Create(std::move(source), std::move(settings), name);
  if (!filter) {
    Fail("out of memory");
    return E_OUTOFMEMORY;
  }
  inputs_.push_back({filter, video});
  return S_OK;
}

// Before anything is opened: no name the recording may take leads to an input, and the first one
// is free (or may be replaced).
std::string Recording::CheckOutputNames() {
  for (const std::string* input : {&options_.video, &options_.audio}) {
    if (input->empty()) continue;
    if (FAILED(guard_.AddInput(*input))) return "out of memory";
  }
  std::string problem = guard_.CheckRotatedNames(names_);
  if (problem.empty()) problem = guard_.CheckName(names_.Name(0));
  return problem;
}

void Recording::NextFile(const char*) {
  std::lock_guard<std::mutex> choosing(names_lock_);
  try {
    unsigned index = 0;
    if (!files_.NextIndex(&index)) return;
    const std::string name = names_.Name(index);
    // Checked when chosen: the file may have appeared since the recording began.
    const std::string problem = guard_.CheckName(name);
    if (!problem.empty()) {
      files_.Stop(problem);
      return;
    }
    files_.SwitchRequested();
    const HRESULT hr = sink_->SetFileName(Utf8ToWide(name).c_str(), nullptr);
    if (FAILED(hr)) files_.Stop("the muxer refused the output name " + name + ": " + StatusText(hr));
  } catch (const std::bad_alloc&) {
    files_.Stop("out of memory");
  }
}

void Recording::OnFileEvent(const WriterFileEvent& event, void* context) {
  static_cast<Recording*>(context)->files_.OnEvent(event);
}

// The write failure in words, with what the file holds now.
std::string Recording::FileFailureText() {
  const RecordingFiles::WriteFailure failure = files_.Failure();
  std::string text = "writing " + failure.path + " failed: " + StatusText(failure.status);
  WrittenFile contents;
  if (SUCCEEDED(ReadWrittenFile(failure.path, &contents)))
    text += "; the file holds " + WrittenFileText(contents, has_video_, has_audio_);
  else
    text += "; the file holds nothing that can be played";
  return text;
}

std::string Recording::FailureText(HRESULT code) {
  for (Input& input : inputs_) {
    std::string message;
    HRESULT hr = input.filter->Failure(&message);
    if (FAILED(hr)) return message + (hr == E_STREAM_INVALID_DATA ? "" : ": " + StatusText(hr));
  }
  return "the recording failed: " + StatusText(code);
}

void Recording::ShowProgress(bool final) {
  if (options_.quiet || !isatty(STDERR_FILENO)) return;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  uint64_t bytes = 0, frames = 0, read = 0, total = 0;
  REFERENCE_TIME media = 0;
  bool sizes_known = file_inputs_ > 0;
  for (Input& input : inputs_) {
    const SourceProgress& p = input.filter->Progress();
    bytes += p.bytes;
    if (input.video) frames = p.units;
    media = std::max(media, p.time.load());
    const InputStream* stream = input.filter->Source().Input();
    if (stream && stream->TotalSize() > 0) {
      read += stream->BytesRead();
      total += stream->TotalSize();
    } else {
      sizes_known = false;
    }
  }
  std::string line = Clock(elapsed, false) + "  media " + Clock(static_cast<double>(media) / 1e7, true) +
                     "  frames " + std::to_string(frames) + "  " + Megabytes(bytes);
  char rate[32];
  std::snprintf(rate, sizeof rate, "  %.1f Mbit/s", elapsed > 0 ? static_cast<double>(bytes) * 8 / elapsed / 1e6 : 0.0);
  line += rate;
  // The file being written, once the writer opened it; not a name still waiting for its switch.
  const std::string current = files_.Current();
  if (!current.empty()) line += "  " + current;
  double percent = -1;
  if (options_.duration > 0) percent = static_cast<double>(media) / 1e7 / options_.duration * 100;
  else if (sizes_known && total > 0) percent = static_cast<double>(read) / static_cast<double>(total) * 100;
  if (percent >= 0) {
    char text[16];
    std::snprintf(text, sizeof text, "  %3.0f%%", std::min(percent, 100.0));
    line += text;
  }
  std::fprintf(stderr, "\r%s\033[K", line.c_str());
  if (final) std::fprintf(stderr, "\n");
  progress_shown_ = true;
}

int Recording::Run() {
  std::string error;
  if (!names_.Parse(options_.output, &error)) return Fail(error);
  WarnOfExtension(names_.Name(0));
  // Before any input or output is opened: a refused name must leave every file as it was.
  error = CheckOutputNames();
  if (!error.empty()) return Fail(error);

  // Inputs first: a bad input is refused before any file exists.
  const bool pattern = options_.testSource || (options_.video.empty() && options_.audio.empty());
  const bool generatedOnly = options_.video.empty() && options_.audio.empty();
  if (pattern && !generatedOnly && options_.duration <= 0)
    return Fail("--test-source beside an input needs --duration: the test source has no end");
  // A test source without an end runs on the clock, like a camera: at full speed it would only
  // fill the disk.
  live_ = options_.live || (pattern && options_.duration <= 0);
  HRESULT hr = S_OK;
  if (!options_.video.empty()) {
    StreamFormat format;
    if (!VideoFormatOf(options_, &format, &error)) return Fail(error);
    hr = OpenInput(std::make_unique<ParsedSource>(format, options_.video, options_.fps), true, u"Video source");
  } else if (pattern) {
    hr = OpenInput(std::make_unique<PatternSource>(kPatternWidth, kPatternHeight, options_.fps), true, u"Test pattern");
  }
  if (SUCCEEDED(hr) && !options_.audio.empty()) {
    hr = OpenInput(std::make_unique<ParsedSource>(StreamFormat::Wav, options_.audio, options_.fps), false,
                   u"Audio source");
  } else if (SUCCEEDED(hr) && pattern) {
    hr = OpenInput(std::make_unique<ToneSource>(kToneRate, kToneChannels, kToneFrequency), false, u"Tone");
  }
  if (hr == E_ABORT) return Fail("stopped before the recording began");
  if (FAILED(hr)) return 1;

  for (const Input& input : inputs_) (input.video ? has_video_ : has_audio_) = true;
  if (!has_video_ && (options_.maxSize > 0 || options_.segmentTime > 0))
    return Fail("--max-size and --segment-time need a video stream: files switch at key frames");

  Ref<IBaseFilter> muxer;
  hr = CreateMuxer(options_.module, muxer.out(), &error);
  if (FAILED(hr)) return Fail(error);
  Ref<IGraphBuilder> graph;
  hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph.out_void());
  if (FAILED(hr)) return Fail("cannot create the filter graph: " + StatusText(hr));
  hr = graph->AddFilter(muxer.get(), u"Halvorn ASF Muxer");
  if (FAILED(hr)) return Fail("cannot add the muxer to the graph: " + StatusText(hr));
  for (Input& input : inputs_) {
    hr = graph->AddFilter(input.filter, input.video ? u"Video source" : u"Audio source");
    if (FAILED(hr)) return Fail("cannot add a source to the graph: " + StatusText(hr));
    Ref<IPin> in;
    hr = muxer->FindPin(input.video ? u"Video In" : u"Audio In", in.out());
    if (FAILED(hr)) return Fail("the muxer has no " + std::string(input.video ? "video" : "audio") + " input pin");
    hr = graph->ConnectDirect(input.filter->OutputPin(), in.get(), nullptr);
    if (FAILED(hr))
      return Fail("the muxer does not take the " + std::string(input.video ? "video" : "audio") + " stream: " +
                  StatusText(hr));
  }

  Ref<IFileSinkFilter> sink;
  Ref<IASFMuxer> settings;
  Ref<IMediaControl> control;
  Ref<IMediaEvent> events;
  if (FAILED(hr = muxer->QueryInterface(IID_IFileSinkFilter, sink.out_void())) ||
      FAILED(hr = muxer->QueryInterface(IID_IASFMuxer, settings.out_void())) ||
      FAILED(hr = graph->QueryInterface(IID_IMediaControl, control.out_void())) ||
      FAILED(hr = graph->QueryInterface(IID_IMediaEvent, events.out_void())))
    return Fail("the muxer or the graph lacks an interface: " + StatusText(hr));
  sink_ = sink.get();
  const std::string first = names_.Name(0);
  // Again as it is handed over: the inputs may have taken their time to open.
  error = guard_.CheckName(first);
  if (!error.empty()) return Fail(error);
  hr = sink->SetFileName(Utf8ToWide(first).c_str(), nullptr);
  if (FAILED(hr)) return Fail("the muxer refused the output name " + first + ": " + StatusText(hr));
  if (options_.maxSize > 0) {
    hr = settings->SetMaxFileSize(options_.maxSize);
    if (FAILED(hr)) return Fail("--max-size must be more than 10 and less than 4194304 MB");
  }
  if (options_.videoBitrate > 0) {
    hr = settings->SetVideoBitrate(options_.videoBitrate);
    if (FAILED(hr)) return Fail("the muxer refused the video bit rate: " + StatusText(hr));
  }
  SetWriterSyncInterval(static_cast<uint32_t>(options_.fsync * 1000 + 0.5));
  SetWriterFileObserver(&Recording::OnFileEvent, this);

  started_ = std::chrono::steady_clock::now();
  hr = control->Run();
  if (FAILED(hr)) {
    // The graph did not start; stopping what did start is all that is left, whatever it says.
    control->Stop();
    SetWriterFileObserver(nullptr, nullptr);
    // The folder tells more than the status of the open; the writer's status more than the graph's.
    std::string why = OutputProblem(first);
    if (why.empty() && files_.Failure().failed) why = StatusText(files_.Failure().status);
    return Fail("cannot write " + first + ": " + (why.empty() ? "the muxer could not start: " + StatusText(hr) : why));
  }

  bool failed = false;
  bool stopped = false;
  std::string abortText;
  auto lastProgress = started_;
  for (;;) {
    LONG code = 0;
    LONG_PTR param1 = 0, param2 = 0;
    if (SUCCEEDED(events->GetEvent(&code, &param1, &param2, kEventWaitMs))) {
      events->FreeEventParams(code, param1, param2);
      if (code == EC_RECORD_SIZE_LIMIT) {
        // Without a limit of ours the muxer's is zero and it raises the event at once.
        if (options_.maxSize > 0) NextFile("size");
      } else if (code == EC_COMPLETE) {
        break;
      } else if (code == EC_ERRORABORT || code == EC_USERABORT) {
        failed = true;
        abortText = FailureText(static_cast<HRESULT>(param1));
        break;
      }
    }
    if (files_.MustStop()) {
      failed = true;
      break;
    }
    if (g_stopRequested) {
      stopped = true;
      break;
    }
    if (g_nextFileRequested.exchange(false)) {
      if (!has_video_)
        std::fprintf(stderr, "pelistra record: an audio-only recording does not switch files\n");
      else if (inputs_.front().filter->Progress().units == 0)
        std::fprintf(stderr, "pelistra record: no picture recorded yet: the first file goes on\n");
      else
        NextFile("signal");
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastProgress >= kProgressInterval) {
      ShowProgress(false);
      lastProgress = now;
    }
  }
  // Stopping the graph ends the current file: its header gets the final sizes and the index. A
  // failure to write them comes as a file event.
  hr = control->Stop();
  SetWriterFileObserver(nullptr, nullptr);
  if (progress_shown_) ShowProgress(true);

  // The first cause wins: a write failure names its file, then a refused name, then the stream's.
  const bool fileFailed = files_.Failure().failed;
  const bool outOfMemory = files_.OutOfMemory();
  const std::string reason = files_.StopReason();
  if (fileFailed) Fail(FileFailureText());
  else if (!reason.empty()) Fail(reason);
  else if (!abortText.empty()) Fail(abortText);
  else if (outOfMemory) Fail("out of memory");
  else if (FAILED(hr)) Fail("stopping the recording failed: " + StatusText(hr));
  failed = failed || fileFailed || !reason.empty() || outOfMemory || FAILED(hr);
  if (!options_.quiet) ShowSummary(failed, stopped);
  return failed ? 1 : 0;
}

// What reached the files, read back from them.
void Recording::ShowSummary(bool failed, bool stopped) {
  const std::vector<std::string> files = files_.Opened();
  WrittenFile total;
  bool first = true;
  for (const std::string& file : files) {
    WrittenFile contents;
    // One that cannot be read back counts its bytes alone, as the read leaves it: the summary
    // still lists it, and a failure was reported on its own.
    (void)ReadWrittenFile(file, &contents);
    total.frames += contents.frames;
    total.audioBlocks += contents.audioBlocks;
    // Files follow each other in the recording's time: together they span from the first start.
    if (contents.end > contents.start) {
      total.start = first ? contents.start : std::min(total.start, contents.start);
      total.end = first ? contents.end : std::max(total.end, contents.end);
      first = false;
    }
    total.bytes += contents.bytes;
  }
  std::string list;
  for (size_t i = 0; i < files.size() && i < 3; ++i) list += (i ? ", " : "") + files[i];
  if (files.size() > 3) list += ", ... " + files.back();
  std::fprintf(stderr, "%s %s into %zu file%s: %s\n",
               failed ? "recorded before the failure:" : stopped ? "stopped after" : "recorded",
               WrittenFileText(total, has_video_, has_audio_).c_str(), files.size(), files.size() == 1 ? "" : "s",
               list.empty() ? "none" : list.c_str());
}

}  // namespace

int RunRecord(const RecordOptions& options) {
  SignalHandlers signals;
  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) return Fail("cannot start COM: " + StatusText(hr));
  int status;
  {
    Recording recording(options);
    status = recording.Run();
  }
  CoUninitialize();
  return status;
}

namespace {

// The sync interval is handed on in milliseconds of 32 bits; a day is more than anyone needs.
constexpr double kMaxSyncSeconds = 86400;

// A number of seconds above zero, refused in words (the library's own range names the largest
// double in full).
CLI::Validator PositiveSeconds(double most = 0) {
  return CLI::Validator(
      [most](std::string& text) -> std::string {
        double value = 0;
        if (!CLI::detail::lexical_cast(text, value)) return "'" + text + "' is not a number of seconds";
        if (!(value > 0)) return "must be more than 0 seconds, not " + text;
        if (most > 0 && value > most) {
          char limit[32];
          std::snprintf(limit, sizeof limit, "%g", most);
          return "must be at most " + std::string(limit) + " seconds, not " + text;
        }
        return "";
      },
      "SECONDS");
}

// The muxer's size limit, in MB.
constexpr unsigned long long kMinMaxSize = 11, kMaxMaxSize = 4194303;

// A whole number in a range, refused in words.
CLI::Validator WholeNumber(unsigned long long least, unsigned long long most, const char* unit) {
  return CLI::Validator(
      [least, most, unit](std::string& text) -> std::string {
        unsigned long long value = 0;
        const bool number = !text.empty() && text[0] != '-' && CLI::detail::lexical_cast(text, value);
        if (number && value >= least && value <= most) return "";
        return "must be a whole number of " + std::string(unit) + " from " + std::to_string(least) + " to " +
               std::to_string(most) + ", not " + text;
      },
      unit);
}

}  // namespace

void AddRecordCommand(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<RecordOptions>();
  CLI::App* cmd = app.add_subcommand("record", "Record video and audio into ASF files, without re-encoding");
  cmd->footer(
      "With no input named, records the built-in test pattern and a tone. Video formats: H.264 Annex B,\n"
      "MPEG-4 Part 2 elementary streams, MJPEG, Y4M (4:2:0); audio: WAV. \"-\" reads standard input.\n"
      "Output files: OUTPUT, then OUTPUT's stem plus -001, -002... (or OUTPUT's own number field,\n"
      "as in rec-%03d.asf). SIGUSR1 starts the next file at the next key frame; SIGINT or SIGTERM\n"
      "ends the recording with the current file complete. An output file that exists is replaced only\n"
      "with -y; one that is an input, never.\n\n"
      "Examples:\n"
      "  pelistra record --duration 10 -o demo.asf\n"
      "  pelistra record --video clip.264 --audio sound.wav -o clip.asf\n"
      "  camera | pelistra record --video - --video-format h264 --live --segment-time 600 -o cam-%03d.asf");
  cmd->add_option("--video", options->video, "Video input: a file, or - for standard input");
  cmd->add_option("--video-format", options->videoFormat, "h264, mpeg4, mjpeg or y4m (default: from the extension)")
      ->check(CLI::IsMember({"h264", "mpeg4", "mjpeg", "y4m"}));
  cmd->add_option("--fps", options->fps, "Video frame rate, over the stream's own (default: the stream's, else 25)")
      ->check(CLI::Range(0.001, 1000.0));
  cmd->add_option("--audio", options->audio, "Audio input: a WAV file, or - for standard input");
  cmd->add_flag("--test-source", options->testSource, "Built-in test pattern and tone for the streams not named");
  cmd->add_option("--duration", options->duration, "Stop after this many seconds of media time")
      ->check(PositiveSeconds());
  cmd->add_flag("--live", options->live, "Time samples by the clock as they arrive (camera or encoder on a pipe)");
  cmd->add_option("--max-size", options->maxSize, "Start a new file when one reaches about this many MB (more than 10)")
      ->check(WholeNumber(kMinMaxSize, kMaxMaxSize, "MB"));
  cmd->add_option("--segment-time", options->segmentTime, "Start a new file every this many seconds of media time")
      ->check(PositiveSeconds());
  cmd->add_option("--video-bitrate", options->videoBitrate, "Video bit rate written into the file's profile (bit/s)")
      ->check(WholeNumber(1, UINT32_MAX, "bit/s"));
  cmd->add_option("--module", options->module, "The muxer module to load (default: registered, else beside the program)");
  cmd->add_option("--fsync", options->fsync, "Force written packets to the disk at least every this many seconds")
      ->check(PositiveSeconds(kMaxSyncSeconds));
  cmd->add_flag("-y,--overwrite", options->overwrite, "Replace output files that exist (never an input)");
  cmd->add_flag("-q,--quiet", options->quiet, "No progress line and no summary");
  cmd->add_option("-o,--output", options->output, "The first output file")->required();
  cmd->callback([options, cmd, &exitCode] {
    if (cmd->count("--fps") == 0) options->fps = 0;  // none given: the stream's own rate
    if (options->video == "-" && options->audio == "-") {
      exitCode = Fail("standard input can carry only one of --video and --audio");
      return;
    }
    exitCode = RunRecord(*options);
  });
}
