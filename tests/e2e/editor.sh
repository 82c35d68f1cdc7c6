#!/usr/bin/env bash
# The level editor as a designer uses it: a new level drawn with the mouse and the shortcuts (a
# wall bar as a rectangle, balls painted in strokes, a power ball, an undone wall, one more bug,
# a name), saved as text and map, the map compared with what vorbel-mapc makes of the text, and
# the play-test: the game opens on the level drawn, the vorbel eats, the game ends
# through its high-score step and the editor comes back; the map file opened again in the editor
# and saved as text gives the same picture; a damaged map is refused by the game.
# A fast stroke leaves no gap, the floor tool and the lower box are plain, C does not leave.
# Usage: editor.sh RUN_DIR [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1" "${2:-}"
level="$E2E_DIR/edge.txt"

# Window pixel of the centre of maze cell (column, row).
px() { echo $((30 + 20 * $1)); }
py() { echo $((30 + 20 * $1)); }
click_cell() { click "$(px "$1")" "$(py "$2")" 0.2; }
# stroke ROW FROM TO [STEP]: the left button held from column FROM to TO along a row, STEP cells
# (default 1) at a time.
stroke() {
  local x
  xdotool mousemove --window "$WID" "$(px "$2")" "$(py "$1")"; sleep 0.1
  xdotool mousedown 1; sleep 0.1
  for x in $(seq "$2" "${4:-1}" "$3"); do xdotool mousemove --window "$WID" "$(px "$x")" "$(py "$1")"; sleep 0.06; done
  xdotool mouseup 1; sleep 0.2
}
row_of() { sed -n '/^map:$/,$p' "$level" | sed -n "$(( $1 + 2 ))p"; }

E2E_PROGRAM=vorbel-edit game_start "$level"
wait_window "level editor" editor
xdotool mousemove --window "$WID" 300 470; sleep 1
screenshot "$art/editor-new.png"

note "drawing"
press w r                     # walls, rectangle mode
stroke 3 3 8                  # a wall bar from column 3 to 8 on row 3
press r 1                     # strokes again, balls of value 1
stroke 5 2 15
stroke 16 11 15 4             # a row of balls right of the vorbel's start (10, 16), in one jump
press 5; click_cell 4 8       # a power ball
press h; click_cell 18 3      # the bugs' start, far from the vorbel
press w; click_cell 12 12     # a wall, taken back
press ctrl+z
click 616 211 0.3             # "+" of the bugs: 2 -> 3
press ctrl+n
xdotool type --delay 120 "Edge Test"; press Return
screenshot "$art/editor-drawn.png"
[ "$(colours_in "$art/editor-drawn.png" 504 24 20 20)" -ge 2 ] && [ "$(colours_in "$art/editor-drawn.png" 476 170 154 278)" -le 6 ] || fail "a plain floor tool, or pictures in the lower box"
press ctrl+s
wait_for_file "${level%.txt}.map"

note "checking the saved level"
grep -qx "name: Edge Test" "$level" || fail "the name was not saved: $(head -5 "$level")"
grep -qx "bugs: 3" "$level" || fail "the bug count was not saved"
[ "$(row_of 3)" = "#  ######         B  #" ] || fail "row 3 is '$(row_of 3)', not the wall bar"
[ "$(row_of 5)" = "# ..............     #" ] || fail "row 5 is '$(row_of 5)', not the balls"
[ "$(row_of 8)" = "#   o                #" ] || fail "row 8 is '$(row_of 8)', not the power ball"
[ "$(row_of 12)" = "#                    #" ] || fail "row 12 is '$(row_of 12)': the undone wall is there"
[ "$(row_of 16)" = "#         V.....     #" ] || fail "row 16 is '$(row_of 16)'"
"$E2E_RUN/vorbel-mapc" "$level" -o "$E2E_DIR/compiled.map" >/dev/null || fail "vorbel-mapc refuses the saved level"
cmp -s "$E2E_DIR/compiled.map" "${level%.txt}.map" || fail "the editor's map differs from vorbel-mapc's"

note "play-test"
press ctrl+p
EDITOR_WID=$WID
wait_window '^Vorbel Endurnal$' "play-test game"
WID=$EDITOR_WID
xdotool mousemove 300 470; sleep 1.5
screenshot "$art/play-start.png"
expect_change '<' 0.05 "the game does not show the level drawn" 20 20 440 440 "$art/editor-drawn.png" "$art/play-start.png"
hold Right 0.8
screenshot "$art/play.png"
expect_change '>' 0 "the score did not change: the vorbel ate nothing" 500 205 130 20 "$art/play-start.png" "$art/play.png"
press Escape; sleep 0.5; press y; sleep 1; press space; sleep 1
press Return; sleep 1          # a name for the high-score table
click 200 435 2                # "E x i t" of the high-score screen
for i in $(seq 1 100); do
  xdotool search --onlyvisible --name '^Vorbel Endurnal$' >/dev/null 2>&1 || break
  sleep 0.1
done
xdotool search --onlyvisible --name '^Vorbel Endurnal$' >/dev/null 2>&1 && fail "the game did not end after the level"
# The high-score step took the play-test's score: the table's first entry, written at the end.
best=$(od -An -t d4 -N4 "$E2E_GAME/vorbel.hsc" 2>/dev/null | tr -d ' ')
[ "${best:-0}" -gt 0 ] || fail "the play-test's score is not in vorbel.hsc ('$best')"
# With no sound device the game says so and plays silent; any other error is a fault.
grep "Error" "$E2E_DIR/out.txt" | grep -qv "initializing sound" && fail "the game said: $(cat "$E2E_DIR/out.txt")"

note "opening the map file vorbel-mapc wrote, and saving it as text"
xdotool mousemove --window "$WID" 300 470; sleep 0.5
press ctrl+o; sleep 1
select_file "$E2E_DIR/compiled.map"
press ctrl+s
wait_for_file "$E2E_DIR/compiled.txt"
diff <(sed -n '/^map:$/,$p' "$level") <(sed -n '/^map:$/,$p' "$E2E_DIR/compiled.txt") >/dev/null ||
  fail "the map file opened does not show the level drawn: $(cat "$E2E_DIR/compiled.txt")"
grep -qx "name: compiled" "$E2E_DIR/compiled.txt" || fail "a map file's level is not named after the file"

note "leaving the editor: C does not answer \"Leave without saving?\", Enter does"
press w; click_cell 12 12
press Escape; sleep 0.5; press c; sleep 0.5
running "C at \"Leave without saving?\""
press Return
game_wait_exit 10
[ "$GAME_STATUS" = 0 ] || fail "the editor ended with status $GAME_STATUS"

note "a map file the game refuses: its alert, then status 1"
printf 'not a map' > "$E2E_DIR/bad.map"
game_start --level "$E2E_DIR/bad.map"
game_window
screenshot "$art/refused.png"
click 319 255                 # the alert's "OK"
game_wait_exit 10
[ "$GAME_STATUS" = 1 ] || fail "the game played a damaged map (status $GAME_STATUS)"
echo "editor: all checks passed"
