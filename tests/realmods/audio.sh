#!/usr/bin/env bash
# Modules heard in real time, with no display: the first real module of each format, and each game
# song given, played for a few seconds by modux-play into a private, paced sound server and
# recorded, must sound all through and follow the loudness and pace of the engine's own offline
# rendering (which render_accuracy holds to the reference's pace). Two modules with a damaged file
# between them are heard one after the other, the damaged file reported and skipped.
# Usage: audio.sh MODUX_PLAY WAVCOMPARE DIR [SONG.mux...]   (DIR holds what fetch.sh copied)
source "$(dirname "$0")/../e2e/lib.sh"

[ $# -ge 3 ] || fail "usage: audio.sh MODUX_PLAY WAVCOMPARE DIR [SONG.mux...]"
PLAY=$1 CMP=$2 DIR=$3
shift 3
MANIFEST="$(dirname "$0")/manifest.txt"
SECONDS_PLAYED=6
PACE_TOLERANCE=0.03  # a tempo or speed misread moves the pace by more
e2e_home
pulse_start
T=$E2E_DIR
pulse_keep_running

# wav RAW: a raw 44.1 kHz stereo recording from its first sound to its last, as WAV; fails when silent.
wav() {
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" "$1.wav" silence 1 0.01 0.2% reverse silence 1 0.01 0.2% reverse &&
    [ "$(soxi -D "$1.wav" 2>/dev/null)" != 0.000000 ] && [ -s "$1.wav" ]
}
field() { awk -v k="$1:" '$1 == k { print $2 }' "$2"; }

# judge NAME: the recording against the offline rendering; prints what fails.
judge() {
  local stats len rms pace corr
  wav "$T/$1.raw" || { echo "no sound at all"; return; }
  stats=$(sox "$T/$1.raw.wav" -n stat 2>&1)
  len=$(echo "$stats" | awk '/Length/ {print $3}')
  rms=$(echo "$stats" | awk '/RMS +amplitude/ {print $3}')
  "$CMP" --pace "$T/$1.off.wav" "$T/$1.raw.wav" > "$T/$1.pace" || { echo "wavcompare failed"; return; }
  pace=$(field pace "$T/$1.pace") corr=$(field correlation "$T/$1.pace")
  note "$1: ${len}s of sound, RMS $rms, pace $pace of the offline rendering's (correlation $corr)" >&2
  awk -v l="$len" -v s="${SOUND_SECONDS:-$SECONDS_PLAYED}" 'BEGIN { exit !(l > s - 1) }' || echo "only ${len}s of sound"
  awk -v r="$rms" 'BEGIN { exit !(r > 0.01) }' || echo "nearly silent (RMS $rms)"
  awk -v c="$corr" 'BEGIN { exit !(c >= 0.8) }' || echo "unlike the offline rendering (correlation $corr)"
  awk -v p="$pace" -v t=$PACE_TOLERANCE 'BEGIN { d = p - 1; if (d < 0) d = -d; exit !(d <= t) }' ||
    echo "rows come at $pace times the offline rendering's pace"
}

# report NAME: prints the lines of $problems as failures of NAME.
report() {
  [ -z "$problems" ] && return
  echo "$problems" | while read -r p; do echo "FAIL: $1: $p" >&2; done
  status=1
}

status=0 formats=" " heard=()
while read -r package path format _; do
  case "$package" in ''|'#'*) continue ;; esac
  file="$DIR/$(basename "$path")"
  name=$(basename "$path")
  [ -f "$file" ] || fail "$name: not fetched"
  [[ "$formats" == *" $format "* ]] || { formats+="$format "; heard+=("$file"); }
done < "$MANIFEST"
# hear NAME [STATUS] FILE...: the files played, recorded and judged; the paced route can drop
# stretches of audio on a busy machine, a fault of the player shows on every recording.
hear() {
  for attempt in 1 2 3; do
    modux_record "$@"
    problems=$(judge "$1")
    [ -n "$problems" ] || break
    note "$1: recording again after: $(echo $problems)"
  done
  report "$1"
}
for file in "${heard[@]}" "$@"; do
  name=$(basename "$file")
  "$PLAY" --render "$T/$name.off.wav" --seconds $((SECONDS_PLAYED + 2)) "$file" \
    >/dev/null 2>&1 || fail "$name: modux-play --render failed"
  hear "$name" "$file"
done
a=$(basename "${heard[0]}") b=$(basename "${heard[1]}")
sox "$T/$a.off.wav" "$T/a3.wav" trim 0 3 && sox "$T/a3.wav" "$T/$b.off.wav" "$T/turn.off.wav" || fail "sox failed"
printf 'not a module' > "$T/junk.mod"
SECONDS_PLAYED=3 SOUND_SECONDS=6
hear turn 1 "${heard[0]}" "$T/junk.mod" "${heard[1]}"
grep -q "junk.mod: " "$T/turn.log" || fail "the damaged file was not reported: $(cat "$T/turn.log")"
[ $status = 0 ] || exit 1
echo "realmods audio: ${#heard[@]} real modules and $# game songs heard at the engine's pace, two in turn"
