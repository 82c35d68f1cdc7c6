#!/usr/bin/env bash
# A game from the title screen and back, recorded with --record: "Play Game", "Start Game", a few
# seconds of play with the arrow keys, a screenshot of the play screen, Escape and Y, "G A M E
# O V E R", Space, a name for the high-score table (its box alone on the maze) and its Exit, the
# menu again, the credits, "Previous Menu", "Exit". The recording, replayed at full speed, must
# end on the score and bug count the table holds, and hold the name typed.
# Usage: gameplay.sh RUN_DIR [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
art=${2:-$E2E_DIR/artifacts}
mkdir -p "$art"

(cd "$E2E_GAME" && exec "$E2E_RUN/vorbel" --record "$E2E_DIR/played.rec") >"$E2E_DIR/out.txt" 2>"$E2E_DIR/err.txt" &
GAME_PID=$!
E2E_PIDS+=($GAME_PID)
game_window
click 315 302 2          # "Play Game"
screenshot "$art/menu.png"
click 170 155 3          # "Start Game"
screenshot "$art/play-start.png"
expect_change '>' 0 "no maze appeared" 20 20 440 440 "$art/menu.png" "$art/play-start.png"

note "playing"
hold Left 1.2
hold Up 0.8
hold Right 0.8
hold Down 0.8
hold F10 0.3
wait_for_file "$E2E_GAME/vorbel.pcx"
sleep 0.3
cp "$E2E_GAME/vorbel.pcx" "$art/play.pcx"
convert "$art/play.pcx" "$art/play.png"
[ "$(identify -format '%w %h' "$art/play.png")" = "640 480" ] || fail "the screenshot is not 640x480"
maze=$(colours_in "$art/play.png" 20 20 440 440)
panel=$(colours_in "$art/play.png" 465 10 175 450)
note "maze colours $maze, panel colours $panel"
[ "$maze" -ge 8 ] || fail "the maze looks empty ($maze colours)"
[ "$panel" -ge 8 ] || fail "the side panel looks empty ($panel colours)"
# The vorbel moved and ate: the maze differs from the first frame of the level.
expect_change '>' 0.001 "nothing moved in the maze" 20 20 440 440 "$art/play-start.png" "$art/play.png"

note "quitting with Escape and Y"
press Escape
sleep 0.5
screenshot "$art/quit-prompt.png"
press y
sleep 1
screenshot "$art/game-over.png"
expect_change '>' 0.02 "no game-over message" 140 150 380 70 "$art/quit-prompt.png" "$art/game-over.png"
kill -0 "$GAME_PID" || fail "the game ended at the game-over message"
press space
sleep 1
# The game scored, so it is offered to the (default) high-score table: a name, then the table.
# The box stands alone: no line of "G A M E   O V E R" or "Press Spacebar" beside it.
screenshot "$art/name-entry.png"
expect_change '<' 0.001 "the game-over lines are still beside the name box" 345 150 115 70 "$art/play-start.png" "$art/name-entry.png"
xdotool type --delay 120 "Replayer"
press Return
sleep 1
click 200 435 2          # "E x i t" of the high-score screen
screenshot "$art/menu-again.png"
expect_change '<' 0.02 "the start-game menu did not come back" 0 0 640 480 "$art/menu.png" "$art/menu-again.png"

note "credits"
click 470 215 2          # "Credits"
screenshot "$art/credits.png"
expect_change '>' 0.3 "the credits screen did not open" 0 0 640 480 "$art/menu.png" "$art/credits.png"
press Return
sleep 2
screenshot "$art/menu-after-credits.png"
expect_change '<' 0.02 "the credits did not close on a key" 0 0 640 480 "$art/menu.png" "$art/menu-after-credits.png"

note "Previous Menu, Exit"
click 470 275 2          # "Previous Menu"
click 315 332            # "Exit"
game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS"

note "the recorded game replayed"
read -r score _ bugs <<< "$(od -An -td4 -N 12 "$E2E_GAME/vorbel.hsc")"
[ "$(dd if="$E2E_GAME/vorbel.hsc" bs=1 skip=12 count=8 2>/dev/null)" = Replayer ] || fail "the name typed is not in the table"
(cd "$E2E_GAME" && "$E2E_RUN/vorbel" --replay "$E2E_DIR/played.rec" --fast) > "$E2E_DIR/replayed.txt" 2>/dev/null ||
  fail "the replay failed: $(cat "$E2E_DIR/replayed.txt")"
grep -qE "^score $score level 1 lives [0-9]+ bugs $bugs\$" "$E2E_DIR/replayed.txt" ||
  fail "the replay ended on '$(tail -1 "$E2E_DIR/replayed.txt")', the table holds score $score, bugs $bugs"
grep -q Replayer "$E2E_DIR/played.rec" || fail "the recording does not hold the name typed"
echo "gameplay: all checks passed"
