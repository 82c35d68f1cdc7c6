// The operating-system layer: display detection for X11.
#include "platform.h"

#include <X11/Xlib.h>

int DisplayAvailable() {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return 0;
  XCloseDisplay(d);
  return -1;
}
