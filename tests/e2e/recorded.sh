#!/usr/bin/env bash
# Games recorded in the window through the real sound route, with XDG_RUNTIME_DIR unset and a fresh
# home: the sound library makes its runtime folder (drawing from the C library's rand()) as sound
# starts, and finds the server at its system-wide socket. Easy: a pause, N to the quit question,
# F5 and F6, Y, a name. Normal, a custom level: a life lost, "You Died!!!" and "Level Cleared!!!"
# on dark boxes, a Space before the name entry left out of the name. Hard: the close button and Y
# end the program at once. Each recording replays at full speed twice alike, as recorded.
# Usage: recorded.sh RUN_DIR WM_DELETE VORBEL_MAPC [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1" "${4:-}"
WM_DELETE=$2 mapc=$3

# The system-wide socket is the machine's one: held under a lock, made and removed here only.
exec 9> /tmp/vorbel-system-pulse.lock
flock -w 300 9 || fail "the system-wide sound socket stayed taken"
pulse_start
[ -e /var/run/pulse ] || { mkdir -p /var/run/pulse; E2E_SYSTEM_PULSE=1; }
trap 'e2e_cleanup; [ -n "${E2E_SYSTEM_PULSE:-}" ] && rm -rf /var/run/pulse; true' EXIT
pactl load-module module-native-protocol-unix socket=/var/run/pulse/native auth-anonymous=1 > /dev/null ||
  fail "no system-wide sound socket"

# recorded NAME ARGS...: the game recording to NAME.rec from a fresh home with no runtime folder.
recorded() {
  mkdir -p "$E2E_DIR/home-$1" && cp "$HOME/.asoundrc" "$E2E_DIR/home-$1/"
  rm -f "$G/vorbel.cfg"  # each game starts from the default options, not the last game's
  (cd "$G" && exec env -u XDG_RUNTIME_DIR HOME="$E2E_DIR/home-$1" "$E2E_RUN/vorbel" --record "$E2E_DIR/$1.rec" "${@:2}") \
    > "$E2E_DIR/out.txt" 2> "$E2E_DIR/err.txt" &
  GAME_PID=$!
  E2E_PIDS+=($GAME_PID)
  game_window
}
# through_sound NAME: the game had sound, and its sound library made a runtime folder of its own.
through_sound() {
  grep -q "without sound" "$E2E_DIR/out.txt" && fail "$1: the game ran without sound"
  ls "$E2E_DIR/home-$1/.config/pulse/"*-runtime > /dev/null 2>&1 || fail "$1: no runtime folder was made"
}

note "Easy: pause, N, F5, F6, Y and a name"
recorded easy
difficulty_arrow 230; click 170 155 3   # Easy, "Start Game"
hold Left 1.0; press p a; hold c 0.3; press Escape; sleep 0.5; press n; hold Up 0.6
press F5; sleep 1; select_file "$G/easy.svg"; hold Right 0.8; press F6; sleep 1; select_file "$G/easy.svg"
press Escape; sleep 0.5; press y; sleep 1; press space; sleep 1
xdotool type --delay 120 "Ann"; press Return; sleep 1.5
click 200 435 2; wait_for_file "$E2E_DIR/easy.rec"  # the table's "E x i t": the recording is written
press Escape; sleep 1; press Escape; game_wait_exit; through_sound easy

note "Normal, a custom level: a life lost, the level cleared, a Space before the name"
{
  printf 'name: Lane\nwalls: 2\nballs: 19\nbugs: 1\nbug_sprite: 4\npoints: 10 20 30 40 50 60 70 80\nmap:\n'
  printf '######################\n#V        B###########\n#.####################\n# ####################\n'
  for r in $(seq 4 21); do printf '######################\n'; done
} > "$E2E_DIR/lane.txt"
"$mapc" "$E2E_DIR/lane.txt" -o "$G/lane.map" > /dev/null || fail "vorbel-mapc refused the lane"
recorded custom --level "$G/lane.map"
screenshot "$art/lane.png"
sleep 4.5                           # the bug comes along the lane
screenshot "$art/died.png"
expect_change '>' 0.1 "no \"You Died!!!\" after the bug came" 190 235 160 50 "$art/lane.png" "$art/died.png"
press space; hold Down 1.5          # the ball below the start: the level is cleared
screenshot "$art/cleared.png"
expect_change '>' 0.3 "the cleared level was not said" 190 235 100 50 "$art/lane.png" "$art/cleared.png"
press space; sleep 0.5; press space; xdotool type --delay 120 "Lee"; press Return; sleep 1.5
click 200 435 2; game_wait_exit; through_sound custom
[ "$(tr '\0' '\n' < "$G/vorbel.hsc" | grep -cx Lee)" = 1 ] || fail "no entry named 'Lee': $(tr -c ' -~' ' ' < "$G/vorbel.hsc")"

note "Hard: the close button and Y end the program at once"
recorded hard
difficulty_arrow 410; click 170 155 3
hold Left 1.5; close_button; press y; game_wait_exit 5; through_sound hard
# Ann's, Lee's and the Hard result, which can have only the default name: none was typed.
[ "$(od -An -td4 -w28 -v "$G/vorbel.hsc" | awk '$1 > 0' | wc -l)" = 3 ] || fail "the Hard result is not in the table"

note "every recording replays at full speed twice alike"
for name in easy custom hard; do
  for run in 1 2; do
    (cd "$G" && "$E2E_RUN/vorbel" --replay "$E2E_DIR/$name.rec" --fast) > "$E2E_DIR/$name-$run.txt" 2> /dev/null ||
      fail "$name: replay $run failed: $(tail -1 "$E2E_DIR/$name-$run.txt")"
  done
  cmp -s "$E2E_DIR/$name-1.txt" "$E2E_DIR/$name-2.txt" || fail "$name: two replays differ"
  note "$name: $(tail -1 "$E2E_DIR/$name-1.txt")"
  cp "$E2E_DIR/$name.rec" "$art/"
done
[ "$(od -An -tu1 -j 40 -N 3 "$E2E_DIR/hard.rec" | tr -s ' ')" = " 2 1 0" ] || fail "the Hard game was not recorded on Hard"
grep -qE "^score [1-9][0-9]* level 1 lives 3 bugs 0$" "$E2E_DIR/custom-1.txt" || fail "the custom level did not end cleared with a life lost"
echo "recorded: all checks passed"
