// The sound error texts: one table, shared by every music module (the
// desktop's in sound.cpp and the browser's).
#include "sound.h"

#include <array>

namespace {

constexpr std::array<const char*, 20> ErrorTexts = {
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

}  // namespace

const char* SoundErrorText(int code) {
  if (code < 0 || code >= static_cast<int>(ErrorTexts.size())) {
    return "Unknown error";
  }
  return ErrorTexts[static_cast<std::size_t>(code)];
}
