#!/usr/bin/env bash
# The songs are heard as written: each MUX song is played for 5 seconds by modux-play into a
# private, paced sound server and recorded. Each recording must have sound all through, must
# not clip, and its note onsets must keep the song's own pace: a row of speed x 2.5 / tempo
# seconds, with speed and tempo read from the MUX header, within 2 percent.
#
# Usage: audio_songs.sh MODUX_PLAY SOUNDS_DAT (the songs are the music/*.mux files that soundgen
# writes beside sounds.dat). Starts its own Xvfb and PulseAudio in a scratch folder and stops
# them on exit.
source "$(dirname "$0")/lib.sh"

[ $# = 2 ] || fail "usage: audio_songs.sh MODUX_PLAY SOUNDS_DAT"
PLAY=$1
[ -x "$PLAY" ] || fail "$PLAY is not a program"
SONGS=("$(dirname "$2")"/music/*.mux)
[ -f "${SONGS[0]}" ] || fail "no songs beside $2"

SECONDS_PLAYED=5
e2e_display
pulse_start
T=$E2E_DIR

# word FILE OFFSET: a little-endian 16-bit number of the file.
word() { od -An -tu1 -j "$2" -N2 "$1" | awk '{print $1 + 256 * $2}'; }

# Mono samples of a raw 44.1 kHz stereo recording as text, for the awk passes below.
samples() { sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" -t dat - remix - | awk '!/^;/ {print $2}'; }

# Longest stretch (seconds) quieter than 0.003 RMS in 50 ms windows, between the first and the
# last sound (the recording starts and ends with the player's silence).
quiet_gap() {
  awk 'BEGIN { w = 2205 } { s += $1 * $1; n++
       if (n == w) { r = sqrt(s / n); if (r >= 0.003) { if (on && g > m) m = g; on = 1; g = 0 } else if (on) g += n / 44100; n = 0; s = 0 } }
       END { printf "%.2f\n", m }'
}

# Row period (seconds) heard in a recording. The level is taken in 10 ms frames and its rises are
# the onsets. Each candidate period p between 0.8 and 1.25 times the song's row scores the
# strength of the onsets' pulse trains at p, 2p and 4p (rows, eighths and beats: their Fourier
# components); the best candidate is printed. Syncopation (onsets on some rows only) and swing
# (rows of unequal length whose pairs keep time) leave the right candidate on top, while a pace
# that is off by a few percent moves it by as much.
row_period() {
  awk -v row="$1" 'BEGIN { w = 441; pi = 3.14159265358979 }
       { s += $1 * $1; n++; if (n == w) { e[f++] = sqrt(s / n); n = 0; s = 0 } }
       END {
         for (i = 1; i < f; i++) { d = e[i] - e[i-1]; o[i] = d > 0 ? d : 0 }
         best = -1
         for (p = row * 0.8; p <= row * 1.25; p += 0.0005) {
           sc = 0
           for (m = 1; m <= 4; m *= 2) {
             re = 0; im = 0
             for (i = 1; i < f; i++) { ph = 2 * pi * (i / 100) / (m * p); re += o[i] * cos(ph); im += o[i] * sin(ph) }
             sc += sqrt(re * re + im * im)
           }
           if (sc > best) { best = sc; at = p }
         }
         printf "%.4f\n", at }'
}

# judge NAME ROW: measures the recording and prints what fails (nothing when all is well).
judge() {
  local rec="$T/$1.raw" stats len rms peak gap period
  stats=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$rec" -n stat 2>&1)
  len=$(echo "$stats" | awk '/Length/ {print $3}')
  rms=$(echo "$stats" | awk '/RMS +amplitude/ {print $3}')
  peak=$(echo "$stats" | awk '/Maximum amplitude/ {m = $3} /Minimum amplitude/ {n = -$3} END {print (m > n ? m : n)}')
  gap=$(samples "$rec" | quiet_gap)
  period=$(samples "$rec" | row_period "$2")
  note "$1: ${len}s recorded, RMS $rms, peak $peak, longest quiet ${gap}s, row ${period}s (want ${2}s)" >&2
  # The sound server takes up to a second or so to pass the first output of a new client on.
  awk -v l="$len" 'BEGIN { exit !(l > 3) }' || echo "only ${len}s of sound"
  awk -v r="$rms" 'BEGIN { exit !(r > 0.02) }' || echo "nearly silent (RMS $rms)"
  awk -v p="$peak" 'BEGIN { exit !(p < 0.999) }' || echo "clips (peak $peak)"
  awk -v g="$gap" 'BEGIN { exit !(g < 0.5) }' || echo "falls silent for ${gap}s"
  awk -v got="$period" -v want="$2" 'BEGIN { d = got - want; if (d < 0) d = -d; exit !(d <= 0.02 * want) }' ||
    echo "onsets keep a row of ${period}s, the song's row is ${2}s"
}

status=0
for song in "${SONGS[@]}"; do
  name=$(basename "$song" .mux)
  head=$(head -c 18 "$song")
  [ "$head" = "MODUX 01 module : " ] || fail "$name: not a MUX file"
  speed=$(word "$song" 58)
  tempo=$(word "$song" 60)
  row=$(awk -v s="$speed" -v t="$tempo" 'BEGIN { printf "%.4f", s * 2.5 / t }')
  note "$name: speed $speed, tempo $tempo"
  # The paced route can drop a stretch of audio when the machine is busy; a fault of the song or
  # the engine shows again on a second recording.
  for attempt in 1 2; do
    modux_record "$song" "$name"
    problems=$(judge "$name" "$row")
    [ -z "$problems" ] && break
    note "$name: recording again after: $(echo $problems)"
  done
  if [ -n "$problems" ]; then
    echo "$problems" | while read -r p; do echo "FAIL: $name: $p" >&2; done
    status=1
  fi
done
[ $status = 0 ] || exit 1
echo "audio_songs: ${#SONGS[@]} songs passed"
