#include "sound.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(SoundErrorText, WholeTable) {
  const char* expected[] = {
      "No errors",
      "Cannot call this command after FSOUND_Init.  Call FSOUND_Close first.",
      "This command failed because FSOUND_Init was not called",
      "Error initializing output device.",
      "The output device is already in use and cannot be reused.",
      "Playing the sound failed.",
      "Soundcard does not support the features needed for this soundsystem (16bit stereo output)",
      "Error setting cooperative level for hardware.",
      "Error creating hardware sound buffer.",
      "File not found",
      "Unknown file format",
      "Error loading file",
      "Not enough memory ",
      "The version number of this file format is not supported",
      "An invalid parameter was passed to this function",
      "Tried to use an EAX command on a non EAX enabled channel or output.",
      "Tried to use an advanced EAX2 command on a non EAX2 enabled channel or output.",
      "Failed to allocate a new channel",
      "Recording is not supported on this machine",
      "Required Mediaplayer codec is not installed",
  };
  // Compared whole: code 1 has two blanks after its first full stop, code 12
  // ends with a blank.
  for (int code = 0; code < 20; ++code) {
    EXPECT_EQ(std::string(SoundErrorText(code)), expected[code]) << "code " << code;
  }
}

TEST(SoundErrorText, CodesOutsideTheTable) {
  for (int code : {20, 21, 1000, INT_MAX, -1, -20, INT_MIN}) {
    EXPECT_STREQ(SoundErrorText(code), "Unknown error") << "code " << code;
  }
}
