// The pictures' loading bounds: reads that wait (a FIFO) give up on a stop,
// the show's pixel limit, the context's texture size, a stop at any moment.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "data_file.h"
#include "gl_recorder.h"
#include "hwl_files.h"
#include "image_textures.h"
#include "loading_screen.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Sets the flag after a while, from another thread.
struct LateStop {
  explicit LateStop(std::atomic<bool>& flag, int ms = 100)
      : thread([&flag, ms] {
          std::this_thread::sleep_for(std::chrono::milliseconds(ms));
          flag = true;
        }) {}
  std::jthread thread;
};

class DataFileRead : public ScratchDataDirectory {};

TEST_F(DataFileRead, AFifoIsWaitedForUntilItsWriterClosesOrAStop) {
  ASSERT_EQ(mkfifo("data/pipe", 0600), 0);
  std::atomic<bool> stop{false};
  std::uint8_t bytes[8] = {};
  std::size_t got = 99;
  {
    // No writer ever comes: opening does not wait, reading waits until the stop.
    DataFile file;
    ASSERT_EQ(OpenDataFile("data/pipe", &stop, file), DataFileResult::Done);
    const Clock::time_point start = Clock::now();
    LateStop late(stop);
    EXPECT_EQ(ReadDataFile(file, bytes, sizeof bytes, got), DataFileResult::Stopped);
    EXPECT_GE(SecondsSince(start), 0.09);
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(got, 0u);
  }
  {
    // A writer that comes late and writes in two pieces: all of it, then the end.
    stop = false;
    DataFile file;
    ASSERT_EQ(OpenDataFile("data/pipe", &stop, file), DataFileResult::Done);
    std::jthread writer([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::ofstream pipe("data/pipe", std::ios::binary);
      pipe << "abc" << std::flush;
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      pipe << "de";
    });
    EXPECT_EQ(ReadDataFile(file, bytes, sizeof bytes, got), DataFileResult::Done);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), got), "abcde");
  }
  {
    // A stop set before: nothing is opened.
    DataFile file;
    stop = true;
    EXPECT_EQ(OpenDataFile("data/pipe", &stop, file), DataFileResult::Stopped);
    EXPECT_EQ(OpenDataFile("data/no-such-file", nullptr, file), DataFileResult::Failed);
  }
}

class PictureLoading : public ScratchDataDirectory {
 protected:
  void SetUp() override {
    ScratchDataDirectory::SetUp();
    PictureLimits = {};
    BindGlRecorder();
  }
  void TearDown() override {
    PictureLimits = {};
    ScratchDataDirectory::TearDown();
  }
};

// A header claiming 4104 x 4104 (above the show's limit) followed by a few
// bytes: refused from the header, naming the file and the size.
TEST_F(PictureLoading, APictureAboveTheShowsLimitIsRefusedFromItsHeader) {
  std::vector<std::uint8_t> header(HwlHeaderSize + 64, 0);
  header[0] = 'H', header[1] = 'W', header[2] = 'L';
  header[3] = 4104 & 0xFF, header[4] = 4104 >> 8, header[5] = 4104 & 0xFF, header[6] = 4104 >> 8;
  header[7] = 24, header[8] = 1, header[33] = 8;
  std::ofstream("data/text_1.hwl", std::ios::binary)
      .write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
  ImageTexture record;
  const HwlStatus status = DecodePicture("data/text_1.hwl", record);
  EXPECT_EQ(status.code, HwlTooLarge);
  EXPECT_NE(status.message.find("data/text_1.hwl"), std::string::npos) << status.message;
  EXPECT_NE(status.message.find("4104 x 4104"), std::string::npos) << status.message;
  EXPECT_TRUE(record.pixels.empty());
  static_assert(ShowMaxPicturePixels < std::uint64_t{4104} * 4104);
}

// The show's pictures are 4, 8, 12... pixels wide; a context that takes 8 at
// most: the logo and text 1 are uploaded, text 2 is the error.
TEST_F(PictureLoading, APictureWiderThanTheContextsTexturesIsAnErrorNamingIt) {
  WriteAllShowPictures();
  WriteColourFile("loading.hwl", 8, 8, 1);
  PictureLimits.maxTextureSide = 8;
  ASSERT_TRUE(ShowLoadingScreen());
  const HwlStatus status = LoadImageTextures();
  EXPECT_EQ(status.code, 201);
  EXPECT_NE(status.message.find("text_2.hwl: the picture is 12 x 4 pixels; the largest texture this OpenGL takes is "
                                "8 x 8"),
            std::string::npos)
      << status.message;
  int uploads = 0;
  for (const GlCall& call : Recorder.calls) uploads += call.name == "glTexImage2D";
  EXPECT_EQ(uploads, 3);  // the loading picture, the logo, text 1

  BindGlRecorder();
  WriteColourFile("loading.hwl", 8, 16, 1);
  const HwlStatus loading = ShowLoadingScreen();
  EXPECT_EQ(loading.code, 201);
  EXPECT_NE(loading.message.find("loading.hwl: the picture is 8 x 16 pixels"), std::string::npos) << loading.message;
  for (const GlCall& call : Recorder.calls) EXPECT_NE(call.name, "glTexImage2D");
}

TEST_F(PictureLoading, AStopEndsTheLoadingAtOnceWithNothingUploaded) {
  WriteAllShowPictures();
  WriteColourFile("loading.hwl", 8, 8, 1);
  std::atomic<bool> stop{true};
  PictureLimits.stop = &stop;
  EXPECT_EQ(ShowLoadingScreen().code, HwlCancelled);
  EXPECT_EQ(LoadImageTextures().code, HwlCancelled);
  for (const GlCall& call : Recorder.calls) EXPECT_NE(call.name, "glTexImage2D");
}

// Text 5 comes through a pipe whose writer sent half the file and went quiet.
TEST_F(PictureLoading, AStopWhileAPictureArrivesThroughAPipeEndsTheLoading) {
  WriteAllShowPictures();
  std::ifstream complete("data/text_5.hwl", std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(complete)), {});
  std::filesystem::remove("data/text_5.hwl");
  ASSERT_EQ(mkfifo("data/text_5.hwl", 0600), 0);
  std::jthread writer([&bytes](std::stop_token done) {
    std::ofstream pipe("data/text_5.hwl", std::ios::binary);
    pipe.write(bytes.data(), std::streamsize(bytes.size() / 2)).flush();
    while (!done.stop_requested()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  std::atomic<bool> stop{false};
  PictureLimits.stop = &stop;
  const Clock::time_point start = Clock::now();
  LateStop late(stop, 200);
  const HwlStatus status = LoadImageTextures();
  EXPECT_EQ(status.code, HwlCancelled);
  EXPECT_NE(status.message.find("text_5.hwl"), std::string::npos) << status.message;
  EXPECT_LT(SecondsSince(start), 5.0);
}

// A picture taken a second time (the loading screen shown again) is read and
// decoded again: the upload is the same picture, never an emptied record.
TEST_F(PictureLoading, APictureTakenAgainIsDecodedAgain) {
  WriteAllShowPictures();
  WriteColourFile("loading.hwl", 8, 8, 1);
  ASSERT_TRUE(ShowLoadingScreen());
  ASSERT_TRUE(ShowLoadingScreen());
  std::vector<GlCall> uploads;
  for (const GlCall& call : Recorder.calls)
    if (call.name == "glTexImage2D") uploads.push_back(call);
  ASSERT_EQ(uploads.size(), 2u);
  EXPECT_EQ(uploads[1].args, uploads[0].args);
  EXPECT_NE(uploads[1].pointer, nullptr);
  StopDecodingPictures();
}

// Shutting down while a picture decodes ahead (its read waiting on a pipe no
// one writes, the other thread through the rest) gives the threads up at once.
TEST_F(PictureLoading, StoppingTheDecodesAheadGivesUpAReadThatWaits) {
  WriteAllShowPictures();
  ASSERT_EQ(mkfifo("data/loading.hwl", 0600), 0);  // decoded first
  StartDecodingPictures();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const Clock::time_point start = Clock::now();
  StopDecodingPictures();
  EXPECT_LT(SecondsSince(start), 1.0);
  for (const GlCall& call : Recorder.calls) EXPECT_NE(call.name, "glTexImage2D");
}

}  // namespace
