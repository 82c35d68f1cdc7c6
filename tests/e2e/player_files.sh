#!/usr/bin/env bash
# A player's files and keys: SIGTERM ends start-up cleanly and keeps a game's result; a left
# vorbel.hsc.new goes; an unwritten table gives status 1; options are kept in vorbel.cfg (a damaged
# one gives the defaults); an arrow released outside the window (no window manager) is let go;
# a typed save name gets ".svg"; "Overwrite?" takes Enter and Escape, not "c".
# Usage: player_files.sh RUN_DIR
source "$(dirname "$0")/lib.sh"
e2e_init "$1"

printf 'sound on\nmusic loud\n' > "$G/vorbel.cfg"   # damaged options
note "SIGTERM during start-up"
for delay in 0.05 0.2 0.4 0.7 1.0; do
  echo leftover > "$G/vorbel.hsc.new"
  game_start; sleep $delay; kill -TERM "$GAME_PID"
  expect_exit "SIGTERM after ${delay}s"
  grep -q "due to signal" "$E2E_DIR/err.txt" || [ -e "$G/vorbel.hsc.new" ] && fail "Allegro's handler ran, or vorbel.hsc.new stayed"
done
grep -q "vorbel.cfg cannot be used (line 2: a value out of range)" "$E2E_DIR/out.txt" || fail "damaged options: $(cat "$E2E_DIR/out.txt")"
mkdir "$G/vorbel.hsc.new"; game_start; game_window; kill -TERM "$GAME_PID"; game_wait_exit  # unwritten table
[ "$GAME_STATUS" = 1 ] && grep -q "Error writing file: vorbel.hsc" "$E2E_DIR/out.txt" ||
  fail "an unwritten table: status $GAME_STATUS, $(cat "$E2E_DIR/out.txt")"
rmdir "$G/vorbel.hsc.new"

note "the options are kept"
game_start; game_window
difficulty_arrow 230; click 470 275 2; click 315 332   # Easy, "Previous Menu", "Exit"
expect_exit "leaving the options"
[ "$(sed -n 3,5p "$G/vorbel.cfg")" = "$(printf 'sound_volume 200\nmusic_volume 200\ndifficulty Easy')" ] ||
  fail "vorbel.cfg holds: $(cat "$G/vorbel.cfg")"

note "an arrow released outside the window; saved games by typed names"
game_start --record "$E2E_DIR/easy.rec"; game_window
start_level
xdotool keydown Right; sleep 0.3; xdotool mousemove 700 550; sleep 0.2   # the focus follows the pointer out
xdotool keyup Right; sleep 0.2; xdotool mousemove --window "$WID" 320 470; sleep 0.3
save() { press F5; sleep 1; xdotool type --delay 40 "$1"; press Return; sleep 0.8; }
save first; sleep 1; save second
[ "$(int32_at "$G/first.svg" 0)" = "$(int32_at "$G/second.svg" 0)" ] ||
  fail "the vorbel went on from x $(int32_at "$G/first.svg" 0) to $(int32_at "$G/second.svg" 0) ($(ls "$G"))"
cp "$G/first.svg" "$E2E_DIR/first.svg"
hold Left 0.4
save first; press c; sleep 0.3; press Escape; sleep 0.5
cmp -s "$G/first.svg" "$E2E_DIR/first.svg" || fail "\"c\" at \"Overwrite?\" overwrote the saved game"
save first; xdotool mousemove --window "$WID" 300 250; sleep 0.2; press Return; sleep 0.5
cmp -s "$G/first.svg" "$E2E_DIR/first.svg" && fail "Enter after a mouse move did not overwrite"
kill -TERM "$GAME_PID"
expect_exit "SIGTERM during play" scored   # the game's result is kept
[ "$(od -An -tu1 -j 40 -N 1 "$E2E_DIR/easy.rec" | tr -d ' ')" = 0 ] || fail "the kept difficulty was not played"
echo "player_files: all checks passed"
