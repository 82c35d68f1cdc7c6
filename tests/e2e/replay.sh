#!/usr/bin/env bash
# Replays in the real program: whole games that an autopilot recorded on the game's own loop (each
# difficulty, a custom level, a game quit early) replayed with --replay --fast must end on the
# autopilot's figures (games played from the keyboard are replayed in recorded.sh); one is
# watched in the window at play speed;
# a file that cannot be opened is refused with a reason, and so is a bad command line.
# Usage: replay.sh RUN_DIR AUTOPILOT [ARTIFACT_DIR]
source "$(dirname "$0")/lib.sh"
e2e_init "$1" "${3:-}"
autopilot=$2
cd "$E2E_GAME"

# replay FILE [--fast]: the program's output in $got (the no-sound notice aside), its status in
# $REPLAY_STATUS.
replay() {
  "$E2E_RUN/vorbel" --replay "$@" > "$E2E_DIR/replay.txt" 2>/dev/null
  REPLAY_STATUS=$?
  got=$(grep -v -E '^Error: Error initializing sound|Installing without sound|^$' "$E2E_DIR/replay.txt")
}

# name | difficulty | autopilot options
cases=(
  "easy|0|"
  "normal|1|"
  "hard|2|"
  "custom level|1|$E2E_RUN/custom/butterfly.map"
  "quit early|2|--quit-after 300"
)
for c in "${cases[@]}"; do
  IFS='|' read -r name level options <<< "$c"
  # shellcheck disable=SC2086
  want=$("$autopilot" "$E2E_RUN" "$E2E_DIR/game.rec" "$level" $options) || fail "$name: the autopilot failed"
  replay "$E2E_DIR/game.rec" --fast
  note "$name: recorded '$want', replayed '$got'"
  [ "$REPLAY_STATUS" = 0 ] || fail "$name: the replay ended with status $REPLAY_STATUS: $got"
  [ "$got" = "$want" ] || fail "$name: the replay ended on '$got', the recording on '$want'"
  read -r _ score _ _ _ lives _ _ <<< "$got"
  [ "$score" -gt 0 ] || fail "$name: nothing was scored"
  cp "$E2E_DIR/game.rec" "$art/$(echo "$name" | tr ' ' -).rec"
done

note "a game watched at play speed in the window"
want=$("$autopilot" "$E2E_RUN" "$E2E_DIR/short.rec" 1 --quit-after 400)
"$E2E_RUN/vorbel" --replay "$E2E_DIR/short.rec" > "$E2E_DIR/watched.txt" 2>/dev/null &
GAME_PID=$!
E2E_PIDS+=($GAME_PID)
game_window 30
screenshot "$art/watched-1.png"
sleep 1
screenshot "$art/watched-2.png"
moved=$(compare -metric AE -extract 440x440+20+20 "$art/watched-1.png" "$art/watched-2.png" null: 2>&1)
[ "$moved" -gt 100 ] || fail "nothing moved in the watched replay ($moved pixels)"
game_wait_exit 30
[ "$GAME_STATUS" = 0 ] || fail "the watched replay ended with status $GAME_STATUS"
[ "$(grep score "$E2E_DIR/watched.txt")" = "$want" ] || fail "the watched replay ended on '$(cat "$E2E_DIR/watched.txt")', recorded '$want'"
[ ! -e vorbel.hsc ] || fail "a replay wrote the high-score table"

note "refusals"
# A file that cannot be opened ends the program with status 1 and its reason (the reasons for
# damaged and foreign files are the game loop test's table).
replay "$E2E_DIR/none.rec" --fast
[ "$REPLAY_STATUS" = 1 ] || fail "a missing file: status $REPLAY_STATUS, not 1"
grep -q "cannot be opened" <<< "$got" || fail "a missing file: the refusal '$got' does not say 'cannot be opened'"
"$E2E_RUN/vorbel" --fast > "$E2E_DIR/usage.txt" 2>&1
[ $? = 2 ] && grep -q "Usage: vorbel" "$E2E_DIR/usage.txt" || fail "--fast alone was not refused with the usage"
echo "replay: all checks passed"
