#include "video_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <vector>

#include "audio_cut.h"
#include "capture_files.h"

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
};

std::string ReadMusic(const std::string& path, Music& music) {
  AVFormatContext* input = nullptr;
  if (int code = avformat_open_input(&input, path.c_str(), nullptr, nullptr); code < 0)
    return path + ": " + AvError(code);
  music.input.reset(input);
  if (int code = avformat_find_stream_info(input, nullptr); code < 0) return path + ": " + AvError(code);
  const int index = av_find_best_stream(input, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index < 0) return path + ": no audio stream";
  const AVStream* stream = input->streams[index];
  music.parameters = stream->codecpar;
  music.sampleRate = stream->codecpar->sample_rate;
  if (music.sampleRate <= 0) return path + ": no sample rate";
  const AVRational samples{1, music.sampleRate};

  bool first = true;
  for (;;) {
    PacketPtr packet(av_packet_alloc());
    if (!packet) return "out of memory";
    const int code = av_read_frame(input, packet.get());
    if (code == AVERROR_EOF) break;
    if (code < 0) return path + ": " + AvError(code);
    if (packet->stream_index != index) continue;
    if (first) {
      // The demuxer's encoder delay (LAME tag: encoder delay + the decoder's 529).
      std::size_t size = 0;
      const std::uint8_t* skip = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
      if (skip && size >= 4) {
        music.encoderDelay = AV_RL32(skip);
      } else if (stream->start_time != AV_NOPTS_VALUE && stream->start_time > 0) {
        music.encoderDelay = av_rescale_q(stream->start_time, stream->time_base, samples);
      }
      first = false;
    }
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
  std::string temp;
  bool committed = false;
  AVFormatContext* format = nullptr;  // with pb open on temp
  std::unique_ptr<AVCodecContext, CodecFree> encoder;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  std::unique_ptr<SwsContext, ScalerFree> scaler;
  std::unique_ptr<AVFrame, FrameFree> picture;
  PacketPtr packet;
  Music music;
  AudioCut cut;
  std::size_t nextAudio = 0;   // next music packet to write
  std::int64_t framesWritten = 0;
};

void VideoFileCloser::operator()(VideoFile* file) const {
  if (file->format) {
    if (file->format->pb) avio_closep(&file->format->pb);
    avformat_free_context(file->format);
  }
  if (!file->committed && !file->temp.empty()) std::remove(file->temp.c_str());
  delete file;
}

namespace {

// Write the music's packets whose time is before `until` (seconds of video
// time). Their timestamps count from the first packet copied, minus the
// samples the player drops, so the first sample heard is at 0.
bool WriteAudioUntil(VideoFile& f, double until, std::string& error) {
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
      error = "cannot write " + f.settings.path + ": " + AvError(code);
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
      error = "cannot write " + f.settings.path + ": " + AvError(written);
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

std::string OpenAudio(VideoFile& f) {
  const VideoSettings& s = f.settings;
  Music& m = f.music;
  // Music sample under the first frame, and the video's length, in samples.
  const std::int64_t startSample = av_rescale_rnd(s.firstFrame, m.sampleRate * s.rate.den, s.rate.num, AV_ROUND_NEAR_INF);
  const std::int64_t length = av_rescale_rnd(s.frameCount, m.sampleRate * s.rate.den, s.rate.num, AV_ROUND_NEAR_INF);
  f.cut = CutAudio(m.starts, m.end, m.encoderDelay, startSample, length);
  f.nextAudio = f.cut.firstPacket;

  f.audio = avformat_new_stream(f.format, nullptr);
  if (!f.audio) return "out of memory";
  if (int code = avcodec_parameters_copy(f.audio->codecpar, m.parameters); code < 0) return AvError(code);
  f.audio->codecpar->codec_tag = 0;  // the container picks its own
  f.audio->time_base = AVRational{1, m.sampleRate};
  return {};
}

}  // namespace

VideoFileHandle OpenVideoFile(const VideoSettings& settings, std::string& error) {
  VideoFileHandle handle(new VideoFile);
  VideoFile& f = *handle;
  f.settings = settings;
  av_log_set_level(AV_LOG_ERROR);  // no encoder statistics; failures are reported by us
  if (std::string reason = ReadMusic(settings.musicFile, f.music); !reason.empty()) {
    error = "cannot read the music " + reason;
    return nullptr;
  }
  if (int code = avformat_alloc_output_context2(&f.format, nullptr, nullptr, settings.path.c_str()); code < 0) {
    error = "cannot make " + settings.path + ": " + AvError(code);
    return nullptr;
  }
  if (std::string reason = OpenEncoder(f); !reason.empty()) {
    error = reason;
    return nullptr;
  }
  if (std::string reason = OpenAudio(f); !reason.empty()) {
    error = reason;
    return nullptr;
  }
  f.temp = PartialPath(settings.path);
  // The muxer reopens its file by this name (MP4's second pass for faststart).
  av_freep(&f.format->url);
  f.format->url = av_strdup(f.temp.c_str());
  if (!f.format->url) {
    error = "out of memory";
    return nullptr;
  }
  if (int code = avio_open(&f.format->pb, f.temp.c_str(), AVIO_FLAG_WRITE); code < 0) {
    f.temp.clear();  // nothing was created
    error = "cannot write " + settings.path + ": " + AvError(code) + " (in " + FolderOf(settings.path) + ")";
    return nullptr;
  }
  AVDictionary* options = nullptr;
  // MP4: index at the front, so players can start before the whole file is read.
  if (std::string(f.format->oformat->name).find("mp4") != std::string::npos)
    av_dict_set(&options, "movflags", "+faststart", 0);
  const int code = avformat_write_header(f.format, &options);
  av_dict_free(&options);
  if (code < 0) {
    error = "cannot write " + settings.path + ": " + AvError(code);
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

bool CommitVideoFile(VideoFile& f, std::string& error) {
  if (int code = avcodec_send_frame(f.encoder.get(), nullptr); code < 0) {
    error = "H.264 encoder: " + AvError(code);
    return false;
  }
  if (!DrainEncoder(f, error)) return false;
  if (!WriteAudioUntil(f, 1e30, error)) return false;
  if (int code = av_write_trailer(f.format); code < 0) {
    error = "cannot write " + f.settings.path + ": " + AvError(code);
    return false;
  }
  if (int code = avio_closep(&f.format->pb); code < 0) {
    error = "cannot write " + f.settings.path + ": " + AvError(code);
    return false;
  }
  if (std::rename(f.temp.c_str(), f.settings.path.c_str()) != 0) {
    error = "cannot rename " + f.temp + " to " + f.settings.path;
    return false;
  }
  f.committed = true;
  return true;
}

std::string DescribeAudio(const VideoFile& f) {
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
