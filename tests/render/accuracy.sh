#!/usr/bin/env bash
# How closely the engine's playback follows the reference player (openmpt123) on real modules.
# Each module of tests/realmods is rendered by modux-play --render and by openmpt123 at 44100 Hz
# for the same length (the engine's song, rounded up to a whole second), and wavcompare measures
# the correlation of the 10 ms loudness envelopes and the share of the reference's onsets matched
# within 20 ms. A module below its minimum in accuracy_thresholds.txt fails the test.
# The reference plays subsong 0: the song from order 0 to its end or loop point, as the engine
# plays it (openmpt123's default plays every subsong of a file one after another).
# Usage: accuracy.sh MODUX_PLAY WAVCOMPARE [--table]
#   --table prints the figures as rows of the README's table instead of checking them.
# Status 77 (skipped) when the modules cannot be fetched or openmpt123 is missing.
set -u
PLAY=$1 CMP=$2 MODE=${3:-check}
here=$(cd "$(dirname "$0")" && pwd)
fetch=$here/../realmods/fetch.sh
thresholds=$here/accuracy_thresholds.txt
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

command -v openmpt123 > /dev/null || { echo "SKIP: openmpt123 is not installed"; exit 77; }
[ -x "$fetch" ] || [ -f "$fetch" ] || { echo "SKIP: no tests/realmods/fetch.sh"; exit 77; }
bash "$fetch" "$T/mods" > "$T/list" 2> "$T/fetch.err" || { echo "SKIP: cannot fetch the modules: $(tail -2 "$T/fetch.err")"; exit 77; }

failed=0
while read -r file; do
  name=$(basename "$file")
  if ! "$PLAY" --render "$T/ours.wav" "$file" > "$T/out" 2> "$T/err"; then
    echo "FAIL: $name: modux-play: $(cat "$T/err")" >&2
    failed=1
    continue
  fi
  ours=$(sed -E 's/.*: ([0-9.]+) s .*/\1/' "$T/out")
  seconds=$(awk -v s="$ours" 'BEGIN { printf "%d", s == int(s) ? s : int(s) + 1 }')
  reference=$(openmpt123 --subsong 0 --info "$file" 2>/dev/null | awk '/^Duration/ { split($2, t, ":"); printf "%.3f", t[1] * 60 + t[2] }')
  openmpt123 --batch --quiet --force --no-float --samplerate 44100 --subsong 0 --end-time "$seconds" \
    -o "$T/ref.wav" "$file" > /dev/null 2>&1 || { echo "FAIL: $name: openmpt123 cannot render it" >&2; failed=1; continue; }
  "$CMP" "$T/ref.wav" "$T/ours.wav" > "$T/cmp" || { echo "FAIL: $name: wavcompare: $(cat "$T/cmp")" >&2; failed=1; continue; }
  read -r corr onsets lag < <(awk -F': ' '{ v[$1] = $2 } END { print v["envelope_correlation"], v["onsets_matched"], v["envelope_lag_ms"] }' "$T/cmp")
  read -r min_corr min_onsets note < <(awk -v n="$name" '$1 == n { $1 = ""; print; exit }' "$thresholds")
  if [ -z "${min_corr:-}" ] && [ "$MODE" = --table ]; then
    min_corr=- min_onsets=- note=
  elif [ -z "${min_corr:-}" ]; then
    echo "FAIL: $name has no line in accuracy_thresholds.txt" >&2
    failed=1
    continue
  fi
  note=${note#\# }
  if [ "$MODE" = --table ]; then
    printf '| %s | %s / %s | %s | %s | %s | %s / %s | %s |\n' "$name" "$ours" "${reference:-?}" "$corr" \
      "$onsets" "$lag" "$min_corr" "$min_onsets" "$note"
    continue
  fi
  echo "$name: length $ours s (reference $reference s), envelope correlation $corr (lag $lag ms), onsets matched $onsets"
  if awk -v c="$corr" -v o="$onsets" -v mc="$min_corr" -v mo="$min_onsets" 'BEGIN { exit !(c < mc || o < mo) }'; then
    echo "FAIL: $name below its minimum (correlation $min_corr, onsets $min_onsets)" >&2
    failed=1
  fi
done < "$T/list"
[ $failed = 0 ] || exit 1
[ "$MODE" = --table ] || echo "accuracy: every module at or above its minimum"
