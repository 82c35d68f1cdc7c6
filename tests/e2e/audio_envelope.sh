#!/usr/bin/env bash
# An XM-family module is heard with its volume envelope: songs/envelope.song (one note held on
# the envelope's sustain point for 4.8 s, then released) is built by soundgen, played by
# modux-play in real time into a private, paced sound server and recorded. The sound server
# swallows a varying first stretch of a new client's output, so the level is judged around its
# fall: before it, at least a second steady (the sustain holds); the fall itself gradual, from
# 90 % to below 10 % of the held level in 0.3 to 1.2 s (the envelope's 0.76 s and the fade-out,
# not a cut); silence after it.
#
# Usage: audio_envelope.sh SOUNDGEN MODUX_PLAY
source "$(dirname "$0")/lib.sh"

[ $# = 2 ] || fail "usage: audio_envelope.sh SOUNDGEN MODUX_PLAY"
GEN=$1
PLAY=$2
SONGS=$(cd "$(dirname "$0")/songs" && pwd)
e2e_display
pulse_start
T=$E2E_DIR

"$GEN" --song "$SONGS/envelope.song" --instruments "$SONGS/envelope.txt" --mux "$T/envelope.mux" ||
  fail "soundgen could not build the envelope song"

# Levels (RMS) of 50 ms windows of a raw 44.1 kHz stereo recording, one a line.
levels() {
  sox -t raw -r 44100 -e signed -b 16 -c 2 "$1" -t dat - remix - |
    awk '!/^;/ { s += $2 * $2; n++; if (n == 2205) { printf "%.5f\n", sqrt(s / n); s = 0; n = 0 } }'
}

# judge RAW: prints what fails, nothing when the envelope is heard as written.
judge() {
  levels "$1" | awk '
    { l[n++] = $1 }
    END {
      hi = 0
      for (i = 0; i < n; i++) if (l[i] > hi) hi = l[i]
      if (hi < 0.03) { print "too quiet (" hi ")"; exit }
      for (top = n - 1; top >= 0 && l[top] < 0.9 * hi; top--) ;          # last window near the top
      for (from = top; from > 0 && l[from - 1] >= 0.85 * hi; from--) ;   # the steady stretch before
      for (low = top; low < n && l[low] >= 0.1 * hi; low++) ;            # first window below 10 %
      for (quiet = low; quiet < n && l[quiet] >= 0.01 * hi; quiet++) ;
      for (end = quiet; end < n && l[end] < 0.01 * hi; end++) ;
      printf "-- level %.4f steady for %.2f s, falling to 10 %% in %.2f s, then %.2f s of silence\n", hi,
             (top - from + 1) * 0.05, (low - top) * 0.05, (end - quiet) * 0.05 > "/dev/stderr"
      if ((top - from + 1) * 0.05 < 1.0) print "not steady while the key is held (" (top - from + 1) * 0.05 " s)"
      if (low == n) print "no fall after the key off"
      else if ((low - top) * 0.05 < 0.3) print "cut off, not faded (" (low - top) * 0.05 " s)"
      else if ((low - top) * 0.05 > 1.2) print "falls too slowly (" (low - top) * 0.05 " s)"
      if ((end - quiet) * 0.05 < 0.5) print "no silence after the fall"
    }'
}

problems=

for attempt in 1 2; do
  pulse_record "$T/envelope.raw"
  "$PLAY" --seconds 7 "$T/envelope.mux" > "$T/play.log" 2>&1 || fail "modux-play failed: $(tail -3 "$T/play.log")"
  sleep 0.3
  pulse_stop_record
  problems=$(judge "$T/envelope.raw")
  [ -z "$problems" ] && break
  # The paced route can drop a stretch of audio on a busy machine; a real fault shows twice.
  note "recording again after: $(echo $problems)"
done
[ -z "$problems" ] || fail "$(echo $problems)"
echo "audio_envelope: the envelope holds while the key is down and falls after the key off"
