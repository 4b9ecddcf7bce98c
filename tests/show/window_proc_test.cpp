// The window's message table and the SDL events it is fed with.
#include <gtest/gtest.h>

#include "show_config.h"
#include "sdl_window.h"
#include "window_proc.h"

namespace {

TEST(ShowWindowProc, CreateStartsAndDestroyEndsTheShow) {
  Config.Running = false;
  EXPECT_EQ(ShowWindowProc(ShowMessage::Create), 0);
  EXPECT_TRUE(Config.Running);
  EXPECT_EQ(ShowWindowProc(ShowMessage::Destroy), 0);
  EXPECT_FALSE(Config.Running);
}

TEST(ShowWindowProc, AnyKeyAndAnOutsideCloseEndTheShow) {
  for (ShowMessage message : {ShowMessage::KeyDown, ShowMessage::Close}) {
    Config.Running = true;
    EXPECT_EQ(ShowWindowProc(message), 0);
    EXPECT_FALSE(Config.Running);
  }
}

TEST(ShowWindowProc, CloseBoxSystemMenuSystemKeysAndOtherMessagesLeaveTheShowRunning) {
  for (ShowMessage message : {ShowMessage::SysCommand, ShowMessage::SysKeyDown, ShowMessage::Other}) {
    Config.Running = true;
    EXPECT_EQ(ShowWindowProc(message), 0);
    EXPECT_TRUE(Config.Running);
  }
}

TEST(TranslateEvent, KeysSignalsAndTheCloseBox) {
  SDL_Event event{};
  event.type = SDL_KEYDOWN;
  event.key.keysym.sym = SDLK_a;
  EXPECT_EQ(TranslateEvent(event), ShowMessage::KeyDown);
  event.key.keysym.sym = SDLK_LSHIFT;  // any key, modifiers included
  EXPECT_EQ(TranslateEvent(event), ShowMessage::KeyDown);

  event = {};
  event.type = SDL_QUIT;  // the session ending
  EXPECT_EQ(TranslateEvent(event), ShowMessage::Close);

  event = {};
  event.type = SDL_WINDOWEVENT;
  event.window.event = SDL_WINDOWEVENT_CLOSE;
  EXPECT_EQ(TranslateEvent(event), ShowMessage::SysCommand);
  event.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
  EXPECT_EQ(TranslateEvent(event), ShowMessage::Other);

  for (Uint32 type : {SDL_KEYUP, SDL_MOUSEBUTTONDOWN, SDL_MOUSEMOTION, SDL_TEXTINPUT}) {
    event = {};
    event.type = type;
    EXPECT_EQ(TranslateEvent(event), ShowMessage::Other) << type;
  }
}

// As Windows tells WM_SYSKEYDOWN from WM_KEYDOWN: F10, Alt, and keys with Alt
// held but not Ctrl are the system's; with Ctrl+Alt (AltGr) a key is ordinary.
TEST(TranslateEvent, SystemKeysAreAltF10AndAltCombinationsWithoutCtrl) {
  struct Case {
    SDL_Keycode key;
    Uint16 mod;
    ShowMessage message;
  };
  const Case cases[] = {
      {SDLK_LALT, KMOD_LALT, ShowMessage::SysKeyDown},   {SDLK_RALT, KMOD_RALT, ShowMessage::SysKeyDown},
      {SDLK_LALT, KMOD_NONE, ShowMessage::SysKeyDown},   {SDLK_F10, KMOD_NONE, ShowMessage::SysKeyDown},
      {SDLK_F10, KMOD_LSHIFT, ShowMessage::SysKeyDown},  {SDLK_F4, KMOD_LALT, ShowMessage::SysKeyDown},
      {SDLK_a, KMOD_RALT, ShowMessage::SysKeyDown},      {SDLK_LCTRL, KMOD_LALT | KMOD_LCTRL, ShowMessage::SysKeyDown},
      {SDLK_LALT, KMOD_LALT | KMOD_LCTRL, ShowMessage::SysKeyDown},
      {SDLK_a, KMOD_LALT | KMOD_LCTRL, ShowMessage::KeyDown}, {SDLK_F9, KMOD_NONE, ShowMessage::KeyDown},
      {SDLK_F4, KMOD_NONE, ShowMessage::KeyDown},        {SDLK_MODE, KMOD_MODE, ShowMessage::KeyDown},
      {SDLK_LCTRL, KMOD_LCTRL, ShowMessage::KeyDown},    {SDLK_ESCAPE, KMOD_NONE, ShowMessage::KeyDown},
  };
  for (const Case& c : cases) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.keysym.sym = c.key;
    event.key.keysym.mod = c.mod;
    EXPECT_EQ(TranslateEvent(event), c.message) << SDL_GetKeyName(c.key) << " with modifiers " << c.mod;
  }
}

TEST(DisplayModeMatches, SizeMustMatchAndDepthByChannelWidth) {
  EXPECT_TRUE(DisplayModeMatches(640, 480, 24, 640, 480, 32));
  EXPECT_TRUE(DisplayModeMatches(640, 480, 32, 640, 480, 32));
  EXPECT_FALSE(DisplayModeMatches(640, 480, 16, 640, 480, 32));
  EXPECT_TRUE(DisplayModeMatches(800, 600, 16, 800, 600, 16));
  EXPECT_TRUE(DisplayModeMatches(800, 600, 15, 800, 600, 16));
  EXPECT_FALSE(DisplayModeMatches(800, 600, 24, 800, 600, 16));
  EXPECT_FALSE(DisplayModeMatches(1024, 768, 24, 640, 480, 32));
  EXPECT_FALSE(DisplayModeMatches(640, 768, 24, 640, 480, 32));
  EXPECT_FALSE(DisplayModeMatches(640, 480, 8, 640, 480, 8));
}

}  // namespace
