// quenrik-capture: the show rendered headless, frame by frame, on a virtual
// music clock, into a video file or a folder of PNG frames.
//
// It is a host of the show core (RunShow): the show's own start-up, main loop
// and shutdown run over its host record. What differs is in the record: the
// settings are fixed, the "window" is a headless EGL context, the music clock
// is frame n's time floor(n*1000/fps), and presenting a frame reads it back
// and hands it to the encoder thread.
//
// Threads: this one owns the GL context and renders; an encoder thread
// converts and encodes (or writes PNGs). A few pixel buffers circulate
// between them, so read-back and encoding overlap the next frame's drawing.
//
// Outputs never destroy what was there (output_file.h): each is written
// under a temporary name and all are moved into place together once every
// one of them is complete. A signal that ends the program removes the
// temporaries first (RemoveOutputsOnSignals).
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture_files.h"
#include "capture_options.h"
#include "frame_queue.h"
#include "gl.h"
#include "headless_gl.h"
#include "image_textures.h"
#include "installed_data.h"
#include "output_file.h"
#include "show_core.h"
#include "show_errors.h"
#include "timeline.h"
#include "video_file.h"
#include "window_proc.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 64;          // sysexits.h EX_USAGE
constexpr double ProgressRedrawSeconds = 0.2;  // terminal progress bar refresh
constexpr int ProgressLineSteps = 10;          // lines per capture when stderr is no terminal
constexpr int ProgressBarWidth = 30;

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Where the frames go; one of the two handles is set (neither for --render-only).
struct FrameOutput {
  VideoFileHandle video;
  PngFolderHandle png;
};

// The files the show reads: an output must not be one of them.
std::vector<std::string> ShowInputs() {
  std::vector<std::string> inputs{MusicFile, LoadingPictureFile};
  for (const PictureFile& picture : ShowPictureFiles) inputs.push_back(picture.fileName);
  return inputs;
}

// Seconds each stage took, summed over the frames.
struct StageTimes {
  double render = 0;    // layers drawing until glFinish
  double readBack = 0;  // glReadPixels
  double waiting = 0;   // render thread waiting for a free buffer (the encoder is behind)
  double encode = 0;    // encoder thread: conversion, encoding, writing
};

// The state of one capture, shared by the host record's operations (plain
// function pointers) and the encoder thread.
struct CaptureState {
  CaptureOptions options;
  FrameRange written;
  std::int64_t framesToRun = 0;   // frames the main loop will present
  std::int64_t nextFrame = 0;     // the frame the clock shows now
  std::int64_t framesRun = 0;
  bool playing = false;           // the virtual clock runs: frames from here on are the show's
  std::uint32_t seed = 0;         // the shake's
  HeadlessGlHandle gl;
  gl::GLenum glError = 0;         // what GL reported when the context was released
  FrameOutput output;
  FramesLogHandle log;
  std::string logError;           // writing the log failed: the capture stops
  FrameQueue queue;
  std::thread encoder;
  std::string encoderError;       // set by the encoder thread before it aborts the queue
  StageTimes times;
  Clock::time_point loopStart;
  Clock::time_point frameStart;
  // Progress display.
  bool terminal = false;
  double lastRedraw = -1;
  int lastStep = 0;
};
CaptureState Capture;

// --- progress on stderr -------------------------------------------------

std::string FormatMinutes(double seconds) {
  const long whole = std::lround(std::max(0.0, seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  return text;
}

void ShowProgress(bool last) {
  CaptureState& c = Capture;
  const double elapsed = SecondsSince(c.loopStart);
  const double fps = elapsed > 0 ? c.framesRun / elapsed : 0;
  const double left = fps > 0 ? (c.framesToRun - c.framesRun) / fps : 0;
  const double share = c.framesToRun ? double(c.framesRun) / double(c.framesToRun) : 1;
  if (c.terminal) {
    if (!last && elapsed - c.lastRedraw < ProgressRedrawSeconds) return;
    c.lastRedraw = elapsed;
    const int filled = static_cast<int>(share * ProgressBarWidth);
    std::fprintf(stderr, "\rcapture [%s%s] %lld/%lld frames  %.1f fps  %s left\033[K", std::string(filled, '#').c_str(),
                 std::string(ProgressBarWidth - filled, '.').c_str(), static_cast<long long>(c.framesRun),
                 static_cast<long long>(c.framesToRun), fps, FormatMinutes(left).c_str());
    if (last) std::fputc('\n', stderr);
  } else {
    const int step = static_cast<int>(share * ProgressLineSteps);
    if (step == c.lastStep) return;
    c.lastStep = step;
    std::fprintf(stderr, "capture: %lld/%lld frames (%d %%), %.1f fps, %s left\n", static_cast<long long>(c.framesRun),
                 static_cast<long long>(c.framesToRun), static_cast<int>(share * 100), fps,
                 FormatMinutes(left).c_str());
  }
  std::fflush(stderr);
}

// --- the encoder thread ---------------------------------------------------

bool WriteFrame(FrameOutput& output, const CapturedFrame& frame, std::string& error) {
  if (output.video) return WriteVideoFrame(*output.video, frame.pixels.data(), error);
  return WritePngFrame(*output.png, frame.number, frame.pixels.data(), error);
}

void EncodeFrames() {
  CaptureState& c = Capture;
  CapturedFrame frame;
  bool failed = false;
  while (PopFrame(c.queue, frame)) {
    if (!failed) {
      const Clock::time_point start = Clock::now();
      std::string error;
      if (!WriteFrame(c.output, frame, error)) {
        failed = true;
        c.encoderError = error;
        AbortFrameQueue(c.queue);
      }
      c.times.encode += SecondsSince(start);
    }
    ReturnBuffer(c.queue, std::move(frame.pixels));
  }
}

// --- the host record ----------------------------------------------------------

constexpr const char* DataHint =
    " (quenrik-capture reads data/ below the folder it runs in, else the installed show's data/)";

int Fail(const std::string& message) {
  std::fprintf(stderr, "quenrik-capture: %s\n", message.c_str());
  return ExitFailure;
}

// The headless "window": its creation starts the show as a window's does.
void CreateHeadlessWindow() { ShowWindowProc(ShowMessage::Create); }

void OpenHeadlessContext() {
  std::string error;
  Capture.gl = OpenHeadlessGl(Capture.options.width, Capture.options.height, error);
  if (!Capture.gl) ShowErrorAndExit("cannot open a headless OpenGL context (EGL): " + error);
}

// Whatever GL reported while drawing is noted before the context goes.
void ReleaseHeadlessContext() {
  if (!Capture.gl) return;
  Capture.glError = gl::glGetError();
  Capture.gl.reset();
}

void HandleOneMessage() {
  CaptureState& c = Capture;
  c.frameStart = Clock::now();
  // An output that failed closes the show like a window close.
  if (!c.logError.empty() || FrameQueueAborted(c.queue)) ShowWindowProc(ShowMessage::Close);
}

void LogFrame(std::int64_t frame) {
  CaptureState& c = Capture;
  if (!c.logError.empty()) return;
  const std::int32_t clock = FrameClock(frame, c.options.rate);
  const TimelineWindow& window = TimelineWindowAt(clock);
  const std::string line = std::to_string(frame) + " " + std::to_string(clock) + " " + window.backgroundName + " " +
                           window.overlayName + "\n";
  WriteLogLine(*c.log, line, c.logError);
}

// The buffer swap: the frame is finished; read it back if it is to be written.
// The loading screen's frame, before the clock starts, is not captured.
void PresentCapturedFrame() {
  CaptureState& c = Capture;
  if (!c.playing) return;
  const std::int64_t frame = c.nextFrame;
  gl::glFinish();
  const Clock::time_point drawn = Clock::now();
  c.times.render += std::chrono::duration<double>(drawn - c.frameStart).count();

  if (frame >= c.written.first && frame < c.written.end && c.options.kind != OutputKind::None) {
    std::vector<std::uint8_t> pixels = TakeSpareBuffer(c.queue);
    const Clock::time_point ready = Clock::now();
    c.times.waiting += std::chrono::duration<double>(ready - drawn).count();
    if (!pixels.empty()) {
      gl::glReadPixels(0, 0, c.options.width, c.options.height, gl::GL_RGBA, gl::GL_UNSIGNED_BYTE, pixels.data());
      c.times.readBack += SecondsSince(ready);
      if (c.log) LogFrame(frame);
      PushFrame(c.queue, CapturedFrame{frame, std::move(pixels)});
    }
  }
  ++c.nextFrame;
  ++c.framesRun;
  // Before the show's end the capture stops after the last frame to write;
  // at the end the main loop stops by itself, after its frame at ShowEndMs.
  if (c.options.toMs < ShowEndMs && c.nextFrame >= c.written.end) ShowWindowProc(ShowMessage::Destroy);
  ShowProgress(false);
}

// The music is the video writer's business; its clock is the frame number.
bool OpenVirtualMusic(const char*, std::string&) { return true; }

// The clock starts at frame 0, and the encoder with it.
bool PlayVirtualMusic(std::string&) {
  CaptureState& c = Capture;
  c.playing = true;
  c.loopStart = Clock::now();
  if (c.options.kind != OutputKind::None) {
    FillFrameQueue(c.queue, static_cast<std::size_t>(c.options.width) * c.options.height * 4);
    c.encoder = std::thread(EncodeFrames);
  }
  return true;
}

std::int32_t ReadVirtualClock() { return FrameClock(Capture.nextFrame, Capture.options.rate); }

bool MusicNeverFinishes() { return false; }

// The encoder writes out what it was given and stops.
void CloseVirtualMusic() {
  CloseFrameQueue(Capture.queue);
  if (Capture.encoder.joinable()) Capture.encoder.join();
}

// Fixed by --seed, else from the clock as in the show.
std::uint32_t CaptureSeed() {
  const std::optional<std::uint32_t>& seed = Capture.options.seed;
  Capture.seed = seed ? *seed : ClockSeed();
  return Capture.seed;
}

// A picture that failed to load carries its run-time error code and names the
// file and the reason in its detail; anything else is a set-up failure. The
// partial outputs go with the failure.
int ReportCaptureFailure(const ShowFailure& failure) {
  Capture.output = FrameOutput{};
  Capture.log.reset();
  if (failure.exitCode != SetUpFailureExitCode) return Fail(failure.detail + DataHint);
  return Fail(failure.detail.empty() ? failure.text : failure.text + ": " + failure.detail);
}

ShowHost CaptureHost() {
  const CaptureOptions& o = Capture.options;
  return ShowHost{
      .settings = {.ScreenWidth = o.width, .ScreenHeight = o.height, .Fullscreen = false},
      .window = {.CreateWindow = CreateHeadlessWindow,
                 .CreateRenderContext = OpenHeadlessContext,
                 .ReleaseRenderContext = ReleaseHeadlessContext,
                 .HandleOneMessage = HandleOneMessage,
                 .Present = PresentCapturedFrame},
      .music = {OpenVirtualMusic, PlayVirtualMusic, ReadVirtualClock, MusicNeverFinishes, CloseVirtualMusic},
      .SteadyNowMs = SteadyNowMs,
      .Seed = CaptureSeed,
      .ReportFailure = ReportCaptureFailure};
}

// --- the run --------------------------------------------------------------------

std::string OpenOutputs(CaptureState& c) {
  std::string error;
  const CaptureOptions& o = c.options;
  // Each output against the show's files and the other output, before
  // anything is made.
  const std::vector<std::string> inputs = ShowInputs();
  std::vector<std::string> videoOthers = inputs, logOthers = inputs;
  if (!o.framesLog.empty()) videoOthers.push_back(o.framesLog);
  if (o.kind == OutputKind::Video) {
    logOthers.push_back(o.output);
    if (!o.framesLog.empty() && !WritesInPlace(o.output) && SameFile(o.output, o.framesLog))
      return "OUT " + o.output + " and --frames-log " + o.framesLog + " are the same file; nothing written";
    if (std::string reason = CheckOutputName(o.output, videoOthers); !reason.empty()) return reason;
  }
  if (!o.framesLog.empty())
    if (std::string reason = CheckOutputName(o.framesLog, logOthers); !reason.empty()) return reason;

  if (o.kind == OutputKind::Video) {
    const VideoSettings settings{.path = o.output,
                                 .format = o.format,
                                 .others = videoOthers,
                                 .musicFile = MusicFile,
                                 .width = o.width,
                                 .height = o.height,
                                 .rate = o.rate,
                                 .firstFrame = c.written.first,
                                 .frameCount = c.written.Count()};
    std::string warning;
    c.output.video = OpenVideoFile(settings, error, warning);
    if (!c.output.video) return error.starts_with("cannot read the music") ? error + DataHint : error;
    if (!warning.empty()) std::fprintf(stderr, "quenrik-capture: warning: %s\n", warning.c_str());
  } else if (o.kind == OutputKind::PngFolder) {
    c.output.png = OpenPngFolder(o.output, o.width, o.height, error);
    if (!c.output.png) return error;
  }
  if (!o.framesLog.empty()) {
    c.log = OpenFramesLog(o.framesLog, logOthers, error);
    if (!c.log) return error;
  }
  return {};
}

// Every output is finished (written and synced) first; only then are they
// moved into place, together.
std::string CommitCapture(CaptureState& c) {
  std::string error;
  std::vector<OutputFile*> files;
  std::vector<OutputMove> frames;
  if (c.output.video) {
    if (!FinishVideoFile(*c.output.video, error)) return error;
    files.push_back(&VideoOutput(*c.output.video));
  }
  if (c.output.png && !FinishPngFolder(*c.output.png, frames, error)) return error;
  if (c.log) {
    if (!FinishFramesLog(*c.log, error)) return error;
    files.push_back(&c.log->out);
  }
  if (std::string reason = CommitOutputs(files, frames); !reason.empty()) return reason;
  if (c.output.png) KeepPngFolder(*c.output.png);
  return {};
}

// Nobody reads the pipe the video or the log goes to any more: the capture
// ends as a program writing to a closed pipe does, by SIGPIPE (which it
// ignores only so that a closed stderr does not end it).
bool ReaderGone(const CaptureState& c) {
  return (c.output.video && VideoReaderGone(*c.output.video)) || (c.log && c.log->readerGone);
}

[[noreturn]] void EndByBrokenPipe(const std::string& error) {
  std::fprintf(stderr, "quenrik-capture: %s; stopped\n", error.c_str());
  Capture.output = FrameOutput{};
  Capture.log.reset();
  std::signal(SIGPIPE, SIG_DFL);
  std::raise(SIGPIPE);
  std::_Exit(ExitFailure);
}

void PrintSummary(const CaptureState& c, bool seeded, double seconds, double encodeSeconds) {
  const CaptureOptions& o = c.options;
  const FrameRate r = o.rate;
  const long long frames = c.written.Count();
  const double videoSeconds = double(frames) * r.den / r.num;
  const char* what = o.kind == OutputKind::None ? "rendered" : "wrote";
  std::fprintf(stderr, "quenrik-capture: %s %s%s%lld frame%s of %dx%d at %s fps (music %d ... %d ms, %.3f s), "
               "shake seed %u%s\n",
               what, o.output.c_str(), o.output.empty() ? "" : ": ", frames, frames == 1 ? "" : "s", o.width,
               o.height, FormatRate(r).c_str(),
               FrameClock(c.written.first, r), FrameClock(c.written.end - 1, r), videoSeconds, c.seed,
               seeded ? "" : " (from the clock)");
  if (c.output.video) std::fprintf(stderr, "quenrik-capture: %s\n", DescribeAudio(*c.output.video).c_str());
  const double run = double(c.framesRun);
  auto perFrame = [&](double total) { return run > 0 ? 1000 * total / run : 0; };
  auto share = [&](double total) { return seconds > 0 ? 100 * total / seconds : 0; };
  std::fprintf(stderr,
               "quenrik-capture: %.1f s for %lld frames run: %.1f fps, %.2f x real time; per frame run: render %.2f ms "
               "(%.0f %%), read-back %.2f ms (%.0f %%), encode %.2f ms (%.0f %%, encoder thread), waiting for "
               "the encoder %.2f ms\n",
               seconds, static_cast<long long>(c.framesRun), run / seconds,
               (FrameClock(c.framesRun, r) / 1000.0) / seconds, perFrame(c.times.render), share(c.times.render),
               perFrame(c.times.readBack), share(c.times.readBack), perFrame(encodeSeconds), share(encodeSeconds),
               perFrame(c.times.waiting));
}

int Run(int argc, char** argv) {
  CaptureState& c = Capture;
  if (std::string error = ParseCaptureOptions(std::span<const char* const>(argv + 1, argc - 1), c.options);
      !error.empty()) {
    std::fprintf(stderr, "quenrik-capture: %s\n%s", error.c_str(), CaptureUsage);
    return ExitUsage;
  }
  const CaptureOptions& o = c.options;
  c.written = WrittenFrames(o);
  // At the show's end the loop also presents its frame at ShowEndMs.
  c.framesToRun = c.written.end + (o.toMs == ShowEndMs ? 1 : 0);
  c.terminal = isatty(STDERR_FILENO) == 1;

  // A closed stderr (a pipe into "head") must not end the capture; the
  // progress lines are then simply lost. Every other signal that ends the
  // program removes the temporaries first (one the capture was started with
  // ignored, as nohup does, stays ignored).
  std::signal(SIGPIPE, SIG_IGN);
  RemoveOutputsOnSignals();

  if (std::string error = OpenOutputs(c); !error.empty()) return Fail(error);

  // Failures end the process inside, reported by ReportCaptureFailure.
  RunShow(CaptureHost());
  ShowProgress(true);
  const std::string& outputError = !c.encoderError.empty() ? c.encoderError : c.logError;
  if (ReaderGone(c)) EndByBrokenPipe(outputError);
  if (!outputError.empty()) return Fail(outputError);
  if (c.glError != gl::GL_NO_ERROR)
    return Fail("OpenGL reported error " + std::to_string(c.glError) + " while drawing");
  const Clock::time_point flushStart = Clock::now();
  if (std::string commitError = CommitCapture(c); !commitError.empty()) {
    if (ReaderGone(c)) EndByBrokenPipe(commitError);
    return Fail(commitError);
  }
  const double encodeSeconds = c.times.encode + SecondsSince(flushStart);
  PrintSummary(c, o.seed.has_value(), SecondsSince(c.loopStart), encodeSeconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  UseInstalledData(InstalledDataUse::UnlessDataHere);
  const int code = Run(argc, argv);
  // Release outputs (removing the temporaries on failure) and the context
  // before the process ends.
  Capture.output = FrameOutput{};
  Capture.log.reset();
  Capture.gl.reset();
  return code;
}
