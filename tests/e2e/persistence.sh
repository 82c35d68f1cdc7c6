#!/usr/bin/env bash
# A player's session in the real program, its input recorded with --record:
#  - "Play Game", "Start Game", play with the arrow keys, F10's picture of the play screen;
#  - F5 saves the game through the file selector (1164 bytes), F6 after playing on brings score
#    and place back, a 400-character path is refused with an alert; Escape and Y give "G A M E
#    O V E R", Space asks for a name (its box alone on the maze), which is on the high-score
#    screen and in "vorbel.hsc" at once;
#  - Reset gives fifteen defaults, on the screen and on disk;
#  - "Play Custom Level" opens in custom/, plays a map of the level kit, ends in the table with
#    level 1 and comes back to the menu; the credits open and close on a key; "Exit";
#  - the recorded game, saved and loaded midway, replayed at full speed ends on the score and bug
#    count of its entry and holds the name typed.
# Usage: persistence.sh RUN_DIR HSC_SCREEN [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
hsc_screen=$2
art=${3:-$E2E_DIR/artifacts}
mkdir -p "$art"
G=$E2E_GAME

# same_screen WHAT SHOT PICTURE: the high-score part of the screen (above the buttons) is the
# picture, allowing for the 6-bit palette's rounding.
same_screen() {
  convert "$3" "$E2E_DIR/ref.png"
  local diff
  diff=$(compare -metric AE -fuzz 3% -extract 640x415+0+0 "$2" "$E2E_DIR/ref.png" null: 2>&1)
  [ "$diff" = 0 ] || fail "$1: $diff pixels differ from the table drawn from the file"
}

# select_file PATH [DELAY_MS]: clears the selector's path, types PATH and confirms.
select_file() {
  xdotool key --delay 15 --repeat 80 BackSpace
  xdotool type --delay "${2:-40}" "$1"
  sleep 0.2
  press Return
  sleep 0.8
}

game_record "$E2E_DIR/played.rec"; game_window
click 315 302 2          # "Play Game"
screenshot "$art/menu.png"
click 170 155 3          # "Start Game"
screenshot "$art/play-start.png"

note "playing; F10 takes a picture of the play screen"
hold Left 1.2            # eats a few balls
hold F10 0.3
wait_for_file "$G/vorbel.pcx"
sleep 0.3
convert "$G/vorbel.pcx" "$art/play.png"
[ "$(identify -format '%w %h' "$art/play.png")" = "640 480" ] || fail "the screenshot is not 640x480"
maze=$(colours_in "$art/play.png" 20 20 440 440)
panel=$(colours_in "$art/play.png" 465 10 175 450)
[ "$maze" -ge 8 ] && [ "$panel" -ge 8 ] || fail "the maze ($maze colours) or the panel ($panel) looks empty"
expect_change '>' 0.001 "nothing moved in the maze" 20 20 440 440 "$art/play-start.png" "$art/play.png"

note "F5: a saved game under a typed name"
press F5
sleep 1
screenshot "$art/save-selector.png"
select_file "$G/first.svg"
[ -f "$G/first.svg" ] || fail "F5 wrote no file"
[ "$(stat -c %s "$G/first.svg")" = 1164 ] || fail "the saved game is $(stat -c %s "$G/first.svg") bytes, not 1164"
[ "$(tail -c 44 "$G/first.svg" | head -c 43)" = "Vorbel Endurnal v2.0 - Windows Only Version" ] || fail "no trailer"
score=$(int32_at "$G/first.svg" 24)
[ "$score" -gt 0 ] || fail "the saved score is $score"
note "saved with score $score at $(int32_at "$G/first.svg" 0),$(int32_at "$G/first.svg" 4)"
screenshot "$art/after-save.png"

note "playing on, then F6 loads the game back"
hold Up 0.6
hold Right 1.5
press F6
sleep 1
select_file "$G/first.svg"
screenshot "$art/after-load.png"
# The score line of the panel shows the saved score again.
[ "$(compare -metric AE -extract 140x16+500+210 "$art/after-save.png" "$art/after-load.png" null: 2>&1)" = 0 ] ||
  fail "the panel's score is not the saved one after F6"
press F5
sleep 1
select_file "$G/second.svg"
for off in 0 4 24 28 32; do
  [ "$(int32_at "$G/second.svg" $off)" = "$(int32_at "$G/first.svg" $off)" ] ||
    fail "field at $off after loading: $(int32_at "$G/second.svg" $off), saved $(int32_at "$G/first.svg" $off)"
done

note "F6 with a path longer than the path buffer"
press F6
sleep 1
select_file "$(printf '/%.0sxxxxxxxxx' $(seq 1 40))" 12   # 400 characters
screenshot "$art/long-path-alert.png"
press Return             # "Error loading saved game"
sleep 0.5
kill -0 "$GAME_PID" 2>/dev/null || fail "the game ended on a long path"
[ "$(ls "$G" | grep -c svg)" = 2 ] || fail "files appeared: $(ls "$G")"

note "Escape held to cancel the selector does not ask the quit question"
press F6
sleep 1
hold Escape 0.6
sleep 0.5
screenshot "$art/after-cancel.png"
[ "$(text_pixels "$art/after-cancel.png" 100 248 300 20)" -lt 50 ] ||
  fail "the quit question came up after Escape cancelled the selector"

note "losing the game: a name for the high-score table"
press Escape
sleep 0.5
screenshot "$art/quit-prompt.png"
press y
sleep 1
screenshot "$art/game-over.png"
expect_change '>' 0.02 "no game-over message" 140 150 380 70 "$art/quit-prompt.png" "$art/game-over.png"
press space
sleep 1
screenshot "$art/name-entry.png"
# The box stands alone: no line of "G A M E   O V E R" or "Press Spacebar" beside it.
expect_change '<' 0.001 "the game-over lines are still beside the name box" 345 150 115 70 "$art/play-start.png" "$art/name-entry.png"
xdotool type --delay 120 "Tester"
press Return
sleep 1.5
xdotool mousemove --window "$WID" 5 470
sleep 0.5
screenshot "$art/high-scores.png"
"$hsc_screen" "$E2E_RUN" "$G" "$E2E_DIR/table.pcx" > "$E2E_DIR/table.txt" || fail "hsc_screen failed"
read -r rank got_score level bugs name < "$E2E_DIR/table.txt"
[ "$name" = Tester ] || fail "vorbel.hsc was not written at the entry: first entry '$name'"
[ "$got_score" = "$(int32_at "$G/second.svg" 24)" ] || fail "entry score $got_score, game score $(int32_at "$G/second.svg" 24)"
[ "$level" = 1 ] || fail "entry level $level"
same_screen "the new entry" "$art/high-scores.png" "$E2E_DIR/table.pcx"

note "Reset"
click 440 435 1          # "R e s e t"
xdotool mousemove --window "$WID" 5 470
sleep 0.5
screenshot "$art/reset.png"
[ "$(stat -c %s "$G/vorbel.hsc")" = 420 ] || fail "vorbel.hsc is not 420 bytes after Reset"
"$hsc_screen" "$E2E_RUN" "$G" "$E2E_DIR/after-reset.pcx" > "$E2E_DIR/after-reset.txt" || fail "hsc_screen failed"
[ "$(grep -c ' 0 1 0 Vorbel-Endurant$' "$E2E_DIR/after-reset.txt")" = 15 ] ||
  fail "vorbel.hsc after Reset: $(cat "$E2E_DIR/after-reset.txt")"
same_screen "after Reset" "$art/reset.png" "$E2E_DIR/after-reset.pcx"
click 200 435 2          # "E x i t": the game's recording is written
wait_for_file "$E2E_DIR/played.rec"
mv "$E2E_DIR/played.rec" "$E2E_DIR/first.rec"

note "a custom level made by the level kit"
mkdir -p "$G/custom"
{
  printf 'name: Quick\nwalls: 2\nballs: 19\nbugs: 0\nbug_sprite: 4\npoints: 10 20 30 40 50 60 70 80\nmap:\n'
  printf '######################\n#V. ##################\n'
  for r in $(seq 2 19); do printf '### ##################\n'; done
  printf '###               B  #\n######################\n'
} > "$E2E_DIR/quick.txt"
"$E2E_RUN/vorbel-mapc" "$E2E_DIR/quick.txt" -o "$G/custom/quick.map" || fail "vorbel-mapc refused the level"
[ "$(stat -c %s "$G/custom/quick.map")" = 1048 ] || fail "the custom map is not 1048 bytes"
click 170 215 2          # "Play Custom Level"
screenshot "$art/custom-selector.png"
xdotool type --delay 40 "quick.map"   # the selector opens in custom/
press Return
sleep 2
hold Right 1.5           # the one ball: the level is cleared and the game is over
sleep 1
screenshot "$art/custom-name.png"
xdotool type --delay 120 "Kit"
press Return
sleep 1.5
"$hsc_screen" "$E2E_RUN" "$G" "$E2E_DIR/custom.pcx" > "$E2E_DIR/custom.txt"
[ "$(head -1 "$E2E_DIR/custom.txt")" = "1 20 1 0 Kit" ] || fail "after the custom level: $(head -1 "$E2E_DIR/custom.txt")"
click 200 435 2          # "E x i t"
screenshot "$art/menu-after-custom.png"
[ "$(compare -metric AE -fuzz 2% "$art/menu.png" "$art/menu-after-custom.png" null: 2>&1)" -lt 3000 ] ||
  fail "the menu did not come back after the custom level"

note "credits"
click 470 215 2          # "Credits"
screenshot "$art/credits.png"
expect_change '>' 0.3 "the credits screen did not open" 0 0 640 480 "$art/menu.png" "$art/credits.png"
press Return
sleep 2
screenshot "$art/menu-after-credits.png"
expect_change '<' 0.02 "the credits did not close on a key" 0 0 640 480 "$art/menu.png" "$art/menu-after-credits.png"

click 470 275 2          # "Previous Menu"
click 315 332            # "Exit"
game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS"

note "the first game, saved and loaded midway, replayed"
grep -q Tester "$E2E_DIR/first.rec" || fail "the recording does not hold the name typed"
(cd "$G" && "$E2E_RUN/vorbel" --replay "$E2E_DIR/first.rec" --fast) > "$E2E_DIR/replayed.txt" 2>/dev/null ||
  fail "the replay failed: $(cat "$E2E_DIR/replayed.txt")"
grep -qE "^score $got_score level 1 lives [0-9]+ bugs $bugs\$" "$E2E_DIR/replayed.txt" ||
  fail "the replay ended on '$(tail -1 "$E2E_DIR/replayed.txt")', the entry holds score $got_score, bugs $bugs"
echo "persistence: all checks passed"
