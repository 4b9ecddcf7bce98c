// The shell's configuration and run flag, chosen by the dialog at start-up.
#pragma once

#include <cstdint>

struct ShowConfig {
  std::int32_t ScreenWidth = 640;
  std::int32_t ScreenHeight = 480;
  std::int32_t ColorBits = 32;  // 32 or 16
  bool Fullscreen = true;
  bool Running = false;  // set on window creation, cleared by WM_DESTROY
};
extern ShowConfig Config;
