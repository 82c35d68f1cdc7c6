#!/usr/bin/env bash
# modux-play on a terminal (script(1)'s pseudo-terminal, keys typed into it) with no display,
# playing into a private, paced sound server: space pauses (the recording falls silent) and plays
# on, right goes on to the next order at once, down lowers the volume, all shown on the status
# line; q quits long before the song's end with status 0, Ctrl-C ends it by SIGINT, and either
# way the terminal's settings are as they were.
# Usage: modux_play_terminal.sh MODUX_PLAY SONG
source "$(dirname "$0")/lib.sh"
PLAY=$1 SONG=$2
e2e_home
pulse_start
pulse_keep_running
T=$E2E_DIR

# session NAME DELAY KEY...: modux-play plays SONG on a terminal, each KEY typed DELAY seconds
# after the one before; its screen's lines go to NAME.lines, its status to NAME.status.
session() {
  local name=$1 delay=$2 key pid
  shift 2
  mkfifo "$T/$name.keys"
  timeout 30 script -qfec "trap : INT; stty -g > $T/$name.before; '$PLAY' '$SONG'; echo \$? > $T/$name.status; stty -g > $T/$name.after" \
    /dev/null < "$T/$name.keys" > "$T/$name.screen" 2>&1 &
  pid=$!
  exec 3> "$T/$name.keys"
  for key in "$@"; do sleep "$delay"; printf "$key" >&3; done
  wait $pid
  exec 3>&-
  tr '\r' '\n' < "$T/$name.screen" | sed 's/\x1b\[K//g' > "$T/$name.lines"
  [ -s "$T/$name.status" ] || fail "$name: modux-play did not end: $(tail -3 "$T/$name.lines")"
  cmp -s "$T/$name.before" "$T/$name.after" || fail "$name: the terminal's settings were not restored"
}

pulse_record "$T/keys.raw"
session keys 1.5 ' ' ' ' '\033[C' '\033[B' q
pulse_stop_record
[ "$(cat "$T/keys.status")" = 0 ] || fail "q: status $(cat "$T/keys.status")"
for shown in '(paused) title.mux' 'order 1/' 'vol 95%'; do
  grep -qF "$shown" "$T/keys.lines" || fail "no status line shows '$shown': $(tail -3 "$T/keys.lines")"
done
# 100 ms steps of the recording, 1 where it sounds: sound, a second or more of silence, sound.
steps=$(od -An -v -td2 -w4 "$T/keys.raw" |
  awk '{ s += $1 * $1 + $2 * $2 } ++n == 4410 { printf "%d", (s / 8820 > 10000); s = n = 0 }')
[[ "$steps" =~ 1{5,}0{10,}1{5,} ]] || fail "the pause is not heard as silence: $steps"

session interrupt 1.5 '\003'
[ "$(cat "$T/interrupt.status")" = 130 ] || fail "Ctrl-C: status $(cat "$T/interrupt.status")"
echo "modux_play_terminal: all checks passed"
