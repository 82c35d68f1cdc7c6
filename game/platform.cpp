// The operating-system layer: display detection for X11.
#include "platform.h"

#include <X11/Xlib.h>

// The test connection stays open for the whole run: an X server whose last client leaves
// resets itself, and a connection Allegro attempted during that reset would be refused.
int DisplayAvailable() {
  static Display *probe = XOpenDisplay(nullptr);
  return probe ? -1 : 0;
}
