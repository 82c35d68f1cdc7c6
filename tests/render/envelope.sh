#!/usr/bin/env bash
# An XM-family module is rendered with its volume envelope: songs/envelope.song (one note held on
# the envelope's sustain point for 4.8 s, then released) is built by soundgen and rendered by
# modux-play --render. Its level, in 50 ms windows, must hold steady while the key is down (at
# least 4 s), then fall gradually from 90 % to below 10 % of the held level in 0.3 to 1.2 s (the
# envelope's 0.76 s and the fade-out, not a cut), then stay silent.
# Usage: envelope.sh SOUNDGEN MODUX_PLAY
source "$(dirname "$0")/../e2e/lib.sh"
GEN=$1 PLAY=$2
SONGS=$(cd "$(dirname "$0")/songs" && pwd)
e2e_home
T=$E2E_DIR

"$GEN" --song "$SONGS/envelope.song" --instruments "$SONGS/envelope.txt" --mux "$T/envelope.mux" ||
  fail "soundgen could not build the envelope song"
"$PLAY" --render "$T/envelope.wav" "$T/envelope.mux" > "$T/out" 2>&1 || fail "modux-play --render: $(cat "$T/out")"

problems=$(sox "$T/envelope.wav" -t dat - remix - | awk '
  !/^;/ { s += $2 * $2; n++; if (n == 2205) { l[w++] = sqrt(s / n); s = 0; n = 0 } }
  END {
    hi = 0
    for (i = 0; i < w; i++) if (l[i] > hi) hi = l[i]
    if (hi < 0.03) { print "too quiet (" hi ")"; exit }
    for (top = w - 1; top >= 0 && l[top] < 0.9 * hi; top--) ;          # last window near the top
    for (from = top; from > 0 && l[from - 1] >= 0.85 * hi; from--) ;   # the steady stretch before
    for (low = top; low < w && l[low] >= 0.1 * hi; low++) ;            # first window below 10 %
    for (quiet = low; quiet < w && l[quiet] >= 0.01 * hi; quiet++) ;
    for (end = quiet; end < w && l[end] < 0.01 * hi; end++) ;
    printf "-- level %.4f steady for %.2f s, falling to 10 %% in %.2f s, then %.2f s of silence\n", hi,
           (top - from + 1) * 0.05, (low - top) * 0.05, (end - quiet) * 0.05 > "/dev/stderr"
    if ((top - from + 1) * 0.05 < 4.0) print "not steady while the key is held (" (top - from + 1) * 0.05 " s)"
    if (low == w) print "no fall after the key off"
    else if ((low - top) * 0.05 < 0.3) print "cut off, not faded (" (low - top) * 0.05 " s)"
    else if ((low - top) * 0.05 > 1.2) print "falls too slowly (" (low - top) * 0.05 " s)"
    if ((end - quiet) * 0.05 < 0.5) print "no silence after the fall"
  }')
[ -z "$problems" ] || fail "$(echo $problems)"
echo "envelope: the envelope holds while the key is down and falls after the key off"
