// quenrik-capture's command line, and the frame arithmetic of its virtual
// music clock. Free of GL and of any media library, so it is tested alone.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "timeline.h"

// Frames per second as a fraction num / den ("60", or "200/3" for frames
// exactly 15 ms apart).
struct FrameRate {
  std::int64_t num = 60;
  std::int64_t den = 1;
};

enum class OutputKind {
  Video,      // .mp4 or .mkv, or a device or pipe: H.264 plus the show's MP3
  PngFolder,  // an existing folder, or a name ending in '/'
  None,       // --render-only: draw the frames, write nothing (speed measurements)
};

// The video's container. MP4 writes its index last and moves it to the
// front, so it needs a file it can go back in; Matroska can be written as it
// goes, to a pipe or a device.
enum class VideoFormat { Mp4, Matroska };

struct CaptureOptions {
  std::string output;
  OutputKind kind = OutputKind::None;
  VideoFormat format = VideoFormat::Mp4;  // for OutputKind::Video
  int width = 1280;
  int height = 720;
  FrameRate rate;
  std::optional<std::uint32_t> seed;  // none: from the clock, as the show seeds it
  std::string framesLog;              // empty: no log
  std::int32_t fromMs = 0;            // frames with fromMs <= clock < toMs are written
  std::int32_t toMs = ShowEndMs;
};

// Limits of the command line, with the reason.
constexpr int CaptureMaxSide = 4096;               // the headless render target's limit
constexpr std::int64_t CaptureMaxRateTerm = 1000000;  // numerator and denominator of --fps
// Frames are at least FrameSpacingMs of music apart, as the show's pacing keeps
// them: at most 1000 / 15 frames per second. At least one frame per second.
constexpr std::int64_t CaptureMinFps = 1;

// Reads argv[1...] into options. Returns the reason when the command line is
// wrong (empty on success). Does not touch the file system except to ask
// whether OUT is an existing folder, a device or a pipe. OUT and --frames-log name paths relative
// to the folder the program was started in (FromStartFolder).
std::string ParseCaptureOptions(std::span<const char* const> args, CaptureOptions& options);

extern const char* const CaptureUsage;

// The music time that frame n shows: floor(n * 1000 / fps), from n alone.
std::int32_t FrameClock(std::int64_t frame, FrameRate rate);
// The first frame whose clock is at or after ms (ms >= 0).
std::int64_t FirstFrameAtOrAfter(std::int32_t ms, FrameRate rate);

// Frames first ... end - 1 are written; frames before first are run but not
// written.
struct FrameRange {
  std::int64_t first = 0;
  std::int64_t end = 0;
  std::int64_t Count() const { return end - first; }
};
FrameRange WrittenFrames(const CaptureOptions& options);

// "60" or "200/3".
std::string FormatRate(FrameRate rate);
