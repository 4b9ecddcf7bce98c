#include "win32_window.h"

#include <cstdio>
#include <string>

#include "show_config.h"
#include "show_errors.h"
#include "show_platform.h"

namespace {

constexpr const char* WindowClassName = "forwardGL";
constexpr const char* WindowTitle = "quenrik";
constexpr BYTE DepthBits = 16;

struct Win32Window {
  HINSTANCE instance = nullptr;
  HWND window = nullptr;
  HDC deviceContext = nullptr;  // the window's own (CS_OWNDC), held for the whole run
  HGLRC renderContext = nullptr;
  int pixelFormat = 0;
  bool displayModeChanged = false;
  bool cursorHidden = false;
  long long framesPresented = 0;  // reported at the end, for whoever reads stderr
};
Win32Window Window;

// Double-buffered RGBA in ColorBits colour bits with 16 depth bits; no alpha,
// accumulation, stencil or auxiliary buffers.
PIXELFORMATDESCRIPTOR ShowPixelFormat() {
  PIXELFORMATDESCRIPTOR format{};
  format.nSize = sizeof format;
  format.nVersion = 1;
  format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  format.iPixelType = PFD_TYPE_RGBA;
  format.cColorBits = static_cast<BYTE>(Config.ColorBits);
  format.cDepthBits = DepthBits;
  format.iLayerType = PFD_MAIN_PLANE;
  return format;
}
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);
static_assert((PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER) == 0x25);

void RestoreDisplayMode() {
  if (Window.displayModeChanged) {
    ChangeDisplaySettingsA(nullptr, 0);  // back to the mode stored in the registry
    Window.displayModeChanged = false;
    std::fprintf(stderr, "quenrik: display mode restored\n");
  }
}

// A crash must not leave the desktop in the show's mode.
LONG WINAPI RestoreDisplayModeOnCrash(EXCEPTION_POINTERS*) {
  if (Window.displayModeChanged) ChangeDisplaySettingsA(nullptr, 0);
  return EXCEPTION_CONTINUE_SEARCH;
}

// The first of the display's modes 0 to DisplayModeSearchLimit - 1 with the
// chosen size and colour depth, whatever its refresh rate.
DEVMODEA FindDisplayMode() {
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  for (DWORD n = 0; n < DisplayModeSearchLimit; ++n) {
    if (!EnumDisplaySettingsA(nullptr, n, &mode)) break;  // past the last mode
    if (static_cast<std::int32_t>(mode.dmPelsWidth) == Config.ScreenWidth &&
        static_cast<std::int32_t>(mode.dmPelsHeight) == Config.ScreenHeight &&
        static_cast<std::int32_t>(mode.dmBitsPerPel) == Config.ColorBits)
      return mode;
  }
  ShowErrorAndExit("No Power, chump!");
}

}  // namespace

ShowMessage TranslateWindowMessage(UINT message) {
  switch (message) {
    case WM_CREATE: return ShowMessage::Create;
    case WM_DESTROY: return ShowMessage::Destroy;
    case WM_KEYDOWN: return ShowMessage::KeyDown;
    case WM_SYSKEYDOWN: return ShowMessage::SysKeyDown;
    case WM_SYSCOMMAND: return ShowMessage::SysCommand;
    case WM_CLOSE: return ShowMessage::Close;
    default: return ShowMessage::Other;
  }
}

LRESULT CALLBACK ShowWindowProcWin32(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (const ShowMessage translated = TranslateWindowMessage(message)) {
    // Closing goes to default processing, which destroys the window; its
    // WM_DESTROY then ends the show.
    // Alt, F10 and Alt combinations become system commands (the menu, or
    // Close for Alt+F4), which the show consumes.
    case ShowMessage::Close:
    case ShowMessage::SysKeyDown:
    case ShowMessage::Other:
      return DefWindowProcA(window, message, wParam, lParam);
    default:
      return ShowWindowProc(translated);
  }
}

void RegisterWindowClass() {
  Window.instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_OWNDC;
  windowClass.lpfnWndProc = ShowWindowProcWin32;
  windowClass.hInstance = Window.instance;
  windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hIconSm = LoadIconA(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = WindowClassName;
  RegisterClassExA(&windowClass);  // a failure shows up as "Window could not be created"
}

void CreateShowWindow() {
  DWORD style = WindowedStyle;
  if (Config.Fullscreen) {
    DEVMODEA mode = FindDisplayMode();
    // A mode the display lists but refuses is as good as none.
    if (ChangeDisplaySettingsA(&mode, 0) != DISP_CHANGE_SUCCESSFUL) ShowErrorAndExit("No Power, chump!");
    Window.displayModeChanged = true;
    SetUnhandledExceptionFilter(RestoreDisplayModeOnCrash);
    std::fprintf(stderr, "quenrik: display mode %lu x %lu x %lu\n", mode.dmPelsWidth, mode.dmPelsHeight,
                 mode.dmBitsPerPel);
    style = FullscreenStyle;
  }
  // WM_CREATE arrives inside this call and sets Running.
  Window.window = CreateWindowExA(WS_EX_TOPMOST, WindowClassName, WindowTitle, style, 0, 0, Config.ScreenWidth,
                                  Config.ScreenHeight, nullptr, nullptr, Window.instance, nullptr);
  if (Window.window == nullptr) ShowErrorAndExit("Window could not be created");
  if (Config.Fullscreen) {
    ShowCursor(FALSE);
    Window.cursorHidden = true;
  }
  std::fprintf(stderr, "quenrik: window %d x %d, %s\n", Config.ScreenWidth, Config.ScreenHeight,
               Config.Fullscreen ? "full screen" : "windowed");
}

void CreateRenderContext() {
  Window.deviceContext = GetDC(Window.window);
  const PIXELFORMATDESCRIPTOR format = ShowPixelFormat();
  Window.pixelFormat = ChoosePixelFormat(Window.deviceContext, &format);
  if (Window.pixelFormat == 0) ShowErrorAndExit("Pixel Format not Available");
  SetPixelFormat(Window.deviceContext, Window.pixelFormat, &format);  // a failure makes the next step fail
  Window.renderContext = wglCreateContext(Window.deviceContext);
  if (Window.renderContext == nullptr) ShowErrorAndExit("Render Context could not be set");
  wglMakeCurrent(Window.deviceContext, Window.renderContext);
}

void ReleaseRenderContext() {
  if (Window.framesPresented > 0) {
    std::fprintf(stderr, "quenrik: %lld frames presented\n", Window.framesPresented);
    Window.framesPresented = 0;
  }
  if (Window.renderContext != nullptr) {
    wglMakeCurrent(Window.deviceContext, nullptr);
    wglDeleteContext(Window.renderContext);
    Window.renderContext = nullptr;
  }
  if (Window.deviceContext != nullptr) {
    ReleaseDC(Window.window, Window.deviceContext);
    Window.deviceContext = nullptr;
  }
  RestoreDisplayMode();
  if (Window.cursorHidden) {
    ShowCursor(TRUE);
    Window.cursorHidden = false;
  }
}

void DestroyShowWindow() {
  // Already gone when the window was closed: the call then fails harmlessly.
  if (Window.window != nullptr) DestroyWindow(Window.window);
  Window.window = nullptr;
}

// One waiting message per frame, whatever it is: a WM_QUIT is dispatched like
// any other and does not end the show.
void HandleOneMessage() {
  MSG message;
  if (PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) {
    GetMessageA(&message, nullptr, 0, 0);
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void SwapShowBuffers() {
  SwapBuffers(Window.deviceContext);
  ++Window.framesPresented;
}

void ShowErrorBox(const std::string& caption, const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

void ClosePlatform() { RestoreDisplayMode(); }

// No signals here; a crash is covered by RestoreDisplayModeOnCrash.
void StartPlatform() {}
const std::atomic<bool>* PlatformStopFlag() { return nullptr; }
