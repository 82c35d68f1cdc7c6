#!/usr/bin/env bash
# Start-up and shutdown of the real program: both ways out of the title screen write a default
# high-score table, missing or damaged datafiles (a maps.dat of pictures too) stop it with a
# message before any window, F10 writes a screenshot, and it starts with no sound device (that it
# plays through a sound server is title_music.sh's check).
# Usage: startup.sh RUN_DIR
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

note "Escape on the title"
rm -f "$E2E_GAME/vorbel.hsc"
game_start; game_window
press Escape
game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS after Escape"
check_default_table "Escape on the title"

note "F10 writes a 640x480 screenshot of the title; then the Exit button"
rm -f "$E2E_GAME/vorbel.hsc"
game_start; game_window
hold F10 0.3
wait_for_file "$E2E_GAME/vorbel.pcx"
sleep 0.5
[ "$(identify -format '%w %h' "$E2E_GAME/vorbel.pcx")" = "640 480" ] || fail "vorbel.pcx is not 640x480"
[ "$(convert "$E2E_GAME/vorbel.pcx" -unique-colors -format '%w' info:)" -gt 16 ] || fail "the screenshot is nearly blank"
click 315 332
game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS after Exit"
check_default_table "the Exit button"

note "a damaged high-score file"
head -c 100 /dev/urandom > "$E2E_GAME/vorbel.hsc"
game_start; game_window
press Escape; game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS with a damaged vorbel.hsc"
[ "$(stat -c %s "$E2E_GAME/vorbel.hsc")" = 420 ] || fail "the table was not rewritten whole"
[ "$(stat -c %s "$E2E_GAME/vorbel.hsc.damaged")" = 100 ] || fail "the damaged table was not set aside whole"
grep -q "kept as vorbel.hsc.damaged" "$E2E_DIR/out.txt" || fail "the player was not told where the damaged table went"

note "a missing set12.dat"
mv "$E2E_GAME/set12.dat" "$E2E_DIR/set12.dat"
game_start
game_wait_exit
[ "$GAME_STATUS" = 1 ] || fail "status $GAME_STATUS without set12.dat"
grep -qx "Error: Cannot find file set12.dat" "$E2E_DIR/out.txt" || fail "message was: $(cat "$E2E_DIR/out.txt")"
[ -z "$(xdotool search --onlyvisible --name Vorbel 2>/dev/null)" ] || fail "a window was opened"
mv "$E2E_DIR/set12.dat" "$E2E_GAME/set12.dat"

note "a damaged set3.dat"
rm "$E2E_GAME/set3.dat"; head -c 3000 /dev/urandom > "$E2E_GAME/set3.dat"
game_start; game_wait_exit
[ "$GAME_STATUS" = 1 ] || fail "status $GAME_STATUS with a damaged set3.dat"
grep -q "^Error: .*set3.dat" "$E2E_DIR/out.txt" || fail "message was: $(cat "$E2E_DIR/out.txt")"
rm "$E2E_GAME/set3.dat"; ln -s "$E2E_RUN/set3.dat" "$E2E_GAME/set3.dat"

note "a maps.dat of pictures"
rm "$E2E_GAME/maps.dat"; ln -s "$E2E_RUN/vorbel.dat" "$E2E_GAME/maps.dat"
game_start; game_wait_exit
[ "$GAME_STATUS" = 1 ] || fail "status $GAME_STATUS with pictures for maps"
grep -q "^Error: File maps.dat is damaged: object [0-9]* is not a level map" "$E2E_DIR/out.txt" || fail "message was: $(cat "$E2E_DIR/out.txt")"
rm "$E2E_GAME/maps.dat"; ln -s "$E2E_RUN/maps.dat" "$E2E_GAME/maps.dat"

note "no X display"
(cd "$E2E_GAME" && DISPLAY= "$E2E_RUN/vorbel") > "$E2E_DIR/nodisp.txt" 2>&1 && fail "started without a display"
grep -q "^Error: Cannot open the X display" "$E2E_DIR/nodisp.txt" || fail "message was: $(cat "$E2E_DIR/nodisp.txt")"

note "no sound device at all"
printf 'pcm.!default { type hw; card 7 }\nctl.!default { type hw; card 7 }\n' > "$HOME/.asoundrc"
game_start; game_window
press Escape; game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS without a sound device"
grep -q "Installing without sound" "$E2E_DIR/out.txt" || fail "the no-sound path was not taken: $(cat "$E2E_DIR/out.txt")"
rm -f "$HOME/.asoundrc"

echo "startup: all checks passed"
