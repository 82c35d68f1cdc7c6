#!/usr/bin/env bash
# The ways a session ends or interrupts the game, on the real program: the window's close button
# (as a window manager sends it) on the title, in the menu and during a level; SIGINT and SIGTERM;
# Escape held in the start-game menu; and the safety line of the play screen, which must show no
# digits of an earlier, longer count when the count ends.
# Usage: requests.sh RUN_DIR WM_DELETE_PROGRAM [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
wm_delete=$2
art=${3:-$E2E_DIR/artifacts}
mkdir -p "$art"

expected_entry=$(printf '\0\0\0\0\1\0\0\0\0\0\0\0Vorbel-Endurant\0' | od -An -tx1 | tr -d ' \n')
check_default_table() {
  [ -f "$E2E_GAME/vorbel.hsc" ] || fail "$1: vorbel.hsc was not written"
  [ "$(stat -c %s "$E2E_GAME/vorbel.hsc")" = 420 ] || fail "$1: vorbel.hsc is not 420 bytes"
  local k got
  for k in $(seq 0 14); do
    got=$(od -An -tx1 -j $((28 * k)) -N 28 "$E2E_GAME/vorbel.hsc" | tr -d ' \n')
    [ "$got" = "$expected_entry" ] || fail "$1: entry $k is not the default: $got"
  done
}
# expect_exit WHAT [scored]: the game ends by itself with status 0, the table written: the default
# one, or with "scored" a whole table whose best entry holds a score (a game was played).
expect_exit() {
  game_wait_exit 20
  [ "$GAME_STATUS" = 0 ] || fail "$1: status $GAME_STATUS"
  if [ "${2:-}" = scored ]; then
    [ "$(stat -c %s "$E2E_GAME/vorbel.hsc" 2>/dev/null)" = 420 ] || fail "$1: vorbel.hsc was not written whole"
    [ "$(od -An -tu4 -N 4 "$E2E_GAME/vorbel.hsc" | tr -d ' ')" -gt 0 ] || fail "$1: the game's score is not in the table"
  else
    check_default_table "$1"
  fi
  rm -f "$E2E_GAME/vorbel.hsc"
}
running() { kill -0 "$GAME_PID" 2>/dev/null || fail "$1: the game ended"; }
# Share of a region's pixels that differ between two screenshots (0..1).
changed() {
  compare -metric AE -fuzz 2% -extract "${3}x${4}+${1}+${2}" "$5" "$6" null: 2>&1 | awk -v a=$(( $3 * $4 )) '{printf "%.3f", $1 / a}'
}
close_button() { "$wm_delete" "$WID" || fail "WM_DELETE_WINDOW could not be sent"; sleep 1; }

note "the close button on the title"
game_start; game_window
close_button
expect_exit "close button on the title"

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
share=$(changed 0 0 640 480 "$art/req-title.png" "$art/req-title-again.png")
awk -v m="$share" 'BEGIN{exit !(m < 0.02)}' || fail "the title did not come back after Escape ($share)"
press Escape
expect_exit "Escape on the title"

note "the close button during a level asks the quit question"
game_start; game_window
click 315 302 2          # "Play Game"
click 170 155 3          # "Start Game"
screenshot "$art/req-level.png"
close_button
screenshot "$art/req-level-close.png"
running "close button during a level"
share=$(changed 100 245 300 25 "$art/req-level.png" "$art/req-level-close.png")
awk -v m="$share" 'BEGIN{exit !(m > 0.02)}' || fail "no quit question after the close button ($share)"
press n
hold Left 0.6
screenshot "$art/req-level-resumed.png"
running "answering N"
share=$(changed 20 20 440 440 "$art/req-level-close.png" "$art/req-level-resumed.png")
awk -v m="$share" 'BEGIN{exit !(m > 0.001)}' || fail "the level did not go on after N ($share)"
close_button
press y
sleep 1
screenshot "$art/req-game-over.png"
press space
sleep 2
running "answering Y"
close_button             # on the name entry of the high-score table, or the menu after it
expect_exit "close button after a game" scored

# The safety box: the rightmost column (from the box's left edge at x 500) of the line that is not
# its background (the colour at the box's right end), 0 for an empty line.
safety_right() {
  local bg
  bg=$(convert "$1" -format '%[pixel:p{628,412}]' info:)
  convert "$1" -crop 130x13+500+410 +repage -fill black -opaque "$bg" -fill white +opaque black \
    -bordercolor black -border 1 -format '%@' info: | awk -F'[x+]' '{ print ($1 > 0 && $1 < 132) ? $3 + $1 - 2 : 0 }'
}

note "the safety line: a power ball on Easy, then its count to the end"
game_start; game_window
click 315 302 2          # "Play Game"
click 170 275 2          # "Game Options"
click 230 315            # difficulty down: Easy
click 320 415 2          # "E x i t"
click 170 155 3          # "Start Game"
screenshot "$art/req-safety-start.png"
# From the start cell left to the wall, up two cells, left to the wall, down over the power ball
# in the lower left corner (a ball going downwards is eaten on the step that leaves it).
hold Left 2.5
hold Up 0.5
hold Left 1.5
hold Down 1.5
started=
for i in $(seq 1 20); do
  screenshot "$art/req-safety-1.png"
  share=$(changed 500 410 130 13 "$art/req-safety-start.png" "$art/req-safety-1.png")
  awk -v m="$share" 'BEGIN{exit !(m > 0.2)}' && { started=1; break; }
  press space            # should a bug have caught the vorbel
  sleep 0.5
done
[ -n "$started" ] || fail "the safety count did not start"
sleep 3                  # well into the three-digit counts
screenshot "$art/req-safety-running.png"
running_right=$(safety_right "$art/req-safety-running.png")
note "safety line while running ends at column $running_right"
[ "$running_right" -gt 60 ] || fail "no count on the safety line ($running_right)"
ended=
for i in $(seq 1 90); do
  sleep 0.5
  screenshot "$art/req-safety-end.png"
  r=$(safety_right "$art/req-safety-end.png")
  [ "$r" -gt 0 ] && [ "$r" -lt "$running_right" ] && { ended=1; break; }
  running "waiting for the end of the safety count"
done
note "safety line at the end ends at column ${r:-?}"
# "Safety:    0" is narrower than any three-digit count; digits of the last four-digit count left
# behind would reach past it.
[ -n "$ended" ] || fail "the safety line never narrowed to 'Safety:    0' (leftover digits?), last column $r"

note "the window loses the focus during play: the level pauses until a key and C"
root=$(xwininfo -root | awk '/Window id/ {print $4}')
xdotool keydown Left; sleep 0.3
xdotool windowfocus "$root"; sleep 1   # as a window manager gives another window the focus
xdotool keyup Left                     # released elsewhere: the game never sees it come up
screenshot "$art/req-focus-out.png"
sleep 1
screenshot "$art/req-focus-out-later.png"
share=$(changed 200 235 120 35 "$art/req-safety-end.png" "$art/req-focus-out.png")
awk -v m="$share" 'BEGIN{exit !(m > 0.05)}' || fail "no [Paused] when the focus went ($share)"
share=$(changed 20 20 440 440 "$art/req-focus-out.png" "$art/req-focus-out-later.png")
awk -v m="$share" 'BEGIN{exit !(m < 0.001)}' || fail "the level went on without the focus ($share)"
xdotool windowfocus "$WID"; sleep 0.5
press a; sleep 0.3
press c; sleep 1
screenshot "$art/req-focus-back.png"
share=$(changed 200 235 120 35 "$art/req-focus-out.png" "$art/req-focus-back.png")
awk -v m="$share" 'BEGIN{exit !(m > 0.05)}' || fail "the pause did not end on a key and C ($share)"
running "the pause"

note "SIGTERM during play"
kill -TERM "$GAME_PID"
expect_exit "SIGTERM during play"
grep -q "Aborted\|Shutting down Allegro due to signal" "$E2E_DIR/err.txt" "$E2E_DIR/out.txt" && fail "Allegro's own signal handler ran"
echo "requests: all checks passed"
