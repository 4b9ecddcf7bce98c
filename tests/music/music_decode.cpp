#include "music_decode.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>

namespace {
struct HandleCloser {
  void operator()(mpg123_handle* h) const {
    mpg123_close(h);
    mpg123_delete(h);
  }
};
}  // namespace

DecodedTrack DecodeMp3File(const std::string& path) {
  DecodedTrack out;
  int err = MPG123_OK;
  std::unique_ptr<mpg123_handle, HandleCloser> h(mpg123_new(nullptr, &err));
  if (!h) {
    out.error = "mpg123_new failed";
    return out;
  }
  mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0);
  // Accept whatever rate and channel count the file has, always as 16-bit.
  mpg123_format_none(h.get());
  const long* rates = nullptr;
  std::size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  for (std::size_t i = 0; i < rateCount; ++i)
    mpg123_format(h.get(), rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  if (mpg123_open(h.get(), path.c_str()) != MPG123_OK) {
    out.error = "cannot open " + path + ": " + mpg123_strerror(h.get());
    return out;
  }
  int encoding = 0;
  if (mpg123_getformat(h.get(), &out.rate, &out.channels, &encoding) != MPG123_OK) {
    out.error = std::string("no format: ") + mpg123_strerror(h.get());
    return out;
  }
  std::vector<unsigned char> buffer(1 << 16);
  for (;;) {
    std::size_t done = 0;
    const int result = mpg123_read(h.get(), buffer.data(), buffer.size(), &done);
    const auto* samples = reinterpret_cast<const std::int16_t*>(buffer.data());
    out.pcm.insert(out.pcm.end(), samples, samples + done / sizeof(std::int16_t));
    if (result == MPG123_DONE) break;
    if (result != MPG123_OK && result != MPG123_NEW_FORMAT) {
      out.error = std::string("decoding failed: ") + mpg123_strerror(h.get());
      return out;
    }
  }
  out.ok = true;
  return out;
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double PeakDb(const std::vector<std::int16_t>& pcm, std::size_t first, std::size_t last) {
  last = std::min(last, pcm.size());
  int peak = 0;
  for (std::size_t i = first; i < last; ++i) peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
  return 20.0 * std::log10(std::max(peak, 1) / 32768.0);
}

double RmsDb(const std::vector<std::int16_t>& pcm, std::size_t first, std::size_t last) {
  last = std::min(last, pcm.size());
  double sum = 0;
  for (std::size_t i = first; i < last; ++i) sum += static_cast<double>(pcm[i]) * pcm[i];
  const double mean = last > first ? sum / static_cast<double>(last - first) : 0.0;
  return 10.0 * std::log10(std::max(mean, 1e-3) / (32768.0 * 32768.0));
}
