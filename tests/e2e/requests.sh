#!/usr/bin/env bash
# The ways a session ends or interrupts the game, on the real program: Escape held in the
# start-game menu; the window's close button (as a window manager sends it) on the title, in the
# menu and during a level (where a second click answers the quit question and the result is
# entered on the way out); SIGINT and SIGTERM (the game's result is kept); the focus lost during
# play.
# Usage: requests.sh RUN_DIR WM_DELETE_PROGRAM [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
wm_delete=$2
art=${3:-$E2E_DIR/artifacts}
mkdir -p "$art"

# expect_exit WHAT [scored]: the game ends by itself with status 0, the table written: the default
# one, or with "scored" a whole table whose best entry holds a score (a game was played).
expect_exit() {
  game_wait_exit 20
  [ "$GAME_STATUS" = 0 ] || fail "$1: status $GAME_STATUS"
  if [ "${2:-}" = scored ]; then
    [ "$(stat -c %s "$E2E_GAME/vorbel.hsc" 2>/dev/null)" = 420 ] || fail "$1: vorbel.hsc was not written whole"
    [ "$(od -An -tu4 -N 4 "$E2E_GAME/vorbel.hsc" | tr -d ' ')" -gt 0 ] || fail "$1: the game's score is not in the table"
    [ "$(dd if="$E2E_GAME/vorbel.hsc" bs=1 skip=12 count=15 2>/dev/null)" = Vorbel-Endurant ] ||
      fail "$1: the result was not entered under the default name"
  else
    check_default_table "$1"
  fi
  rm -f "$E2E_GAME/vorbel.hsc"
}
running() { kill -0 "$GAME_PID" 2>/dev/null || fail "$1: the game ended"; }
close_button() { "$wm_delete" "$WID" || fail "WM_DELETE_WINDOW could not be sent"; sleep 1; }

note "the close button in the start-game menu"
game_start; game_window
click 315 302 2          # "Play Game"
close_button
expect_exit "close button in the menu"

note "SIGINT on the title"
game_start; game_window
kill -INT "$GAME_PID"
expect_exit "SIGINT on the title"

note "Escape held in the start-game menu leaves the menu only"
game_start; game_window
screenshot "$art/req-title.png"
click 315 302 2          # "Play Game"
hold Escape 1.0
sleep 2
running "Escape held in the menu"
screenshot "$art/req-title-again.png"
expect_change '<' 0.02 "the title did not come back after Escape" 0 0 640 480 "$art/req-title.png" "$art/req-title-again.png"
note "the close button on the title"
close_button
expect_exit "close button on the title"

note "the close button during a level asks the quit question"
game_start; game_window
start_level
screenshot "$art/req-level.png"
close_button
screenshot "$art/req-level-close.png"
running "close button during a level"
expect_change '>' 0.02 "no quit question after the close button" 100 245 300 25 "$art/req-level.png" "$art/req-level-close.png"
press n
hold Left 0.6
screenshot "$art/req-level-resumed.png"
running "answering N"
expect_change '>' 0.001 "the level did not go on after N" 20 20 440 440 "$art/req-level-close.png" "$art/req-level-resumed.png"
# A click while the save selector is open closes it and asks the question; a second click while
# the question is up answers it: the program goes straight to its exit, the game's result entered
# in the table under the default name, with no further clicks.
press F5
sleep 1
close_button
screenshot "$art/req-level-second-close.png"
[ "$(text_pixels "$art/req-level-second-close.png" 100 248 300 20)" -gt 300 ] ||
  fail "the close button did not close the selector and ask the quit question"
close_button             # while the question is up: yes, and straight on to the exit
expect_exit "close button answering the quit question" scored

game_start; game_window
start_level
hold Left 0.5
screenshot "$art/req-focus-in.png"

note "the window loses the focus during play: the level pauses until a key and C"
root=$(xwininfo -root | awk '/Window id/ {print $4}')
xdotool keydown Left; sleep 0.3
xdotool windowfocus "$root"; sleep 1   # as a window manager gives another window the focus
xdotool keyup Left                     # released elsewhere: the game never sees it come up
screenshot "$art/req-focus-out.png"
sleep 1
screenshot "$art/req-focus-out-later.png"
expect_change '>' 0.05 "no [Paused] when the focus went" 200 235 120 35 "$art/req-focus-in.png" "$art/req-focus-out.png"
expect_change '<' 0.001 "the level went on without the focus" 20 20 440 440 "$art/req-focus-out.png" "$art/req-focus-out-later.png"
xdotool windowfocus "$WID"; sleep 0.5
press a; sleep 0.3
press c; sleep 1
screenshot "$art/req-focus-back.png"
expect_change '>' 0.05 "the pause did not end on a key and C" 200 235 120 35 "$art/req-focus-out.png" "$art/req-focus-back.png"
running "the pause"

note "SIGTERM during play"
kill -TERM "$GAME_PID"
expect_exit "SIGTERM during play" scored
grep -q "Aborted\|Shutting down Allegro due to signal" "$E2E_DIR/err.txt" "$E2E_DIR/out.txt" && fail "Allegro's own signal handler ran"
echo "requests: all checks passed"
