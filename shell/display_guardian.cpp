#include "display_guardian.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// One byte per message on the socket.
constexpr char ArmMessage = 'A';      // show to guardian: note the configuration
constexpr char RestoreMessage = 'R';  // show to guardian: restore now (a crash)
constexpr char ArmedReply = 'Y';      // guardian to show: noted
constexpr char UnarmedReply = 'N';    // guardian to show: nothing to restore with

// The signals a terminal, a session or a script sends to a whole process
// group: the guardian must see the show's end, not share it.
constexpr int GroupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGUSR2, SIGALRM};
constexpr int GuardianSocket = 3;  // the guardian's one descriptor besides 0, 1, 2

// The show's end of the socket; -1 without a guardian.
struct GuardianLink {
  int socket = -1;
  bool armAsked = false;  // its answer not read yet
};
GuardianLink Link;

// --- the guardian's side --------------------------------------------------------

struct CrtcSetting {
  RRCrtc crtc = 0;
  RRMode mode = 0;
  int x = 0, y = 0;
  Rotation rotation = 0;
  std::vector<RROutput> outputs;
  bool operator==(const CrtcSetting&) const = default;
};

struct ScreenSize {
  int width = 0, height = 0;
  bool operator==(const ScreenSize&) const = default;
};

// The configuration noted before the show changed the mode.
struct NotedScreen {
  Display* display = nullptr;
  Window root = 0;
  ScreenSize size;
  int widthMm = 0, heightMm = 0;
  std::vector<CrtcSetting> crtcs;
};

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

ScreenSize CurrentSize(Display* display, Window root) {
  Window parent = 0;
  int x = 0, y = 0;
  unsigned width = 0, height = 0, border = 0, depth = 0;
  XGetGeometry(display, root, &parent, &x, &y, &width, &height, &border, &depth);
  return {int(width), int(height)};
}

std::vector<CrtcSetting> CurrentCrtcs(Display* display, Window root) {
  std::vector<CrtcSetting> crtcs;
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
  if (!resources) return crtcs;
  for (int i = 0; i < resources->ncrtc; ++i) {
    XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
    if (!info) continue;
    crtcs.push_back({resources->crtcs[i], info->mode, info->x, info->y, info->rotation,
                     std::vector<RROutput>(info->outputs, info->outputs + info->noutput)});
    XRRFreeCrtcInfo(info);
  }
  XRRFreeScreenResources(resources);
  return crtcs;
}

// On its own connection; false without an X server or XRandR 1.2.
bool Note(NotedScreen& noted) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XSetErrorHandler(IgnoreXError);
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor) ||
      major * 100 + minor < 102) {
    XCloseDisplay(display);
    return false;
  }
  const int screen = DefaultScreen(display);
  noted = {display, RootWindow(display, screen), {}, DisplayWidthMM(display, screen),
           DisplayHeightMM(display, screen), {}};
  noted.size = CurrentSize(display, noted.root);
  noted.crtcs = CurrentCrtcs(display, noted.root);
  return !noted.crtcs.empty();
}

// Puts back whatever differs from the noted configuration (nothing, after a
// show that gave the mode back itself). The screen first grows to hold both
// configurations, so that every CRTC fits while they change.
bool Restore(const NotedScreen& noted) {
  Display* display = noted.display;
  if (!display) return false;
  const ScreenSize size = CurrentSize(display, noted.root);
  const std::vector<CrtcSetting> crtcs = CurrentCrtcs(display, noted.root);
  if (size == noted.size && crtcs == noted.crtcs) return false;
  XGrabServer(display);
  const ScreenSize both{std::max(size.width, noted.size.width), std::max(size.height, noted.size.height)};
  if (both != size) XRRSetScreenSize(display, noted.root, both.width, both.height, noted.widthMm, noted.heightMm);
  if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, noted.root)) {
    for (const CrtcSetting& crtc : noted.crtcs) {
      if (std::find(crtcs.begin(), crtcs.end(), crtc) != crtcs.end()) continue;
      std::vector<RROutput> outputs = crtc.outputs;
      XRRSetCrtcConfig(display, resources, crtc.crtc, CurrentTime, crtc.x, crtc.y, crtc.mode, crtc.rotation,
                       outputs.data(), int(outputs.size()));
    }
    XRRFreeScreenResources(resources);
  }
  if (both != noted.size)
    XRRSetScreenSize(display, noted.root, noted.size.width, noted.size.height, noted.widthMm, noted.heightMm);
  XUngrabServer(display);
  XSync(display, False);
  return true;
}

void Reply(char reply) {
  while (send(GuardianSocket, &reply, 1, MSG_NOSIGNAL) < 0 && errno == EINTR) {
  }
}

[[noreturn]] void GuardianMain(int socket) {
  prctl(PR_SET_NAME, "quenrik-guard");
  for (int groupSignal : GroupSignals) signal(groupSignal, SIG_IGN);
  // Hold nothing of the show's but stderr: a reader of its stdout sees the end
  // of the file when the show ends.
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null >= 0) {
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
  }
  if (socket != GuardianSocket) dup2(socket, GuardianSocket);
  close_range(GuardianSocket + 1, ~0u, 0);

  NotedScreen noted;
  bool armed = false;
  for (;;) {
    char message = 0;
    const ssize_t n = read(GuardianSocket, &message, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n == 1 && message == ArmMessage) {
      if (!armed) armed = Note(noted);
      Reply(armed ? ArmedReply : UnarmedReply);
    } else if (n == 1 && message == RestoreMessage) {
      if (armed && Restore(noted)) std::fprintf(stderr, "quenrik: display mode restored by the guardian\n");
    } else if (n <= 0) {
      // The show has ended, however it ended.
      if (armed && Restore(noted)) std::fprintf(stderr, "quenrik: display mode restored by the guardian\n");
      _exit(0);
    }
  }
}

// --- the show's side -----------------------------------------------------------------

// A child forked later (an error box's, say) must not keep the guardian from
// seeing the show's end.
void DropLinkInChild() {
  if (Link.socket >= 0) close(Link.socket);
  Link.socket = -1;
}

}  // namespace

void StartDisplayGuardian() {
  if (Link.socket >= 0) return;
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
  std::fflush(nullptr);  // nothing buffered is written twice
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    GuardianMain(ends[1]);
  }
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    return;
  }
  Link.socket = ends[0];
  static const int registered = pthread_atfork(nullptr, nullptr, DropLinkInChild);
  (void)registered;
}

void ArmDisplayGuardian() {
  Link.armAsked = Link.socket >= 0 && send(Link.socket, &ArmMessage, 1, MSG_NOSIGNAL) == 1;
}

bool DisplayGuardianArmed() {
  if (!std::exchange(Link.armAsked, false)) return false;
  pollfd reply{Link.socket, POLLIN, 0};
  int ready = 0;
  while ((ready = poll(&reply, 1, DisplayGuardianReplyMs)) < 0 && errno == EINTR) {
  }
  char answer = 0;
  return ready == 1 && read(Link.socket, &answer, 1) == 1 && answer == ArmedReply;
}

void AlarmDisplayGuardian() {
  if (Link.socket >= 0) send(Link.socket, &RestoreMessage, 1, MSG_NOSIGNAL);
}
