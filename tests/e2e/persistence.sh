#!/usr/bin/env bash
# High scores, saved games and custom levels in the real program:
#  - F5 saves the game through the file selector (1164 bytes), F6 after playing on brings score
#    and place back, a 400-character path is refused with an alert; the game lost with Escape
#    and Y asks for a name, which is on the high-score screen and in "vorbel.hsc" at once;
#  - Reset gives fifteen defaults, on the screen and on disk;
#  - "Play Custom Level" opens in custom/, plays a map of the level kit, ends in the table with
#    level 1 and comes back to the menu.
# Usage: persistence.sh RUN_DIR HSC_SCREEN [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
hsc_screen=$2
art=${3:-$E2E_DIR/artifacts}
mkdir -p "$art"
G=$E2E_GAME

# Signed little-endian 32-bit number at an offset of a file.
int32_at() { od -An -td4 -j "$2" -N 4 "$1" | tr -d ' '; }

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

game_start; game_window
click 315 302 2          # "Play Game"
screenshot "$art/menu.png"
click 170 155 3          # "Start Game"

note "F5: a saved game under a typed name"
hold Left 1.2            # eats a few balls
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
press y
sleep 1
press space
sleep 1
screenshot "$art/name-entry.png"
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
click 200 435 2          # "E x i t"

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

click 470 275 2          # "Previous Menu"
click 315 332            # "Exit"
game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS"
echo "persistence: all checks passed"
