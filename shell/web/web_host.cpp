// The browser host: the show in a web page, compiled to WebAssembly.
//
// The page (page.js) loads this module and the show's data files, then runs
// the show core over the host record below: WebStartShow is StartShow,
// WebStepShow is StepShow (called from every animation frame), WebEndShow is
// EndShow. What the record holds:
// - the dialog: the page's HTML form (made from the same control table as
//   the .ui and .rc files), driven by the shared dialog procedure;
// - the window: the page's canvas at the chosen size, or the whole screen
//   through the Fullscreen API. Colour depth is recorded and has no effect:
//   a page cannot choose the screen's depth, and WebGL has no 16-bit format;
// - the context: WebGL 1 with the fixed-function layer (gl_fixed.h) bound to
//   the GL table;
// - the music: web_audio.h (libmpg123 in WebAssembly, Web Audio, the heard
//   position as the clock); "Go!" is the gesture that lets the page play it;
// - failures: the page's "Error" box with the desktop's texts.
//
// Start-up waits for the page twice, through Asyncify: for the dialog (and
// the data files), and after presenting the loading screen, so that the
// browser shows it before the pictures decode. Every other call returns at
// once; frames are presented when the animation frame callback returns.
//
// The page has one thread, and a viewer takes a while to choose in the
// dialog: meanwhile the page decodes ahead (WebDecodeAhead), a slice at a
// time, the pictures and then the music, and start-up uses what is done.
// While the show runs, each animation frame decodes what the music needs
// next (WebAudioFeed).
//
// A test mode (the page's ?test=frames) replaces the music by a virtual clock
// that moves FrameSpacingMs per presented frame, with a fixed seed, as the
// capture does; the page then steps as fast as it likes and grabs frames.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdint>
#include <string>

#include "config_dialog_proc.h"
#include "gl.h"
#include "gl_fixed.h"
#include "image_textures.h"
#include "main_loop.h"
#include "show_config.h"
#include "show_core.h"
#include "show_errors.h"
#include "sound.h"
#include "timeline.h"
#include "web_audio.h"
#include "window_proc.h"

// The page's side, in web_host.js.
extern "C" {
void quenrik_dialog_open();
void quenrik_dialog_set_check(int id, int checked);
void quenrik_dialog_add_string(int id, const char* text);
int quenrik_dialog_select_prefix(int id, int startIndex, const char* prefix);
int quenrik_dialog_selection(int id);
void quenrik_dialog_end(int quit);
void quenrik_dialog_wait();  // async
int quenrik_window_open(int width, int height, int fullscreen);  // async
void quenrik_window_close();
void quenrik_present_and_wait();  // async
void quenrik_frame_presented(int musicClock);
int quenrik_frame_wanted(int musicClock);
void quenrik_report_failure(const char* text, const char* detail, int exitCode);
}

namespace {

// The desktop's texts for the failures a page can meet.
constexpr const char* NoDisplayModeText = "No Power, chump!";
constexpr const char* NoContextText = "Render Context could not be set";
constexpr const char* CanvasSelector = "#quenrik-canvas";

enum class WebMode { Show = 0, VirtualClock = 1 };

struct WebHostState {
  WebMode mode = WebMode::Show;
  std::uint32_t seed = 0;                     // for the virtual clock
  bool dialogOpen = false;                    // the procedure takes messages
  bool dialogQuit = false;                    // the dialog ended the program
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = 0;
  int pendingKeys = 0;                        // key presses not yet handed to the window procedure
  bool playing = false;                       // the music, or the virtual clock, runs
  std::int64_t virtualFrame = 0;              // the frame the virtual clock shows
  bool drawAll = true;                        // virtual clock: draw every frame, or only wanted ones
};
WebHostState Web;

// The GL table for the frames a test does not look at: the layers step, nothing is drawn.
template <typename Result>
Result Nothing() {
  return Result();
}
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
namespace nogl {
using namespace gl;
#define QUENRIK_GL(use, ret, name, params, args) \
  ret QUENRIK_GLAPI name params { return Nothing<ret>(); }
#define QUENRIK_GLU QUENRIK_GL
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU
}  // namespace nogl
#pragma GCC diagnostic pop

void BindNoGl() {
#define QUENRIK_GL(use, ret, name, params, args) gl::name = nogl::name;
#define QUENRIK_GLU QUENRIK_GL
#include "gl_functions.inc"
#include "glu_functions.inc"
#undef QUENRIK_GL
#undef QUENRIK_GLU
}

// --- the dialog -------------------------------------------------------------

void SetCheck(DialogHandle, int id, bool checked) { quenrik_dialog_set_check(id, checked); }
void AddComboString(DialogHandle, int id, const char* text) { quenrik_dialog_add_string(id, text); }
int SelectComboPrefix(DialogHandle, int id, int startIndex, const char* prefix) {
  return quenrik_dialog_select_prefix(id, startIndex, prefix);
}
int GetComboSelection(DialogHandle, int id) { return quenrik_dialog_selection(id); }
void EndDialog(DialogHandle, std::intptr_t) {
  Web.dialogOpen = false;
  quenrik_dialog_end(0);
}
void EndProgram(int) {
  Web.dialogQuit = true;
  quenrik_dialog_end(1);
}

constexpr DialogActions WebDialogActions{SetCheck,          AddComboString, SelectComboPrefix,
                                         GetComboSelection, EndDialog,      EndProgram};

DialogOutcome ShowPageDialog(std::string&) {
  Web.dialogQuit = false;
  ConfigDialogActions = WebDialogActions;
  Web.dialogOpen = true;
  quenrik_dialog_open();
  ConfigDialogProc(&Web, MsgInitDialog, 0, 0);
  quenrik_dialog_wait();
  ConfigDialogActions = DialogActions{};
  return Web.dialogQuit ? DialogOutcome::Quit : DialogOutcome::Go;
}

// --- window, context, frames ----------------------------------------------

std::int32_t MusicClockNow();

void OpenWindow() {
  if (!quenrik_window_open(Config.ScreenWidth, Config.ScreenHeight, Config.Fullscreen))
    ShowErrorAndExit(NoDisplayModeText, "the browser refused full screen");
  ShowWindowProc(ShowMessage::Create);
}

void CloseWindow() { quenrik_window_close(); }

// WebGL 1, opaque like a window, with a depth buffer and no multisampling,
// as the desktop's pixel format asks.
void CreateContext() {
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.alpha = false;
  attributes.depth = true;
  attributes.stencil = false;
  attributes.antialias = false;
  attributes.majorVersion = 1;
  attributes.minorVersion = 0;
  Web.context = emscripten_webgl_create_context(CanvasSelector, &attributes);
  if (Web.context <= 0) ShowErrorAndExit(NoContextText, "WebGL is not available");
  emscripten_webgl_make_context_current(Web.context);
  if (std::string error; !SetUpFixedFunctionGl(error)) ShowErrorAndExit(NoContextText, error);
}

void ReleaseContext() {
  if (Web.context <= 0) return;
  ReleaseFixedFunctionGl();
  emscripten_webgl_make_context_current(0);
  emscripten_webgl_destroy_context(Web.context);
  Web.context = 0;
}

// The start of a frame. On the virtual clock a test may skip drawing frames
// it does not look at; their layers still step.
void HandleOneMessage() {
  if (Web.mode == WebMode::VirtualClock && Web.playing && !Web.drawAll) {
    if (quenrik_frame_wanted(MusicClockNow()))
      BindFixedFunctionGl();
    else
      BindNoGl();
  }
  if (Web.pendingKeys == 0) return;
  --Web.pendingKeys;
  ShowWindowProc(ShowMessage::KeyDown);
}

// Before the music plays, the only frame is the loading screen: the page
// shows it before start-up goes on. Show frames reach the screen when the
// animation frame callback returns.
void Present() {
  if (!Web.playing) {
    quenrik_present_and_wait();
    return;
  }
  quenrik_frame_presented(MusicClock);
  if (Web.mode == WebMode::VirtualClock) ++Web.virtualFrame;
}

// --- music --------------------------------------------------------------------

bool OpenMusic(const char* file, std::string& error) {
  if (Web.mode == WebMode::VirtualClock) return true;
  int code = WebAudioOpen();
  if (code == SoundErrorNone) code = WebAudioLoad(file);
  if (code != SoundErrorNone) error = SoundErrorText(code);
  return code == SoundErrorNone;
}

bool PlayMusic(std::string&) {
  if (Web.mode == WebMode::Show) WebAudioPlay();
  Web.playing = true;
  return true;
}

std::int32_t MusicClockNow() {
  if (Web.mode == WebMode::VirtualClock) return static_cast<std::int32_t>(Web.virtualFrame * FrameSpacingMs);
  return WebAudioClock();
}

bool MusicFinished() { return Web.mode == WebMode::Show && WebAudioFinished(); }

void CloseMusic() {
  WebAudioClose();
  Web.playing = false;
}

// --- the rest -------------------------------------------------------------------

std::int64_t PageNowMs() { return static_cast<std::int64_t>(emscripten_get_now()); }

std::uint32_t ShowSeed() { return Web.mode == WebMode::VirtualClock ? Web.seed : ClockSeed(); }

int ReportFailure(const ShowFailure& failure) {
  quenrik_report_failure(failure.text.c_str(), failure.detail.c_str(), failure.exitCode);
  return failure.exitCode;
}

ShowHost WebHost() {
  return ShowHost{.Configure = ShowPageDialog,
                  .window = {.LoadGl = BindFixedFunctionGl,
                             .CreateWindow = OpenWindow,
                             .CreateRenderContext = CreateContext,
                             .ReleaseRenderContext = ReleaseContext,
                             .DestroyWindow = CloseWindow,
                             .HandleOneMessage = HandleOneMessage,
                             .Present = Present},
                  .music = {OpenMusic, PlayMusic, MusicClockNow, MusicFinished, CloseMusic},
                  .SteadyNowMs = PageNowMs,
                  .Seed = ShowSeed,
                  .ReportFailure = ReportFailure};
}

std::string DataFileList() {
  std::string list = LoadingPictureFile;
  for (const PictureFile& file : ShowPictureFiles) list += std::string("\n") + file.fileName;
  return list + "\n" + MusicFile;
}

}  // namespace

// --- what the page calls --------------------------------------------------------

extern "C" {

// The files the show reads, one per line, for the page to fetch.
EMSCRIPTEN_KEEPALIVE const char* WebDataFiles() {
  static const std::string list = DataFileList();
  return list.c_str();
}

// The start-up; 1 when the show runs, 0 when the dialog ended the program.
// mode 1 is the virtual clock, with the shake's seed; drawAll 0 draws only
// the frames the page wants (quenrik_frame_wanted).
EMSCRIPTEN_KEEPALIVE int WebStartShow(int mode, unsigned seed, int drawAll) {
  Web = WebHostState{};
  Web.mode = mode == 1 ? WebMode::VirtualClock : WebMode::Show;
  Web.seed = seed;
  Web.drawAll = drawAll != 0;
  return StartShow(WebHost()) ? 1 : 0;
}

// One slice of the work done ahead while the dialog is open: one picture,
// or some 20 ms of the music. 1 while there is more.
EMSCRIPTEN_KEEPALIVE int WebDecodeAhead() {
  constexpr double MusicSliceMs = 20;
  if (DecodeNextPicture()) return 1;
  if (Web.mode != WebMode::Show || WebAudioPrepare(MusicFile) != SoundErrorNone) return 0;
  return WebAudioDecodeAhead(MusicSliceMs) ? 1 : 0;
}

// The music decoded as far as the listener needs it soon: from every
// animation frame, and from a timer for a page that gets none.
EMSCRIPTEN_KEEPALIVE void WebFeedMusic() {
  if (Web.mode == WebMode::Show) WebAudioFeed();
}

// One animation frame: a show frame if the pacing rule says one is due.
// 0 once the show is over.
EMSCRIPTEN_KEEPALIVE int WebStepShow() {
  WebFeedMusic();
  return StepShow() ? 1 : 0;
}

// The shutdown; the exit code.
EMSCRIPTEN_KEEPALIVE int WebEndShow() { return EndShow(); }

// A key was pressed: the window procedure gets it at the next frame.
EMSCRIPTEN_KEEPALIVE void WebKeyDown() { ++Web.pendingKeys; }

// A click on a dialog control (its id), or on the dialog's close box.
// Nothing reaches the procedure once the dialog has ended.
EMSCRIPTEN_KEEPALIVE void WebDialogCommand(int id) {
  if (Web.dialogOpen) ConfigDialogProc(&Web, MsgCommand, CommandParam(id, 0), 0);
}
EMSCRIPTEN_KEEPALIVE void WebDialogClose() {
  if (Web.dialogOpen) ConfigDialogProc(&Web, MsgClose, 0, 0);
}

}  // extern "C"
