#include "sdl_window.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "display_guardian.h"
#include "show_config.h"
#include "show_errors.h"
#include "stop_signals.h"
#include "window_manager.h"

namespace {

constexpr const char* WindowTitle = "quenrik";
constexpr int DepthBits = 16;  // at least; implementations often give more
// The window manager sets the frame sizes shortly after the window maps, and
// makes a window full screen shortly after it is asked.
constexpr Uint32 FrameExtentsWaitMs = 500;
constexpr Uint32 FullScreenWaitMs = 500;

struct WindowState {
  SDL_Window* window = nullptr;
  SDL_GLContext context = nullptr;
  bool displayModeChanged = false;
  bool cursorHidden = false;
};
WindowState Window;

struct ColourBits {
  int red, green, blue;
};
ColourBits ColourBitsFor(std::int32_t colorBits) {
  return colorBits == 16 ? ColourBits{5, 6, 5} : ColourBits{8, 8, 8};
}

bool Contains(std::string_view text, std::string_view part) {
  auto lower = [](unsigned char c) { return static_cast<char>(std::tolower(c)); };
  std::string haystack(text);
  std::transform(haystack.begin(), haystack.end(), haystack.begin(), lower);
  return haystack.find(part) != std::string::npos;
}

// SDL picks the GL visual (the pixel format) while it creates the window.
bool IsPixelFormatFailure(std::string_view sdlError) {
  return Contains(sdlError, "visual") || Contains(sdlError, "pixel format") || Contains(sdlError, "config");
}

// Drivers that do not show anything on a screen: SDL falls back to them
// silently when no display can be opened.
bool IsInvisibleDriver(const char* driver) {
  if (!driver) return true;
  const std::string_view name(driver);
  return name == "offscreen" || name == "dummy" || name == "evdev";
}

SDL_DisplayMode FindDisplayMode() {
  const int modeCount = std::min(SDL_GetNumDisplayModes(0), DisplayModeSearchLimit);
  for (int n = 0; n < modeCount; ++n) {
    SDL_DisplayMode mode{};
    if (SDL_GetDisplayMode(0, n, &mode) != 0) continue;
    if (DisplayModeMatches(mode.w, mode.h, static_cast<int>(SDL_BITSPERPIXEL(mode.format)), Config.ScreenWidth,
                           Config.ScreenHeight, Config.ColorBits))
      return mode;
  }
  ShowErrorAndExit("No Power, chump!");
}

bool IsX11() {
  const char* driver = SDL_GetCurrentVideoDriver();
  return driver && std::string_view(driver) == "x11";
}

// The window manager's frame around a captioned window, once it is known.
// Without a window manager (X11) nothing frames the window, and a video
// driver that cannot tell the frame's size never will: the client is the
// whole window.
void FitOuterSize() {
  if (IsX11() && !WindowManagerRuns()) return;
  int top = 0, left = 0, bottom = 0, right = 0;
  const Uint32 start = SDL_GetTicks();
  for (;;) {
    if (SDL_GetWindowBordersSize(Window.window, &top, &left, &bottom, &right) != 0) return;
    if (top + left + bottom + right != 0) break;
    if (SDL_GetTicks() - start > FrameExtentsWaitMs) return;  // no frame: the client is the window
    SDL_PumpEvents();
    SDL_Delay(10);
  }
  SDL_SetWindowSize(Window.window, std::max(1, Config.ScreenWidth - left - right),
                    std::max(1, Config.ScreenHeight - top - bottom));
  SDL_SetWindowPosition(Window.window, left, top);  // the client's position: the frame starts at (0, 0)
}

// How the window becomes full screen. SDL's request for it (on X11) changes
// the display mode, asks the window manager, then waits for the window to
// move or change its size, for at most 100 ms: all of them where the window
// has its full-screen place already (so, always without a window manager).
enum class FullScreenWay {
  // A window manager does it: the window starts a pixel wider than the mode
  // (its right column off the screen, should the manager not act), so the
  // manager's change ends SDL's wait at once.
  Manager,
  // No window manager does it, and the display is in the mode already: the
  // window made at (0, 0) with the mode's size is all there is to do.
  Placed,
  // Anything else: SDL's request, and its wait.
  Request,
};

bool SameMode(const SDL_DisplayMode& a, const SDL_DisplayMode& b) {
  return a.w == b.w && a.h == b.h && a.format == b.format && a.refresh_rate == b.refresh_rate;
}

FullScreenWay ChooseFullScreenWay(const SDL_DisplayMode& mode) {
  if (!IsX11()) return FullScreenWay::Request;
  if (WindowManagerDoesFullScreen()) return FullScreenWay::Manager;
  SDL_DisplayMode current{};
  if (SDL_GetCurrentDisplayMode(0, &current) == 0 && SameMode(current, mode)) return FullScreenWay::Placed;
  return FullScreenWay::Request;
}

// SDL stops waiting at the window's first change; the manager may make more.
void AwaitFullScreenPlace(const SDL_DisplayMode& mode) {
  SDL_Rect bounds{};
  SDL_GetDisplayBounds(0, &bounds);
  const Uint32 start = SDL_GetTicks();
  for (;;) {
    int x = 0, y = 0, width = 0, height = 0;
    SDL_GetWindowPosition(Window.window, &x, &y);
    SDL_GetWindowSize(Window.window, &width, &height);
    if ((x == bounds.x && y == bounds.y && width == mode.w && height == mode.h) ||
        SDL_GetTicks() - start > FullScreenWaitMs)
      return;
    SDL_Delay(1);
    SDL_PumpEvents();
  }
}

}  // namespace

bool DisplayModeMatches(int width, int height, int bitsPerPixel, std::int32_t screenWidth,
                        std::int32_t screenHeight, std::int32_t colorBits) {
  if (width != screenWidth || height != screenHeight) return false;
  if (colorBits == 32) return bitsPerPixel == 24 || bitsPerPixel == 32;
  if (colorBits == 16) return bitsPerPixel == 15 || bitsPerPixel == 16;
  return false;
}

void StartPlatform() { StartDisplayGuardian(); }

const std::atomic<bool>* PlatformStopFlag() { return &StopFlag; }

void RegisterWindowClass() {
  // The close box must not end the program: only an outside request does.
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
  // Signals are ours (stop_signals.h), not SDL's quit event.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  CatchStopSignals();
  // A full-screen show stays up when another window takes the focus.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0)
    ShowErrorAndExit("No display to show on: the window system could not be opened", SDL_GetError());
  const char* driver = SDL_GetCurrentVideoDriver();
  if (IsInvisibleDriver(driver))
    ShowErrorAndExit("No display to show on: set DISPLAY (or WAYLAND_DISPLAY) to a running display",
                     std::string("video driver: ") + (driver ? driver : "none"));
  // SDL keeps screen savers and monitor power-saving off while video runs.
  const ColourBits colour = ColourBitsFor(Config.ColorBits);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, DepthBits);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, colour.red);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, colour.green);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, colour.blue);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
}

void CreateShowWindow() {
  const Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_HIDDEN;
  SDL_DisplayMode mode{};
  FullScreenWay way = FullScreenWay::Request;
  if (Config.Fullscreen) {
    mode = FindDisplayMode();
    // Whatever happens from here on, the guardian gives the mode back (where
    // it cannot, on a display without XRandR, the shutdown alone does). It
    // notes the configuration while the window is made.
    ArmDisplayGuardian();
    way = ChooseFullScreenWay(mode);
  }
  const int width = Config.ScreenWidth + (way == FullScreenWay::Manager ? 1 : 0);
  Window.window = SDL_CreateWindow(WindowTitle, 0, 0, width, Config.ScreenHeight,
                                   flags | (Config.Fullscreen ? SDL_WINDOW_BORDERLESS : 0));
  if (!Window.window) {
    const std::string reason = SDL_GetError();
    ShowErrorAndExit(IsPixelFormatFailure(reason) ? "Pixel Format not Available" : "Window could not be created",
                     reason);
  }
  if (Config.Fullscreen) {
    DisplayGuardianArmed();
    Window.displayModeChanged = true;
    if (SDL_SetWindowDisplayMode(Window.window, &mode) != 0 ||
        (way != FullScreenWay::Placed && SDL_SetWindowFullscreen(Window.window, SDL_WINDOW_FULLSCREEN) != 0))
      ShowErrorAndExit("No Power, chump!", SDL_GetError());
    SDL_ShowWindow(Window.window);
    if (way == FullScreenWay::Manager) AwaitFullScreenPlace(mode);
    SDL_ShowCursor(SDL_DISABLE);
    Window.cursorHidden = true;
  } else {
    SDL_ShowWindow(Window.window);
    FitOuterSize();
  }
  ShowWindowProc(ShowMessage::Create);
}

void CreateRenderContext() {
  Window.context = SDL_GL_CreateContext(Window.window);
  if (!Window.context) ShowErrorAndExit("Render Context could not be set", SDL_GetError());
  // The pixel format the context got: double buffered with enough depth and colour.
  const ColourBits wanted = ColourBitsFor(Config.ColorBits);
  int doubleBuffer = 0, depth = 0, red = 0, green = 0, blue = 0;
  SDL_GL_GetAttribute(SDL_GL_DOUBLEBUFFER, &doubleBuffer);
  SDL_GL_GetAttribute(SDL_GL_DEPTH_SIZE, &depth);
  SDL_GL_GetAttribute(SDL_GL_RED_SIZE, &red);
  SDL_GL_GetAttribute(SDL_GL_GREEN_SIZE, &green);
  SDL_GL_GetAttribute(SDL_GL_BLUE_SIZE, &blue);
  if (!doubleBuffer || depth < DepthBits || red < wanted.red || green < wanted.green || blue < wanted.blue)
    ShowErrorAndExit("Pixel Format not Available",
                     "got double buffer " + std::to_string(doubleBuffer) + ", depth " + std::to_string(depth) +
                         ", colour " + std::to_string(red) + "/" + std::to_string(green) + "/" +
                         std::to_string(blue));
  SDL_GL_MakeCurrent(Window.window, Window.context);
  // Frames are paced by the music clock alone, not by the display's refresh.
  SDL_GL_SetSwapInterval(0);
}

void ReleaseRenderContext() {
  if (Window.context) {
    SDL_GL_MakeCurrent(Window.window, nullptr);
    SDL_GL_DeleteContext(Window.context);
    Window.context = nullptr;
  }
  if (Window.displayModeChanged && Window.window) {
    SDL_SetWindowFullscreen(Window.window, 0);
    Window.displayModeChanged = false;
  }
  if (Window.cursorHidden) {
    SDL_ShowCursor(SDL_ENABLE);
    Window.cursorHidden = false;
  }
}

void DestroyShowWindow() {
  if (Window.window) SDL_DestroyWindow(Window.window);
  Window.window = nullptr;
}

bool IsSystemKey(const SDL_Keysym& key) {
  if (key.sym == SDLK_F10 || key.sym == SDLK_LALT || key.sym == SDLK_RALT) return true;
  const bool alt = (key.mod & KMOD_ALT) != 0, ctrl = (key.mod & KMOD_CTRL) != 0;
  return alt && (!ctrl || key.sym == SDLK_LCTRL || key.sym == SDLK_RCTRL);
}

ShowMessage TranslateEvent(const SDL_Event& event) {
  switch (event.type) {
    case SDL_KEYDOWN:
      return IsSystemKey(event.key.keysym) ? ShowMessage::SysKeyDown : ShowMessage::KeyDown;
    case SDL_QUIT:  // the session ending (signals come through StopFlag)
      return ShowMessage::Close;
    case SDL_WINDOWEVENT:
      // The close box arrives as a system command, which the show consumes.
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) return ShowMessage::SysCommand;
      return ShowMessage::Other;
    default:
      return ShowMessage::Other;
  }
}

void HandleOneMessage() {
  SDL_Event event;
  if (SDL_PollEvent(&event)) ShowWindowProc(TranslateEvent(event));
}

void SwapShowBuffers() { SDL_GL_SwapWindow(Window.window); }

// SDL shows the box from a process of its own: it must not outlive the
// program (a signal ends the program while the box waits).
void ShowErrorBox(const std::string& caption, const std::string& text) {
  ChildrenDieWithProgram(true);
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
  ChildrenDieWithProgram(false);
}

void ClosePlatform() {
  SDL_Quit();
  ReleaseStopSignals();
}
