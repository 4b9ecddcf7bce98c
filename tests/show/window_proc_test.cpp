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

TEST(ShowWindowProc, CloseBoxSystemMenuAndOtherMessagesLeaveTheShowRunning) {
  for (ShowMessage message : {ShowMessage::SysCommand, ShowMessage::Other}) {
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
  event.type = SDL_QUIT;  // SDL's answer to SIGINT and SIGTERM
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
