// The loader: reads a file, checks its header and tables, then decodes plane by
// plane (each plane's streams checked as they expand) into the caller's pixel
// buffer.
#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <new>
#include <thread>

#include "hwl_decode.h"
#include "hwl_threads.h"
#include "hwl_precision.h"

namespace {

// Files are read in pieces of at least this size; the buffer grows only as
// bytes arrive, so a header that announces gigabytes costs nothing unless
// the bytes are really there.
constexpr std::size_t ReadChunk = std::size_t{1} << 16;
// And of at most this size, a few milliseconds of reading, so that a
// cancelled load stops between two reads.
constexpr std::size_t MaxReadChunk = std::size_t{1} << 22;

HwlStatus Cancelled(const std::string& name) { return HwlError(HwlCancelled, name, "decoding cancelled"); }

// A decode's working memory: the plane of coefficients, for colour the
// bytes of the red and green planes until the blue one joins them into the
// pixels' words, and the synthesis's.
struct Workspace {
  HwlBuffer<std::int16_t> coefficients;
  HwlBuffer<std::uint8_t> firstPlanes;
  HwlSynthesisMemory synthesis;
  std::size_t Bytes() const { return coefficients.Bytes() + firstPlanes.Bytes() + synthesis.Bytes(); }
};

// Each thread keeps its working memory for its next decode, up to this
// size (a 2048 x 2048 colour picture's is about 26 MiB): fresh memory costs
// a page fault per 4 KiB, some 20 % of a large picture's decode, and a
// program decodes its pictures many at a time (the show fourteen of one
// size on each of its two loading threads). It goes when the thread ends.
constexpr std::size_t KeptWorkspaceBytes = std::size_t{32} << 20;
thread_local Workspace KeptWorkspace;

// Lends the thread's kept workspace to one decode and takes it back after,
// unless it has grown past KeptWorkspaceBytes.
struct BorrowedWorkspace {
  Workspace work = std::move(KeptWorkspace);
  BorrowedWorkspace() = default;
  BorrowedWorkspace(const BorrowedWorkspace&) = delete;
  BorrowedWorkspace& operator=(const BorrowedWorkspace&) = delete;
  ~BorrowedWorkspace() {
    if (work.Bytes() <= KeptWorkspaceBytes) KeptWorkspace = std::move(work);
  }
};

}  // namespace

std::uint8_t SampleToByte(double sample) {
  // Clamped without branches (NaN, which a checked file cannot produce, gives
  // 0); then adding 2^52 rounds to an integer, ties to even (the default
  // rounding mode), and the subtraction is exact.
  constexpr double Shift = 0x1p52;
  const double clamped = sample > 0 ? (sample < 255 ? sample : 255.0) : 0.0;
  return static_cast<std::uint8_t>(static_cast<int>((clamped + Shift) - Shift));
}

int HwlThreadCount(int requested) {
  if (requested > 0) return std::min(requested, HwlMaxThreads);
  const int cores = int(std::thread::hardware_concurrency());
  return std::clamp(cores, 1, HwlMaxThreads);
}

HwlStatus DecodeHwlImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& pixels,
                         HwlHeader& header, const std::string& name, bool allocate,
                         const HwlDecodeOptions& options) {
  return DecodeHwlImage(file, pixels, header, name, allocate, 0, options);
}

HwlStatus DecodeHwlImage(std::span<const std::uint8_t> file, std::vector<std::uint8_t>& pixels,
                         HwlHeader& header, const std::string& name, bool allocate, int threads,
                         const HwlDecodeOptions& options) {
  const HwlExtendedPrecision precision;
  if (file.size() < HwlHeaderSize) return HwlError(HwlReadPastEnd, name, "file ends inside the 34-byte header");
  const HwlHeader h = ParseHwlHeader(file);
  header = h;
  const int planes = HwlPlaneCount(h);
  if (planes == 0) return {};
  if (HwlStatus s = CheckHwlHeader(h, name); !s) return s;
  if (HwlStatus s = CheckHwlPixelLimit(h.width, h.height, options.maxPixels, name); !s) return s;
  HwlBody body;
  if (HwlStatus s = LocateCoefficientPlanes(file, h, name, body); !s) return s;

  // Each plane's streams are checked by their expansion, before the plane is
  // synthesised; the caller's pixels are written only by the last plane's
  // synthesis, so a file that is not well formed, an allocation that fails
  // or a cancel leaves them alone.
  const std::size_t count = std::size_t{h.width} * h.height;
  const std::size_t bytes = count * (planes == 1 ? 1 : 4);
  // A symbol describes at most 2^valueBits coefficients (a run). Streams too
  // short to describe their plane are reported before anything of the
  // image's size is allocated, by the check of the whole file (which names
  // the first plane at fault, as the expansions would).
  const auto tooShort = [&](const HwlPlaneStreams& s) { return (std::uint64_t{s.symbolCount} << h.valueBits) < count; };
  if (std::any_of(body.streams.begin(), body.streams.begin() + planes, tooShort))
    for (int p = 0; p < planes; ++p)
      if (HwlStatus s = CheckPlaneStreams(body, h, p, name, options.cancel); !s) return s;
  // Left uninitialised: checked streams describe every coefficient.
  const int threadCount = HwlThreadCount(threads);
  const int parts = PartsFor(count, threadCount);
  BorrowedWorkspace borrowed;
  Workspace& work = borrowed.work;
  const auto outOfMemory = [&] {
    return HwlError(HwlOutOfMemory, name, "not enough memory for a " + std::to_string(h.width) + " x " +
                                              std::to_string(h.height) + " image");
  };
  try {
    work.coefficients.Fit(count);
    if (planes == 3) work.firstPlanes.Fit(2 * count);
    PrepareSynthesis(work.synthesis, h.width, h.height, h.levels, parts);
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
  const std::span<std::int16_t> plane(work.coefficients.data.get(), count);
  HwlTeam team(parts);
  team.cancel = options.cancel;
  for (int p = 0; p < planes; ++p) {
    // Each part of the symbol stream expands into its own range of the plane.
    const HwlPlaneStreams& streams = body.streams[p];
    std::array<HwlStreamCursor, HwlMaxThreads + 1> cursor{};
    for (int part = 1; part < parts; ++part)
      cursor[part] = AdvanceCursor(streams, h.valueBits, cursor[part - 1],
                                   std::uint32_t(PartOf(streams.symbolCount / 4, part, parts).first * 4),
                                   options.cancel);
    cursor[parts] = {streams.symbolCount, streams.valueCount, count};
    if (team.Cancelled()) return Cancelled(name);
    std::array<HwlExpansion, HwlMaxThreads> expanded{};
    team.Run(parts, [&](int part) {
      const std::uint32_t end = part + 1 < parts ? cursor[part + 1].symbol : streams.symbolCount;
      expanded[part] = ExpandCoefficients(streams, h.valueBits, count, plane, cursor[part], end, options.cancel);
    });
    if (team.Cancelled()) return Cancelled(name);
    // Well formed streams take each part exactly to where the next one
    // begins, and the last to the end of the plane and of both streams.
    // Anything else is expanded again in one piece, which reports what is
    // wrong (or, were the parts to miss each other on well formed streams,
    // makes the plane).
    bool exact = true;
    for (int part = 0; part < parts; ++part) {
      const HwlExpansion& e = expanded[part];
      const HwlStreamCursor& next = cursor[part + 1];
      exact = exact && !e.valueMissing && !e.runOverflow && e.symbolsUsed == next.symbol &&
              e.valuesUsed == next.value && e.coefficients == next.position;
    }
    if (!exact) {
      const HwlExpansion whole = ExpandCoefficients(streams, h.valueBits, count, plane, options.cancel);
      if (HwlStatus s = PlaneStreamsStatus(whole, body, h, p, name); !s) return s;
    }
    // The file is known to be well formed once the last plane is expanded.
    if (p == planes - 1 && !allocate && pixels.size() < bytes)
      return HwlError(HwlBufferTooSmall, name,
                      "pixel buffer holds " + std::to_string(pixels.size()) + " bytes, the image needs " +
                          std::to_string(bytes));
    if (p == planes - 1 && allocate) {
      try {
        pixels.resize(bytes);
      } catch (const std::bad_alloc&) {
        return outOfMemory();
      }
    }
    HwlPlaneValues values;
    values.coefficients = plane.data();
    for (int i = 0; i <= h.levels + 1; ++i) values.factors[i] = HwlBandFactor(body.bandScales[p][i]);
    // Planes red, green, blue: bytes 2, 1, 0 of the words.
    HwlPixelRows rows{pixels.data()};
    std::uint8_t* const firstPlanes = work.firstPlanes.data.get();
    if (planes == 3 && p < 2) rows = {firstPlanes + p * count};
    if (planes == 3 && p == 2) rows = {pixels.data(), firstPlanes + count, firstPlanes};
    SynthesisePlane(values, h.width, h.height, h.levels, work.synthesis, team, rows);
    if (team.Cancelled()) return Cancelled(name);
  }
  return {};
}

HwlStatus LoadHwlImage(std::vector<std::uint8_t>& pixels, HwlHeader& header, const std::string& fileName,
                       bool allocate, const HwlDecodeOptions& options) {
  const HwlExtendedPrecision precision;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(fileName.c_str(), "rb"), std::fclose);
  if (!file) return HwlSystemError(HwlFileNotFound, fileName, "cannot be opened");
  std::vector<std::uint8_t> bytes(HwlHeaderSize);
  std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
  // Read only as far as the header announces (a longer file's tail is never
  // looked at); a header that fails its checks or the pixel limit needs
  // nothing more.
  std::uint64_t wanted = HwlHeaderSize;
  if (got == HwlHeaderSize) {
    const HwlHeader h = ParseHwlHeader(bytes);
    if (HwlPlaneCount(h) != 0 && CheckHwlHeader(h, fileName) &&
        CheckHwlPixelLimit(h.width, h.height, options.maxPixels, fileName))
      wanted = HwlAnnouncedSize(h);
  }
  // Where the file's length can be learnt, hold exactly the bytes needed.
  if (wanted > HwlHeaderSize && std::fseek(file.get(), 0, SEEK_END) == 0) {
    const long end = std::ftell(file.get());
    if (std::fseek(file.get(), long(HwlHeaderSize), SEEK_SET) != 0)
      return HwlSystemError(HwlFileNotFound, fileName, "cannot be read");
    if (end > 0) {
      try {
        bytes.reserve(std::size_t(std::min<std::uint64_t>(wanted, std::uint64_t(end))));
      } catch (const std::bad_alloc&) {
        return HwlError(HwlOutOfMemory, fileName, "not enough memory to read the file");
      }
    }
  }
  while (got == bytes.size() && got < wanted) {
    if (HwlCancelRequested(options.cancel)) return Cancelled(fileName);
    const std::size_t chunk = std::size_t(std::min<std::uint64_t>(
        {wanted - got, std::max({got, ReadChunk, bytes.capacity() - got}), MaxReadChunk}));
    try {
      bytes.resize(got + chunk);
    } catch (const std::bad_alloc&) {
      return HwlError(HwlOutOfMemory, fileName, "not enough memory to read the file");
    }
    got += std::fread(bytes.data() + got, 1, chunk, file.get());
  }
  if (std::ferror(file.get())) return HwlSystemError(HwlFileNotFound, fileName, "cannot be read");
  bytes.resize(got);
  return DecodeHwlImage(bytes, pixels, header, fileName, allocate, options);
}
