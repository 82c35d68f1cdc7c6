# Shared helpers of the end-to-end tests: a private X server, a scratch folder holding the game's
# datafiles, and the real program driven with xdotool. Source it; call e2e_init first.
# Every test fails with a message through `fail`; everything it started is stopped on exit.

set -u
E2E_PIDS=()

fail() {
  echo "FAIL: $*" >&2
  if [ -s "${E2E_DIR:-/nonexistent}/err.txt" ]; then
    echo "--- the game's error output:" >&2
    grep -v -E '^ALSA lib|XGetInputFocus' "$E2E_DIR/err.txt" | tail -40 >&2
  fi
  exit 1
}
note() { echo "-- $*"; }

e2e_cleanup() {
  [ -n "${E2E_PULSE:-}" ] && pulseaudio --kill 2>/dev/null
  for p in "${E2E_PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  [ -n "${E2E_DIR:-}" ] && [ -z "${E2E_KEEP:-}" ] && rm -rf "$E2E_DIR"
  return 0
}

# e2e_home: a scratch folder ($E2E_DIR, removed on exit) and a home with no display, sound
# server or card unless a test sets one up.
e2e_home() {
  E2E_DIR=$(mktemp -d /tmp/vorbel-e2e.XXXXXX)
  trap e2e_cleanup EXIT
  unset DISPLAY
  export HOME="$E2E_DIR/home" XDG_RUNTIME_DIR="$E2E_DIR/run"
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
}

# e2e_display [reset]: e2e_home and a private X server. With "reset" the server resets whenever
# its last client leaves, as a bare X server does.
e2e_display() {
  local noreset=-noreset
  [ "${1:-}" = reset ] && noreset=
  e2e_home
  # Xvfb picks a free display itself and tells its number, so tests running side by side never
  # share (or kill) each other's server; -noreset keeps it from resetting (and refusing
  # connections for a moment) whenever its last client leaves.
  Xvfb -displayfd 3 $noreset -screen 0 800x600x24 -nolisten tcp 3>"$E2E_DIR/display" >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  local i
  for i in $(seq 1 100); do [ -s "$E2E_DIR/display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -1 "$E2E_DIR/display")"
  xdpyinfo >/dev/null 2>&1 || fail "no X server could be started"
}

# e2e_init RUN_DIR [ARTIFACT_DIR]: e2e_display, a game folder ($E2E_GAME, also $G) holding the
# game's datafiles, and a folder for the pictures and recordings a test keeps ($art).
e2e_init() {
  E2E_RUN=$(cd "$1" && pwd)
  e2e_display
  E2E_GAME="$E2E_DIR/game" G="$E2E_DIR/game" art=${2:-$E2E_DIR/artifacts}
  mkdir -p "$E2E_GAME" "$art"
  local f
  for f in "$E2E_RUN"/*.dat; do ln -s "$f" "$E2E_GAME/"; done
}

# game_start [ARGS...]: runs the game (or with E2E_PROGRAM another program, of the build or by
# its path) in the game folder (or E2E_CWD), output to $E2E_DIR/out.txt and err.txt.
game_start() {
  local program=${E2E_PROGRAM:-vorbel}
  [[ $program == /* ]] || program=$E2E_RUN/$program
  (cd "${E2E_CWD:-$E2E_GAME}" && exec "$program" "$@") >"$E2E_DIR/out.txt" 2>"$E2E_DIR/err.txt" &
  GAME_PID=$!
  E2E_PIDS+=($GAME_PID)
}

# wait_window TITLE WHAT [seconds]: waits for the window of $GAME_PID whose title holds TITLE;
# sets WID. WHAT names the program in the failure messages.
wait_window() {
  local t=${3:-30} i
  for i in $(seq 1 $((t * 10))); do
    WID=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1)
    [ -n "$WID" ] && return
    kill -0 "$GAME_PID" 2>/dev/null || fail "the $2 ended before opening its window: $(cat "$E2E_DIR/out.txt")"
    sleep 0.1
  done
  fail "no $2 window after ${t}s"
}

# game_window [seconds]: waits for the game's window and its title screen.
game_window() {
  wait_window "Vorbel" game "${1:-30}"
  xdotool mousemove --window "$WID" 5 5
  sleep "${E2E_SETTLE:-1.5}"  # the fade-in of the title
}

# game_wait_exit [seconds]: waits for the game to end; sets GAME_STATUS.
game_wait_exit() {
  local t=${1:-20} i
  for i in $(seq 1 $((t * 10))); do
    if ! kill -0 "$GAME_PID" 2>/dev/null; then
      wait "$GAME_PID"; GAME_STATUS=$?
      return 0
    fi
    sleep 0.1
  done
  fail "the game did not end within ${t}s"
}

# Mouse and keys, in window coordinates (the window sits at the screen's top-left corner).
click() {
  xdotool mousemove --window "$WID" "$1" "$2"; sleep 0.15
  xdotool mousedown 1; sleep 0.15
  xdotool mouseup 1; sleep "${3:-0.3}"
}
# Keys go through XTEST to the focused window (a key sent to a window id is a synthetic event,
# which the game's X driver does not take); with no window manager the focus follows the pointer.
# A key is held for a moment so that a screen polling `key[]` sees it.
press() { local k; for k in "$@"; do xdotool keydown "$k"; sleep 0.15; xdotool keyup "$k"; sleep 0.15; done; }
hold() { xdotool keydown "$1"; sleep "$2"; xdotool keyup "$1"; sleep 0.1; }

# start_level: "Play Game" on the title, "Start Game" in its menu.
start_level() { click 315 302 2; click 170 155 3; }
# difficulty_arrow X: from the title, "Play Game", "Game Options", the difficulty's left (X 230)
# or right (410) arrow, and "E x i t" back to the start-game menu.
difficulty_arrow() { click 315 302 2; click 170 275 2; click "$1" 315 0.5; click 320 415 2; }
# close_button: the window's close button as a window manager presses it ($WM_DELETE sends it).
close_button() { "$WM_DELETE" "$WID" || fail "WM_DELETE_WINDOW could not be sent"; sleep 1; }
# select_file PATH [DELAY_MS]: clears a file selector's path, types PATH and confirms.
select_file() {
  xdotool key --delay 15 --repeat 80 BackSpace
  xdotool type --delay "${2:-40}" "$1"
  sleep 0.2; press Return; sleep 0.8
}

# int32_at FILE OFFSET: signed little-endian 32-bit number at an offset of a file.
int32_at() { od -An -td4 -j "$2" -N 4 "$1" | tr -d ' '; }

# check_default_table WHAT: vorbel.hsc holds fifteen default entries (score 0, level 1, bugs 0,
# "Vorbel-Endurant"), byte for byte.
check_default_table() {
  local entry
  entry=$(printf '\0\0\0\0\1\0\0\0\0\0\0\0Vorbel-Endurant\0' | od -An -tx1 | tr -d ' \n')
  [ "$(od -An -tx1 -v "$E2E_GAME/vorbel.hsc" 2>/dev/null | tr -d ' \n')" = "$(printf "$entry%.0s" $(seq 15))" ] ||
    fail "$1: vorbel.hsc is not the default table"
}

# expect_exit WHAT [scored]: the game ends by itself with status 0, the table written: the default
# one, or with "scored" a table whose best entry holds the game's score under the default name.
expect_exit() {
  game_wait_exit 20
  [ "$GAME_STATUS" = 0 ] || fail "$1: status $GAME_STATUS"
  if [ "${2:-}" = scored ]; then
    [ "$(stat -c %s "$E2E_GAME/vorbel.hsc" 2>/dev/null)" = 420 ] || fail "$1: vorbel.hsc was not written whole"
    [ "$(int32_at "$E2E_GAME/vorbel.hsc" 0)" -gt 0 ] || fail "$1: the game's score is not in the table"
    [ "$(dd if="$E2E_GAME/vorbel.hsc" bs=1 skip=12 count=15 2>/dev/null)" = Vorbel-Endurant ] ||
      fail "$1: the result was not entered under the default name"
  else
    check_default_table "$1"
  fi
  rm -f "$E2E_GAME/vorbel.hsc"
}
running() { kill -0 "$GAME_PID" 2>/dev/null || fail "$1: the game ended"; }

# screenshot FILE: the whole X screen as PNG.
screenshot() { import -window root -crop 640x480+0+0 +repage "$1" 2>/dev/null || fail "screenshot failed"; }

# colours_in FILE X Y W H: number of distinct colours in a region of a picture.
colours_in() { convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -unique-colors -format '%w' info:; }

# text_pixels FILE X Y W H: pixels of the game's text colour 15 (white) in a region of a picture.
text_pixels() {
  convert "$1" -crop "${4}x${5}+${2}+${3}" +repage -format %c histogram:info:- | awk '/#F3F7FF/ {n += $1} END {print n + 0}'
}

# Share of a region's pixels that differ between two screenshots (0..1).
changed() {
  compare -metric AE -fuzz 2% -extract "${3}x${4}+${1}+${2}" "$5" "$6" null: 2>&1 | awk -v a=$(( $3 * $4 )) '{printf "%.3f", $1 / a}'
}

# expect_change '>'|'<' LIMIT WHAT X Y W H BEFORE AFTER: the changed share of the region must be
# above (or below) LIMIT, else the test fails saying WHAT.
expect_change() {
  local share
  share=$(changed "$4" "$5" "$6" "$7" "$8" "$9")
  awk -v m="$share" -v l="$2" -v op="$1" 'BEGIN{exit !(op == ">" ? m > l : m < l)}' || fail "$3 ($share)"
}

# wait_for_file FILE [seconds]
wait_for_file() {
  local t=${2:-10} i
  for i in $(seq 1 $((t * 10))); do [ -s "$1" ] && return 0; sleep 0.1; done
  fail "$1 was not written within ${t}s"
}

# pulse_start: a private PulseAudio server with a null sink "cap" that ALSA's default plays into;
# pulse_record FILE starts recording the sink (stop with pulse_stop_record).
pulse_start() {
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' > "$HOME/.asoundrc"
  pulseaudio -n -D --exit-idle-time=-1 --disallow-exit --log-target="newfile:$E2E_DIR/pulse.log" \
    -L module-native-protocol-unix -L "module-null-sink sink_name=cap rate=44100" >/dev/null 2>&1 ||
    fail "pulseaudio did not start"
  local i
  for i in $(seq 1 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink cap || fail "no null sink"
  E2E_PULSE=1
}
# pulse_keep_running: an idle null sink starts a new stream late and loses its first second or
# so; a silent stream keeps the sink running, so that what a player plays is what is recorded.
pulse_keep_running() {
  pacat --latency-msec=20 < /dev/zero &
  E2E_PIDS+=($!)
  E2E_PULSE_KEEP=1
  sleep 2
}
# pulse_ensure: starts the sound server again (and what kept it running) when it has ended, as it
# rarely does on a busy machine; a recording made without it would only be silence.
pulse_ensure() {
  pulseaudio --check 2>/dev/null && return 0
  note "the sound server has ended ($(tail -3 "$E2E_DIR/pulse.log" 2>/dev/null | tr '\n' ' ')); starting it again"
  pulse_start
  [ -n "${E2E_PULSE_KEEP:-}" ] && pulse_keep_running
  return 0
}
pulse_record() {
  parec --latency-msec=20 -d cap.monitor --format=s16le --rate=44100 --channels=2 > "$1" &
  E2E_REC_PID=$!
  E2E_PIDS+=($E2E_REC_PID)
  sleep 0.3
}
pulse_stop_record() { kill "$E2E_REC_PID" 2>/dev/null; wait "$E2E_REC_PID" 2>/dev/null; E2E_REC_PID=; sleep 0.2; }

# modux_record NAME [STATUS] FILE...: modux-play ($PLAY) plays the files, $SECONDS_PLAYED seconds
# each, into the sink, recorded to $E2E_DIR/NAME.raw (its output to NAME.log); it must end with
# STATUS (0).
modux_record() {
  local name=$1 want=0 played
  [[ "${2:-}" =~ ^[0-9]+$ ]] && { want=$2; shift; }
  shift
  pulse_ensure
  pulse_record "$E2E_DIR/$name.raw"
  "$PLAY" --seconds "$SECONDS_PLAYED" "$@" > "$E2E_DIR/$name.log" 2>&1
  played=$?
  sleep 0.3
  pulse_stop_record
  [ $played = "$want" ] || fail "$name: modux-play ended with status $played: $(tail -3 "$E2E_DIR/$name.log")"
}
