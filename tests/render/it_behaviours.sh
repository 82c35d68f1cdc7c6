#!/usr/bin/env bash
# One-behaviour IT songs (tests/render/itsongs/*.txt, written to IT by itgen) rendered by the
# engine (modux-play --render) and by the reference player (openmpt123) for the same length and
# compared by wavcompare: the correlation of the 10 ms loudness envelopes and the share of the
# reference's onsets matched. A song below its minimum in it_behaviour_thresholds.txt fails.
# Usage: it_behaviours.sh ITGEN MODUX_PLAY WAVCOMPARE [--table]
#   --table prints the figures as rows of the engine document's table instead of checking them.
# Status 77 (skipped) when openmpt123 is missing.
set -u
GEN=$1 PLAY=$2 CMP=$3 MODE=${4:-check}
here=$(cd "$(dirname "$0")" && pwd)
thresholds=$here/it_behaviour_thresholds.txt
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
command -v openmpt123 > /dev/null || { echo "SKIP: openmpt123 is not installed"; exit 77; }

failed=0
for src in "$here"/itsongs/*.txt; do
  name=$(basename "$src" .txt)
  "$GEN" "$src" "$T/$name.it" || { echo "FAIL: $name: itgen" >&2; failed=1; continue; }
  if ! "$PLAY" --render "$T/ours.wav" "$T/$name.it" > "$T/out" 2> "$T/err"; then
    echo "FAIL: $name: modux-play: $(cat "$T/err")" >&2
    failed=1
    continue
  fi
  ours=$(sed -E 's/.*: ([0-9.]+) s .*/\1/' "$T/out")
  openmpt123 --batch --quiet --force --no-float --samplerate 44100 --subsong 0 --end-time "$ours" \
    -o "$T/ref.wav" "$T/$name.it" > /dev/null 2>&1 || { echo "FAIL: $name: openmpt123 cannot render it" >&2; failed=1; continue; }
  "$CMP" "$T/ref.wav" "$T/ours.wav" > "$T/cmp" || { echo "FAIL: $name: wavcompare: $(cat "$T/cmp")" >&2; failed=1; continue; }
  read -r corr onsets < <(awk -F': ' '{ v[$1] = $2 } END { print v["envelope_correlation"], v["onsets_matched"] }' "$T/cmp")
  read -r min_corr min_onsets note < <(awk -v n="$name" '$1 == n { $1 = ""; print; exit }' "$thresholds")
  if [ "$MODE" = --table ]; then
    printf '| %s | %s | %s | %s / %s | %s |\n' "$name" "$corr" "$onsets" "${min_corr:--}" "${min_onsets:--}" "${note#\# }"
    continue
  fi
  [ -n "${min_corr:-}" ] || { echo "FAIL: $name has no line in it_behaviour_thresholds.txt" >&2; failed=1; continue; }
  echo "$name: envelope correlation $corr, onsets matched $onsets"
  if awk -v c="$corr" -v o="$onsets" -v mc="$min_corr" -v mo="$min_onsets" 'BEGIN { exit !(c < mc || o < mo) }'; then
    echo "FAIL: $name below its minimum (correlation $min_corr, onsets $min_onsets)" >&2
    failed=1
  fi
done
[ $failed = 0 ] || exit 1
[ "$MODE" = --table ] || echo "it_behaviours: every song at or above its minimum"
