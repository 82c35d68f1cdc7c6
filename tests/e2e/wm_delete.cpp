// wm_delete WINDOW: sends the window the WM_DELETE_WINDOW message that a window manager sends when
// its close button is clicked. The tests run on a bare X server, where nothing else would send it
// (xdotool's windowclose destroys the window instead, which no program survives).
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: wm_delete WINDOW-ID\n");
    return 2;
  }
  Display *d = XOpenDisplay(nullptr);
  if (!d) {
    std::fprintf(stderr, "wm_delete: cannot open the display\n");
    return 1;
  }
  Window w = std::strtoul(argv[1], nullptr, 0);
  XEvent e{};
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = long(XInternAtom(d, "WM_DELETE_WINDOW", False));
  e.xclient.data.l[1] = CurrentTime;
  Status sent = XSendEvent(d, w, False, NoEventMask, &e);
  XSync(d, False);
  XCloseDisplay(d);
  return sent ? 0 : 1;
}
