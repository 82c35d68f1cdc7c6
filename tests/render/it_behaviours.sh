#!/usr/bin/env bash
# One-behaviour IT songs (tests/render/itsongs/*.txt, written to IT by modkit), held by accuracy.sh
# to their minimums in it_behaviour_thresholds.txt against the reference player.
# Usage: it_behaviours.sh MODKIT MODUX_PLAY WAVCOMPARE [--table]
set -u
GEN=$1 PLAY=$2 CMP=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
for src in "$here"/itsongs/*.txt; do
  "$GEN" "$src" "$T/$(basename "$src" .txt).it" || { echo "FAIL: $src: modkit" >&2; exit 1; }
done
bash "$here/accuracy.sh" "$PLAY" "$CMP" "$@" --modules "$T" "$here/it_behaviour_thresholds.txt"
