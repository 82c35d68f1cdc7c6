#!/usr/bin/env bash
# A player's sessions in the real program, from start-up to exit:
#  - missing, damaged or foreign datafiles and no X display stop it with a message before any
#    window; with no sound device and a damaged high-score file it starts, sets the file aside,
#    and Escape on the title writes a default table;
#  - the ways a session ends: Escape held in the start-game menu leaves the menu only; the
#    window's close button (as a window manager sends it) in the menu and during a level (where a
#    second click answers the quit question and the result is entered on the way out; signals
#    are in player_files.sh); the focus lost during play pauses the level;
#  - a game recorded with --record on the difficulty the options screen set: play, F10's
#    picture, F5 saves (1164 bytes), F6 brings score and place back, a 400-character path is
#    refused; Escape and Y give "G A M E  O V E R", the name asked for is on the high-score
#    screen and in "vorbel.hsc" at once; Reset; a custom level of the level kit; the credits;
#    "Exit".
# Usage: session.sh RUN_DIR WM_DELETE HSC_SCREEN [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1" "${4:-}"
WM_DELETE=$2 hsc_screen=$3

# refused WHAT MESSAGE: the game ends with status 1 and MESSAGE (a pattern), no window opened.
refused() {
  game_start; game_wait_exit
  [ "$GAME_STATUS" = 1 ] || fail "$1: status $GAME_STATUS"
  grep -q "$2" "$E2E_DIR/out.txt" || fail "$1: the message was: $(cat "$E2E_DIR/out.txt")"
  [ -z "$(xdotool search --onlyvisible --name Vorbel 2>/dev/null)" ] || fail "$1: a window was opened"
}
# same_screen WHAT SHOT PICTURE: the high-score part of the screen (above the buttons) is the
# picture, allowing for the 6-bit palette's rounding.
same_screen() {
  convert "$3" "$E2E_DIR/ref.png"
  local diff
  diff=$(compare -metric AE -fuzz 3% -extract 640x415+0+0 "$2" "$E2E_DIR/ref.png" null: 2>&1)
  [ "$diff" = 0 ] || fail "$1: $diff pixels differ from the table drawn from the file"
}

note "start-up refusals"
mv "$G/set12.dat" "$E2E_DIR/set12.dat"
refused "a missing set12.dat" "^Error: Cannot find file set12.dat$"
mv "$E2E_DIR/set12.dat" "$G/set12.dat"
rm "$G/set3.dat"; head -c 3000 /dev/urandom > "$G/set3.dat"
refused "a damaged set3.dat" "^Error: .*set3.dat"
rm "$G/set3.dat"; ln -s "$E2E_RUN/set3.dat" "$G/set3.dat"
rm "$G/maps.dat"; ln -s "$E2E_RUN/vorbel.dat" "$G/maps.dat"
refused "a maps.dat of pictures" "^Error: File maps.dat is damaged: object [0-9]* is not a level map"
rm "$G/maps.dat"; ln -s "$E2E_RUN/maps.dat" "$G/maps.dat"
DISPLAY= refused "no X display" "^Error: Cannot open the X display"

note "no sound device and a damaged high-score file: Escape on the title"
printf 'pcm.!default { type hw; card 7 }\nctl.!default { type hw; card 7 }\n' > "$HOME/.asoundrc"
head -c 100 /dev/urandom > "$G/vorbel.hsc"
game_start; game_window
press Escape
expect_exit "Escape on the title"
grep -q "Installing without sound" "$E2E_DIR/out.txt" || fail "the no-sound path was not taken"
[ "$(stat -c %s "$G/vorbel.hsc.damaged")" = 100 ] || fail "the damaged table was not set aside whole"
grep -q "kept as vorbel.hsc.damaged" "$E2E_DIR/out.txt" || fail "the player was not told where the damaged table went"
rm -f "$HOME/.asoundrc"

note "Escape held in the start-game menu leaves the menu only; then the close button in the menu"
game_start; game_window
screenshot "$art/title.png"
click 315 302 2          # "Play Game"
screenshot "$art/menu.png"
hold Escape 1.0
sleep 2
running "Escape held in the menu"
screenshot "$art/title-again.png"
expect_change '<' 0.02 "the title did not come back after Escape" 0 0 640 480 "$art/title.png" "$art/title-again.png"
click 315 302 2
close_button
expect_exit "close button in the menu"

note "the close button during a level asks the quit question"
game_start; game_window
start_level
screenshot "$art/level.png"
close_button
screenshot "$art/level-close.png"
running "close button during a level"
expect_change '>' 0.02 "no quit question after the close button" 100 245 300 25 "$art/level.png" "$art/level-close.png"
press n
hold Left 0.6
screenshot "$art/level-resumed.png"
running "answering N"
expect_change '>' 0.001 "the level did not go on after N" 20 20 440 440 "$art/level-close.png" "$art/level-resumed.png"
# A click while the save selector is open closes it and asks the question; a second click while
# the question is up answers it: straight on to the exit, the result entered under the default name.
press F5
sleep 1
close_button
screenshot "$art/level-second-close.png"
[ "$(text_pixels "$art/level-second-close.png" 100 248 300 20)" -gt 300 ] ||
  fail "the close button did not close the selector and ask the quit question"
close_button
expect_exit "close button answering the quit question" scored

note "the game recorded: playing, F10 takes a picture of the play screen"
game_start --record "$E2E_DIR/played.rec"; game_window
difficulty_arrow 230     # Easy, kept for the games that follow
click 170 155 3          # "Start Game"
screenshot "$art/play-start.png"
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

note "the window loses the focus during play: the level pauses until a key and C"
screenshot "$art/focus-in.png"
root=$(xwininfo -root | awk '/Window id/ {print $4}')
xdotool keydown Up; sleep 0.3
xdotool windowfocus "$root"; sleep 1   # as a window manager gives another window the focus
xdotool keyup Up                       # released elsewhere: the game never sees it come up
screenshot "$art/focus-out.png"
sleep 1
screenshot "$art/focus-out-later.png"
expect_change '>' 0.05 "no [Paused] when the focus went" 200 235 120 35 "$art/focus-in.png" "$art/focus-out.png"
expect_change '<' 0.001 "the level went on without the focus" 20 20 440 440 "$art/focus-out.png" "$art/focus-out-later.png"
xdotool windowfocus "$WID"; sleep 0.5
press a; sleep 0.3
press c; sleep 1
screenshot "$art/focus-back.png"
expect_change '>' 0.05 "the pause did not end on a key and C" 200 235 120 35 "$art/focus-out.png" "$art/focus-back.png"

note "F5: a saved game under a typed name"
press F5
sleep 1
select_file "$G/first.svg"
[ "$(stat -c %s "$G/first.svg" 2>/dev/null)" = 1164 ] || fail "F5 wrote no saved game of 1164 bytes"
[ "$(tail -c 44 "$G/first.svg" | head -c 43)" = "Vorbel Endurnal v2.0 - Windows Only Version" ] || fail "no trailer"
score=$(int32_at "$G/first.svg" 24)
[ "$score" -gt 0 ] || fail "the saved score is $score"
screenshot "$art/after-save.png"

note "playing on, then F6 loads the game back"
hold Up 0.6
hold Right 1.5
press F6
sleep 1
select_file "$G/first.svg"
screenshot "$art/after-load.png"
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
running "a long path"
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
check_default_table "Reset"
"$hsc_screen" "$E2E_RUN" "$G" "$E2E_DIR/after-reset.pcx" > /dev/null || fail "hsc_screen failed"
same_screen "after Reset" "$art/reset.png" "$E2E_DIR/after-reset.pcx"
click 200 435 2          # "E x i t": the game's recording is written
wait_for_file "$E2E_DIR/played.rec"

note "a custom level made by the level kit"
mkdir -p "$G/custom"
{
  printf 'name: Quick\nwalls: 2\nballs: 19\nbugs: 0\nbug_sprite: 4\npoints: 10 20 30 40 50 60 70 80\nmap:\n'
  printf '######################\n#V. ##################\n'
  for r in $(seq 2 19); do printf '### ##################\n'; done
  printf '###               B  #\n######################\n'
} > "$E2E_DIR/quick.txt"
"$E2E_RUN/vorbel-mapc" "$E2E_DIR/quick.txt" -o "$G/custom/quick.map" || fail "vorbel-mapc refused the level"
click 170 215 2          # "Play Custom Level"
xdotool type --delay 40 "quick.map"   # the selector opens in custom/
press Return
sleep 2
hold Right 1.5           # the one ball: the level is cleared and the game is over
sleep 1; press space     # past "Level Cleared!!!"
xdotool type --delay 120 "Kit"
press Return
sleep 1.5
"$hsc_screen" "$E2E_RUN" "$G" "$E2E_DIR/custom.pcx" > "$E2E_DIR/custom.txt"
# The ball's 10 points, on Easy still: the options hold for the whole run (Normal would add 10).
[ "$(head -1 "$E2E_DIR/custom.txt")" = "1 10 1 0 Kit" ] || fail "after the custom level: $(head -1 "$E2E_DIR/custom.txt")"
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
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS after Exit"

echo "session: all checks passed"
