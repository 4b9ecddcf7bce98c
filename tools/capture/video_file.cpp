#include "video_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <vector>

#include "audio_cut.h"

namespace {

// Encoder settings. Rendering alone keeps about one core busy (llvmpipe
// gains nothing from its second thread here), so the capture is as fast as
// the rendering when conversion and encoding fit on the other core. CPU per
// 1280 x 720 frame: RGBA to YUV 3.7 ms, x264 "ultrafast" 4.4 ms, "superfast"
// 8.5 ms, "veryfast" 16 ms. "ultrafast" at CRF 18 keeps the soft glows free
// of banding at about 16 Mbit/s (720p): a master to publish from, not a
// small file.
constexpr const char* X264Preset = "ultrafast";
constexpr const char* X264Crf = "18";
constexpr int KeyframeSeconds = 2;  // seeking granularity
// Audio packets are written this far ahead of the video so that the muxer's
// interleaving never has to hold much.
constexpr double AudioLeadSeconds = 0.5;
// Sanity limits for the music file.
constexpr std::int64_t MaxMusicPackets = 1 << 20;  // about 7.6 hours of MP3 frames

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

struct PacketFree {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
struct FrameFree {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct CodecFree {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct InputClose {
  void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct ScalerFree {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// The show's music as packets, with where each one's samples start.
struct Music {
  AVCodecParameters* parameters = nullptr;  // owned by input
  std::unique_ptr<AVFormatContext, InputClose> input;
  int sampleRate = 0;
  std::vector<PacketPtr> packets;
  std::vector<std::int64_t> starts;  // decoded-sample position of each packet
  std::int64_t end = 0;              // where the last packet's samples end
  std::int64_t encoderDelay = 0;     // decoded samples before music sample 0
  std::int64_t endPadding = 0;       // decoded samples after the last music sample
  std::int64_t announced = 0;        // decoded samples the header announces, 0 when it does not
  // Music samples the file holds and its header announces.
  MusicLength Length() const {
    const std::int64_t music = end - (starts.empty() ? 0 : starts.front()) - encoderDelay - endPadding;
    return {music, announced > 0 ? announced - encoderDelay - endPadding : 0};
  }
};

// What is wrong with a music file that opens but is no MP3 (a WAV renamed,
// say), or an empty string: the show's player reads MP3 only.
std::string NotMp3(const AVFormatContext* input, const AVStream* stream) {
  const bool mp3File = std::string(input->iformat->name) == "mp3";
  if (mp3File && stream->codecpar->codec_id == AV_CODEC_ID_MP3) return {};
  const char* codec = avcodec_get_name(stream->codecpar->codec_id);
  return std::string("not an MP3 file: it holds ") + codec + " audio in a " + input->iformat->long_name + " file";
}

// Why a music file that exists gives no audio: FFmpeg's own reason, told as
// what it means for an MP3.
std::string NoAudio(int code) {
  if (code == AVERROR(EINVAL) || code == AVERROR_INVALIDDATA) return "no MP3 audio found in it (" + AvError(code) + ")";
  return AvError(code);
}

std::string ReadMusic(const std::string& path, Music& music) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return path + ": " + std::generic_category().message(errno);
  if (S_ISDIR(info.st_mode)) return path + ": " + std::generic_category().message(EISDIR);
  if (S_ISREG(info.st_mode) && info.st_size == 0) return path + ": the file is empty";
  AVFormatContext* input = nullptr;
  if (int code = avformat_open_input(&input, path.c_str(), nullptr, nullptr); code < 0) return path + ": " + NoAudio(code);
  music.input.reset(input);
  if (int code = avformat_find_stream_info(input, nullptr); code < 0) return path + ": " + NoAudio(code);
  const int index = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return path + ": no audio stream";
  const AVStream* stream = input->streams[index];
  if (std::string reason = NotMp3(input, stream); !reason.empty()) return path + ": " + reason;
  music.parameters = stream->codecpar;
  music.sampleRate = stream->codecpar->sample_rate;
  if (music.sampleRate <= 0) return path + ": no sample rate";
  const AVRational samples{1, music.sampleRate};
  // A length the header states (an MP3's Xing or LAME tag counts its
  // frames); one estimated from the file's size and bit rate says nothing.
  if (input->duration_estimation_method == AVFMT_DURATION_FROM_STREAM && stream->duration != AV_NOPTS_VALUE)
    music.announced = av_rescale_q(stream->duration, stream->time_base, samples);

  bool first = true;
  for (;;) {
    PacketPtr packet(av_packet_alloc());
    if (!packet) return "out of memory";
    const int code = av_read_frame(input, packet.get());
    if (code == AVERROR_EOF) break;
    if (code < 0) return path + ": " + AvError(code);
    if (packet->stream_index != index) continue;
    // The demuxer's skip marks: the encoder delay (LAME tag: encoder delay +
    // the decoder's 529) on the first packet, the padding on the last.
    std::size_t size = 0;
    const std::uint8_t* skip = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
    if (first) {
      if (skip && size >= 4) {
        music.encoderDelay = AV_RL32(skip);
      } else if (stream->start_time != AV_NOPTS_VALUE && stream->start_time > 0) {
        music.encoderDelay = av_rescale_q(stream->start_time, stream->time_base, samples);
      }
      first = false;
    }
    if (skip && size >= 8 && AV_RL32(skip + 4) > 0) music.endPadding = AV_RL32(skip + 4);
    const std::int64_t start = packet->pts != AV_NOPTS_VALUE ? av_rescale_q(packet->pts, stream->time_base, samples)
                                                             : music.end;
    const std::int64_t duration = av_rescale_q(packet->duration, stream->time_base, samples);
    if (duration <= 0 || (!music.starts.empty() && start < music.starts.back()))
      return path + ": packets without duration or out of order";
    if (static_cast<std::int64_t>(music.packets.size()) >= MaxMusicPackets) return path + ": too long";
    av_packet_free_side_data(packet.get());  // the cut below replaces the skip marks
    music.starts.push_back(start);
    music.end = start + duration;
    music.packets.push_back(std::move(packet));
  }
  if (music.packets.empty()) return path + ": no audio packets";
  return {};
}

}  // namespace

struct VideoFile {
  VideoSettings settings;
  OutputFile out;
  AVFormatContext* format = nullptr;  // with pb open on the output
  std::unique_ptr<AVCodecContext, CodecFree> encoder;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;  // none when the music ends before the first frame
  std::unique_ptr<SwsContext, ScalerFree> scaler;
  std::unique_ptr<AVFrame, FrameFree> picture;
  PacketPtr packet;
  Music music;
  AudioCut cut;
  std::size_t nextAudio = 0;   // next music packet to write
  std::int64_t framesWritten = 0;
  bool readerGone = false;     // a write found the pipe closed by its reader
};

void VideoFileCloser::operator()(VideoFile* file) const {
  if (file->format) {
    if (file->format->pb) avio_closep(&file->format->pb);
    avformat_free_context(file->format);
  }
  DiscardOutput(file->out);
  delete file;
}

namespace {

// A failed write of the output: the name and the system's reason.
std::string WriteFailure(VideoFile& f, int code) {
  if (code == AVERROR(EPIPE)) f.readerGone = true;
  return f.settings.path + ": cannot be written (" + AvError(code) + ")";
}

// Write the music's packets whose time is before `until` (seconds of video
// time). Their timestamps count from the first packet copied, minus the
// samples the player drops, so the first sample heard is at 0.
bool WriteAudioUntil(VideoFile& f, double until, std::string& error) {
  if (!f.audio) return true;
  const AVRational samples{1, f.music.sampleRate};
  const std::int64_t origin = f.music.starts[f.cut.firstPacket] + f.cut.skipSamples;
  while (f.nextAudio < f.cut.endPacket) {
    const std::int64_t pts = f.music.starts[f.nextAudio] - origin;
    if (double(pts) / f.music.sampleRate > until) break;
    AVPacket* source = f.music.packets[f.nextAudio].get();
    PacketPtr packet(av_packet_clone(source));
    if (!packet) {
      error = "out of memory";
      return false;
    }
    packet->pts = packet->dts = pts;
    packet->duration = av_rescale_q(source->duration, f.music.input->streams[source->stream_index]->time_base, samples);
    packet->stream_index = f.audio->index;
    packet->pos = -1;
    av_packet_rescale_ts(packet.get(), samples, f.audio->time_base);
    if (int code = av_interleaved_write_frame(f.format, packet.get()); code < 0) {
      error = WriteFailure(f, code);
      return false;
    }
    ++f.nextAudio;
  }
  return true;
}

// Take every packet the encoder has ready and write it, with the audio up
// to its time.
bool DrainEncoder(VideoFile& f, std::string& error) {
  for (;;) {
    const int code = avcodec_receive_packet(f.encoder.get(), f.packet.get());
    if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
    if (code < 0) {
      error = "H.264 encoder: " + AvError(code);
      return false;
    }
    av_packet_rescale_ts(f.packet.get(), f.encoder->time_base, f.video->time_base);
    f.packet->stream_index = f.video->index;
    const double time = f.packet->dts * av_q2d(f.video->time_base);
    if (!WriteAudioUntil(f, time + AudioLeadSeconds, error)) return false;
    if (int written = av_interleaved_write_frame(f.format, f.packet.get()); written < 0) {
      error = WriteFailure(f, written);
      return false;
    }
  }
}

std::string OpenEncoder(VideoFile& f) {
  const VideoSettings& s = f.settings;
  const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
  if (!codec) return "this FFmpeg has no libx264 encoder (Debian's libavcodec59 has it)";
  f.encoder.reset(avcodec_alloc_context3(codec));
  if (!f.encoder) return "out of memory";
  AVCodecContext* c = f.encoder.get();
  c->width = s.width;
  c->height = s.height;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{static_cast<int>(s.rate.den), static_cast<int>(s.rate.num)};
  c->framerate = AVRational{static_cast<int>(s.rate.num), static_cast<int>(s.rate.den)};
  c->gop_size = static_cast<int>(KeyframeSeconds * s.rate.num / s.rate.den);
  c->color_range = AVCOL_RANGE_MPEG;
  c->colorspace = AVCOL_SPC_BT709;
  c->color_primaries = AVCOL_PRI_BT709;
  c->color_trc = AVCOL_TRC_IEC61966_2_1;  // the frames are sRGB-coded, as the screen shows them
  if (f.format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "preset", X264Preset, 0);
  av_dict_set(&options, "crf", X264Crf, 0);
  const int code = avcodec_open2(c, codec, &options);
  av_dict_free(&options);
  if (code < 0) return "cannot open the H.264 encoder: " + AvError(code);

  f.video = avformat_new_stream(f.format, nullptr);
  if (!f.video) return "out of memory";
  if (int copied = avcodec_parameters_from_context(f.video->codecpar, c); copied < 0) return AvError(copied);
  f.video->time_base = c->time_base;
  f.video->avg_frame_rate = c->framerate;
  f.video->r_frame_rate = c->framerate;

  // RGBA (full range) to BT.709 limited-range 4:2:0; the rows are flipped by
  // handing the scaler the last row first with a negative stride. Area
  // averaging for the chroma: a true 2 x 2 mean, and faster than bilinear.
  f.scaler.reset(sws_getContext(s.width, s.height, AV_PIX_FMT_RGBA, s.width, s.height, AV_PIX_FMT_YUV420P,
                                SWS_AREA, nullptr, nullptr, nullptr));
  if (!f.scaler) return "cannot set up the RGBA to YUV conversion";
  sws_setColorspaceDetails(f.scaler.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709),
                           0, 0, 1 << 16, 1 << 16);
  f.picture.reset(av_frame_alloc());
  f.packet.reset(av_packet_alloc());
  if (!f.picture || !f.packet) return "out of memory";
  f.picture->format = AV_PIX_FMT_YUV420P;
  f.picture->width = s.width;
  f.picture->height = s.height;
  f.picture->color_range = c->color_range;
  f.picture->colorspace = c->colorspace;
  f.picture->color_primaries = c->color_primaries;
  f.picture->color_trc = c->color_trc;
  if (int allocated = av_frame_get_buffer(f.picture.get(), 0); allocated < 0) return AvError(allocated);
  return {};
}

std::string OpenAudio(VideoFile& f, std::string& warning) {
  const VideoSettings& s = f.settings;
  Music& m = f.music;
  // Music sample under the first frame, and the video's length, in samples.
  const std::int64_t startSample = av_rescale_rnd(s.firstFrame, m.sampleRate * s.rate.den, s.rate.num, AV_ROUND_NEAR_INF);
  const std::int64_t length = av_rescale_rnd(s.frameCount, m.sampleRate * s.rate.den, s.rate.num, AV_ROUND_NEAR_INF);
  const MusicLength music = m.Length();
  const std::int64_t halfPacket = (m.end - m.starts.front()) / std::int64_t(m.starts.size()) / 2;
  warning = MusicWarning(s.musicFile, music, m.sampleRate, startSample, startSample + length, halfPacket);
  if (music.held <= startSample) return {};  // no sound under any frame: no audio stream
  f.cut = CutAudio(m.starts, m.end, m.encoderDelay, startSample, length);
  f.nextAudio = f.cut.firstPacket;

  f.audio = avformat_new_stream(f.format, nullptr);
  if (!f.audio) return "out of memory";
  if (int code = avcodec_parameters_copy(f.audio->codecpar, m.parameters); code < 0) return AvError(code);
  f.audio->codecpar->codec_tag = 0;  // the container picks its own
  f.audio->time_base = AVRational{1, m.sampleRate};
  return {};
}

// The output's byte stream: a temporary written by name (MP4's second pass
// for faststart reads it back by that name), or a device or pipe written
// through its descriptor as it goes.
std::string OpenOutputStream(VideoFile& f) {
  const VideoSettings& s = f.settings;
  if (std::string reason = OpenOutput(s.path, s.others, f.out); !reason.empty()) return reason;
  const bool inPlace = f.out.temporary.empty();
  if (inPlace && s.format == VideoFormat::Mp4) return s.path + ": MP4 cannot be written to a device or pipe";
  const std::string url = inPlace ? "pipe:" + std::to_string(f.out.fd) : "file:" + f.out.temporary;
  av_freep(&f.format->url);
  f.format->url = av_strdup(url.c_str());
  if (!f.format->url) return "out of memory";
  if (int code = avio_open(&f.format->pb, url.c_str(), AVIO_FLAG_WRITE); code < 0)
    return s.path + ": cannot be opened for writing (" + AvError(code) + ")";
  return {};
}

}  // namespace

VideoFileHandle OpenVideoFile(const VideoSettings& settings, std::string& error, std::string& warning) {
  VideoFileHandle handle(new VideoFile);
  VideoFile& f = *handle;
  f.settings = settings;
  // The music's failures are told by us alone; the encoder's and muxer's
  // errors are left for FFmpeg to detail, its statistics are not shown.
  av_log_set_level(AV_LOG_QUIET);
  const std::string musicError = ReadMusic(settings.musicFile, f.music);
  av_log_set_level(AV_LOG_ERROR);
  if (!musicError.empty()) {
    error = "cannot read the music " + musicError;
    return nullptr;
  }
  const char* container = settings.format == VideoFormat::Mp4 ? "mp4" : "matroska";
  if (int code = avformat_alloc_output_context2(&f.format, nullptr, container, nullptr); code < 0) {
    error = "cannot make " + settings.path + ": " + AvError(code);
    return nullptr;
  }
  if (std::string reason = OpenEncoder(f); !reason.empty()) {
    error = reason;
    return nullptr;
  }
  if (std::string reason = OpenAudio(f, warning); !reason.empty()) {
    error = reason;
    return nullptr;
  }
  if (std::string reason = OpenOutputStream(f); !reason.empty()) {
    error = reason;
    return nullptr;
  }
  AVDictionary* options = nullptr;
  // MP4: index at the front, so players can start before the whole file is read.
  if (settings.format == VideoFormat::Mp4) av_dict_set(&options, "movflags", "+faststart", 0);
  const int code = avformat_write_header(f.format, &options);
  av_dict_free(&options);
  if (code < 0) {
    error = WriteFailure(f, code);
    return nullptr;
  }
  return handle;
}

bool WriteVideoFrame(VideoFile& f, const std::uint8_t* rgba, std::string& error) {
  if (int code = av_frame_make_writable(f.picture.get()); code < 0) {
    error = AvError(code);
    return false;
  }
  const int stride = f.settings.width * 4;
  const std::uint8_t* lastRow = rgba + static_cast<std::size_t>(stride) * (f.settings.height - 1);
  const int strides[1] = {-stride};
  sws_scale(f.scaler.get(), &lastRow, strides, 0, f.settings.height, f.picture->data, f.picture->linesize);
  f.picture->pts = f.framesWritten++;
  if (int code = avcodec_send_frame(f.encoder.get(), f.picture.get()); code < 0) {
    error = "H.264 encoder: " + AvError(code);
    return false;
  }
  return DrainEncoder(f, error);
}

bool FinishVideoFile(VideoFile& f, std::string& error) {
  if (int code = avcodec_send_frame(f.encoder.get(), nullptr); code < 0) {
    error = "H.264 encoder: " + AvError(code);
    return false;
  }
  if (!DrainEncoder(f, error)) return false;
  if (!WriteAudioUntil(f, 1e30, error)) return false;
  if (int code = av_write_trailer(f.format); code < 0) {
    error = WriteFailure(f, code);
    return false;
  }
  if (int code = avio_closep(&f.format->pb); code < 0) {
    error = WriteFailure(f, code);
    return false;
  }
  return true;
}

OutputFile& VideoOutput(VideoFile& f) { return f.out; }

bool VideoReaderGone(const VideoFile& f) { return f.readerGone; }

std::string DescribeAudio(const VideoFile& f) {
  if (!f.audio) return "audio: none (the music ends before the first frame)";
  const AudioCut& cut = f.cut;
  const std::int64_t dropped = cut.skipSamples - f.music.encoderDelay;
  char text[256];
  std::snprintf(text, sizeof text,
                "audio: MP3 packets %zu ... %zu copied; the player drops %lld decoded samples (encoder delay %lld%s)",
                cut.firstPacket, cut.endPacket - 1, static_cast<long long>(cut.skipSamples),
                static_cast<long long>(f.music.encoderDelay),
                dropped == 0 ? "" : (" + " + std::to_string(dropped) + " before the first frame").c_str());
  return text;
}
