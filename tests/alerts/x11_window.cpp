#include <X11/Xlib.h>

#include "harness.h"

namespace uk::test::x11 {

bool sendDeleteWindow(const std::string& display, unsigned long window) {
  Display* x = XOpenDisplay(display.c_str());
  if (!x) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(x, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(x, window, False, NoEventMask, &event) != 0;
  XSync(x, False);
  XCloseDisplay(x);
  return sent;
}

unsigned long inputFocus(const std::string& display) {
  Display* x = XOpenDisplay(display.c_str());
  if (!x) return 0;
  Window focus = 0;
  int revertTo = 0;
  XGetInputFocus(x, &focus, &revertTo);
  XCloseDisplay(x);
  return focus;
}

}  // namespace uk::test::x11
