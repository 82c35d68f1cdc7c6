// The small layer between the game and the operating system: the game asks for a windowed
// 640x480 mode, and on X11 it must first make sure a display can be opened at all, since
// Allegro's timer installation crashes without one.
#pragma once

#include <allegro.h>

// The windowed driver of the game's screen.
constexpr int GFX_GAME_WINDOW = GFX_AUTODETECT_WINDOWED;

// -1 when an X display can be opened, 0 when not.
int DisplayAvailable();
// When the pointer has come back to the window, the arrow keys that Allegro holds down but the
// display has released are let go.
void ForgetReleasedKeys();
