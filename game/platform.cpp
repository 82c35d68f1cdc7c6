// The operating-system layer: display detection and the keyboard's real state, for X11.
#include "platform.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// The test connection stays open for the whole run: an X server whose last client leaves
// resets itself, and a connection Allegro attempted during that reset would be refused.
Display *probe = nullptr;

}  // namespace

int DisplayAvailable() {
  if (!probe) probe = XOpenDisplay(nullptr);
  return probe ? -1 : 0;
}

// Without a window manager the focus follows the pointer, and a key released while the pointer is
// outside the window sends its release elsewhere: Allegro would hold it down for good. When the
// pointer comes back, the server tells which keys are really down.
void ForgetReleasedKeys() {
  static const struct {
    int scancode;
    KeySym sym;
  } kMoves[] = {{KEY_UP, XK_Up}, {KEY_DOWN, XK_Down}, {KEY_LEFT, XK_Left}, {KEY_RIGHT, XK_Right}};
  static int was_on_screen = -1;
  const int on_screen = mouse_on_screen() ? -1 : 0;
  const int back = on_screen && !was_on_screen;
  was_on_screen = on_screen;
  if (!back || !probe) return;
  char down[32];
  XQueryKeymap(probe, down);
  for (const auto &k : kMoves) {
    const KeyCode code = XKeysymToKeycode(probe, k.sym);
    if (code && !(down[code / 8] & (1 << (code % 8)))) key[k.scancode] = 0;
  }
}
