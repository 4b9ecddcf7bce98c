// A video file of the show: H.264 (libx264, 4:2:0) from RGBA frames, with the
// show's MP3 copied in packet by packet as the audio stream. The first music
// sample under the first video frame plays at video time 0: the MP3's encoder
// delay (and the preroll packets a decoder needs) are marked for the player
// to drop (an MP4 edit list; in Matroska the audio starts before the video).
//
// The file is an output_file.h output: a temporary renamed into place by the
// caller (CommitOutputs, together with the capture's other outputs), or a
// device or pipe written in place (Matroska only).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture_options.h"
#include "output_file.h"

struct VideoSettings {
  std::string path;  // the final name
  VideoFormat format = VideoFormat::Mp4;
  std::vector<std::string> others;  // the inputs and other outputs it must not be
  std::string musicFile;
  int width = 0;
  int height = 0;
  FrameRate rate;
  std::int64_t firstFrame = 0;  // the show's frame number of video frame 0
  std::int64_t frameCount = 0;  // frames that will be written
};

struct VideoFile;
// Frees the encoder and muxer; removes the temporary unless committed.
struct VideoFileCloser {
  void operator()(VideoFile* file) const;
};
using VideoFileHandle = std::unique_ptr<VideoFile, VideoFileCloser>;

// Reads the music's packets (the reason naming the music file when it is
// missing, unreadable or no MP3), opens the encoder and the output and
// writes the header. Null with the reason on failure. `warning` tells when
// the music is shorter than the show or ends early, else it is empty.
VideoFileHandle OpenVideoFile(const VideoSettings& settings, std::string& error, std::string& warning);

// Encode one frame: RGBA, width x height, bottom row first.
bool WriteVideoFrame(VideoFile& file, const std::uint8_t* rgba, std::string& error);

// Flush the encoder, write the remaining audio and the trailer: the file is
// complete, to be committed with VideoOutput.
bool FinishVideoFile(VideoFile& file, std::string& error);

OutputFile& VideoOutput(VideoFile& file);

// True when a write failed because nobody reads the pipe any more.
bool VideoReaderGone(const VideoFile& file);

// How the audio was cut, for the summary: e.g. "audio: 2577 MP3 packets,
// first 3 are preroll, 1105 + 3456 samples skipped".
std::string DescribeAudio(const VideoFile& file);
