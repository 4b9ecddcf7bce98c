#include "window_manager.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <vector>

namespace {

// _NET_SUPPORTED lists a few dozen atoms; this bounds the read.
constexpr long SupportedAtomsLimit = 1024;

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// The values of a property of 32-bit items of the given type (empty when it
// is missing, of another type, or the window is gone).
std::vector<unsigned long> Property(Display* display, Window window, Atom name, Atom type, long limit) {
  Atom actualType = None;
  int format = 0;
  unsigned long count = 0, left = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  if (XGetWindowProperty(display, window, name, 0, limit, False, type, &actualType, &format, &count, &left, &data) ==
          Success &&
      actualType == type && format == 32 && data)
    values.assign(reinterpret_cast<unsigned long*>(data), reinterpret_cast<unsigned long*>(data) + count);
  if (data) XFree(data);
  return values;
}

bool RedirectsRoot(Display* display) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(display, DefaultRootWindow(display), &attributes) != 0 &&
         (attributes.all_event_masks & SubstructureRedirectMask) != 0;
}

bool DoesFullScreen(Display* display) {
  const Window root = DefaultRootWindow(display);
  const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
  // A window manager that ended leaves its root property behind, naming a
  // window that is gone or no longer names itself.
  const std::vector<unsigned long> named = Property(display, root, check, XA_WINDOW, 1);
  if (named.empty() || Property(display, named[0], check, XA_WINDOW, 1) != named) return false;
  const Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
  for (unsigned long atom : Property(display, root, XInternAtom(display, "_NET_SUPPORTED", False), XA_ATOM,
                                     SupportedAtomsLimit))
    if (atom == fullScreen) return true;
  return false;
}

// Asks on a connection of its own, with errors as answers (a window named
// in a property may vanish between two requests); false without a server.
bool Ask(bool (*question)(Display*)) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return false;
  XSync(display, False);
  int (*const previous)(Display*, XErrorEvent*) = XSetErrorHandler(IgnoreXError);
  const bool answer = question(display);
  XSync(display, False);
  XSetErrorHandler(previous);
  XCloseDisplay(display);
  return answer;
}

}  // namespace

bool WindowManagerRuns() { return Ask(RedirectsRoot); }

bool WindowManagerDoesFullScreen() { return Ask(DoesFullScreen); }
