// Cancelling a decode: from another thread or a signal handler, at any
// moment, the decode returns HwlCancelled within milliseconds; an unset flag
// changes nothing.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "hwl_test_writer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// Processor time the decoding thread may spend after the flag is set (wall
// time depends on the machine's load too, so it is only shown).
#if defined(__SANITIZE_ADDRESS__)
constexpr double StopLimitMs = 100;  // everything runs some ten times slower
constexpr int BusySide = 512;
#else
constexpr double StopLimitMs = 10;
constexpr int BusySide = 1024;
#endif

// A colour file whose every stage has work: random coefficients, a third of
// them zero, in runs and alone.
Bytes BusyFile(int side) {
  std::mt19937 rng(11);
  testhwl::File f;
  f.width = f.height = side;
  f.bitsPerPixel = 24;
  f.levels = 3;
  for (int p = 0; p < 3; ++p) {
    testhwl::Plane plane;
    plane.scales = {1.5, 0.75, 0.5, 0.25, 0.125};
    std::vector<int> c(std::size_t(side) * side);
    for (int& v : c) v = rng() % 3 == 0 ? 0 : int(rng() % 511) - 255;
    testhwl::CodeCoefficients(c, 8, plane, &rng);
    f.planes.push_back(std::move(plane));
  }
  return testhwl::Write(f);
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuMs(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

TEST(HwlCancel, AFlagSetBeforehandStopsTheLoaderAndAnUnsetOneChangesNothing) {
  const Bytes file = BusyFile(64);
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "hwl_cancel_test.hwl";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  Bytes expected, got;
  HwlHeader header;
  for (const bool set : {true, false}) {
    const std::atomic<bool> cancel{set};
    const HwlStatus s = LoadHwlImage(got, header, path.string(), true, {.cancel = &cancel});
    EXPECT_EQ(s.code, set ? HwlCancelled : HwlOk);
    EXPECT_EQ(s.message, set ? path.string() + ": decoding cancelled" : "");
  }
  ASSERT_TRUE(DecodeHwlImage(file, expected, header, "busy.hwl", true));
  EXPECT_EQ(got, expected);
  std::filesystem::remove(path);
}

// The flag is set at moments spread over a whole decode, so that it lands in
// every stage (checking the file, expanding, dequantising, each synthesis
// step, on one thread and on two).
TEST(HwlCancel, StopsWithinMillisecondsWheneverTheFlagIsSet) {
  const Bytes file = BusyFile(BusySide);
  for (const int threads : {1, 2}) {
    Bytes pixels;
    HwlHeader header;
    const Clock::time_point start = Clock::now();
    ASSERT_TRUE(DecodeHwlImage(file, pixels, header, "busy", true, threads));
    const double whole = Ms(Clock::now() - start);
    double worstWall = 0, worstCpu = 0;
    int cancelled = 0;
    constexpr int Moments = 10;
    for (int i = 0; i < Moments; ++i) {
      std::atomic<bool> cancel{false};
      HwlStatus status;
      Clock::time_point done;
      double doneCpu = 0;
      std::thread decoder([&] {
        status = DecodeHwlImage(file, pixels, header, "busy", true, threads, {.cancel = &cancel});
        doneCpu = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        done = Clock::now();
      });
      clockid_t decoderClock{};
      ASSERT_EQ(pthread_getcpuclockid(decoder.native_handle(), &decoderClock), 0);
      std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(whole * i / Moments));
      const double setCpu = CpuMs(decoderClock);
      const Clock::time_point set = Clock::now();
      cancel = true;
      decoder.join();
      if (status) continue;  // finished first
      EXPECT_EQ(status.code, HwlCancelled);
      ++cancelled;
      worstWall = std::max(worstWall, Ms(done - set));
      worstCpu = std::max(worstCpu, doneCpu - setCpu);
    }
    std::printf("%d thread(s): decode %.1f ms, %d of %d cancelled, slowest stop %.2f ms (%.2f ms of processor time)\n",
                threads, whole, cancelled, Moments, worstWall, worstCpu);
    EXPECT_GE(cancelled, Moments / 2);
    EXPECT_LE(worstCpu, StopLimitMs);
  }
}

std::atomic<bool> AlarmCancel{false};
extern "C" void OnAlarm(int) { AlarmCancel = true; }

TEST(HwlCancel, ASignalHandlerCanSetTheFlag) {
  const Bytes file = BusyFile(BusySide / 2);
  struct sigaction action {}, old {};
  action.sa_handler = OnAlarm;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
  itimerval timer{};
  timer.it_value.tv_usec = 20000;
  ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
  Bytes pixels;
  HwlHeader header;
  // Decoded again and again until the alarm comes.
  HwlStatus status;
  for (int i = 0; i < 100 && status; ++i)
    status = DecodeHwlImage(file, pixels, header, "busy", true, {.cancel = &AlarmCancel});
  sigaction(SIGALRM, &old, nullptr);
  EXPECT_EQ(status.code, HwlCancelled);
}

}  // namespace
