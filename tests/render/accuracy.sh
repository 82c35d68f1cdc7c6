#!/usr/bin/env bash
# How closely the engine's playback follows the reference player: each module is rendered by
# modux-play (ticks of whole frames, as the reference renders them) and by openmpt123 (subsong 0,
# the song as the engine plays it, not every subsong; no dither, which changes from run to run) at
# 44100 Hz for the engine's length rounded up to a second. wavcompare measures the correlation of
# the 10 ms loudness envelopes, the share of the reference's onsets matched within 20 ms and, for
# modules with a pitch minimum, the share of 20 ms steps whose pitches agree; a module below a
# minimum of its line fails.
# Usage: accuracy.sh MODUX_PLAY WAVCOMPARE [--table] [--modules DIR THRESHOLDS]
#   By default the real modules of tests/realmods against the minimums of their manifest; --modules
#   takes every MOD, S3M, XM and IT file of DIR against THRESHOLDS instead.
#   --table prints the figures as rows of the engine document's tables instead of checking them.
# A thresholds line: MODULE MIN_CORRELATION MIN_ONSETS [MIN_PITCH or -] [# note], MODULE the
# file's name with or without its extension; a note of one-behaviour modules reads WHAT IT TESTS
# | REASON FOR A DELIBERATE DIFFERENCE.
# Status 77 (skipped) when the modules cannot be fetched or openmpt123 is missing; 1 with CI=true.
set -u
PLAY=$1 CMP=$2
shift 2
# Real songs are heard as loudness over both sides (--by-channel: IT's surround plays its sides in
# antiphase, which the mean of the sides cancels); one-behaviour modules by the mean of the sides.
MODE=check MODULES= by_channel=--by-channel
here=$(cd "$(dirname "$0")" && pwd)
thresholds=
while [ $# -gt 0 ]; do
  case $1 in
    --table) MODE=--table; shift ;;
    --modules) MODULES=$2 thresholds=$3 by_channel=; shift 3 ;;
    *) echo "usage: accuracy.sh MODUX_PLAY WAVCOMPARE [--table] [--modules DIR THRESHOLDS]" >&2; exit 2 ;;
  esac
done
fetch=$here/../realmods/fetch.sh
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT

# In CI (CI=true), whose set-up provides the reference player and the modules, a failure.
skip() { [ "${CI:-}" = true ] && { echo "FAIL: $* (CI=true)" >&2; exit 1; }; echo "SKIP: $*"; exit 77; }
command -v openmpt123 > /dev/null || skip "openmpt123 is not installed"
if [ -n "$MODULES" ]; then
  ls "$MODULES"/*.mod "$MODULES"/*.s3m "$MODULES"/*.xm "$MODULES"/*.it 2> /dev/null > "$T/list"
  [ -s "$T/list" ] || { echo "FAIL: no modules in $MODULES" >&2; exit 1; }
else
  [ -f "$fetch" ] || skip "no tests/realmods/fetch.sh"
  # The manifest's lines, read as MODULE and the minimums that follow the format.
  thresholds=$T/thresholds
  awk '!/^#/ && NF { n = $2; sub(/.*\//, "", n); $1 = $2 = $3 = ""; print n $0 }' "$here/../realmods/manifest.txt" > "$thresholds"
  bash "$fetch" "$T/mods" > "$T/list" 2> "$T/fetch.err" || skip "cannot fetch the modules: $(tail -2 "$T/fetch.err")"
fi

failed=0
fail() { echo "FAIL: $name: $*" >&2; failed=1; }
while read -r file; do
  name=$(basename "$file")
  "$PLAY" --whole-frame-ticks --render "$T/ours.wav" "$file" > "$T/out" 2> "$T/err" || { fail "modux-play: $(cat "$T/err")"; continue; }
  ours=$(sed -E 's/.*: ([0-9.]+) s .*/\1/' "$T/out")
  # The render ends with a tenth of a second's fade of the last voices, which the song's length
  # (--info's, the reference's) leaves out.
  song=$(awk -v s="$ours" 'BEGIN { printf "%.3f", s - 0.1 }')
  seconds=$(awk -v s="$ours" 'BEGIN { printf "%d", s == int(s) ? s : int(s) + 1 }')
  reference=$(openmpt123 --subsong 0 --info "$file" 2>/dev/null | awk '/^Duration/ { split($2, t, ":"); printf "%.3f", t[1] * 60 + t[2] }')
  openmpt123 --batch --quiet --force --no-float --dither 0 --samplerate 44100 --subsong 0 \
    --end-time "$seconds" \
    -o "$T/ref.wav" "$file" > /dev/null 2>&1 || { fail "openmpt123 cannot render it"; continue; }
  "$CMP" --pitch $by_channel "$T/ref.wav" "$T/ours.wav" > "$T/cmp" || { fail "wavcompare: $(cat "$T/cmp")"; continue; }
  read -r corr onsets lag pitch < <(awk -F': ' '{ v[$1] = $2 } END { print v["envelope_correlation"], v["onsets_matched"], v["envelope_lag_ms"], v["pitch_agreement"] }' "$T/cmp")
  min_corr= min_onsets= min_pitch=- note=
  line=$(awk -v n="$name" -v s="${name%.*}" '$1 == n || $1 == s { print; exit }' "$thresholds")
  if [ -n "$line" ]; then
    note=$(sed -n 's/^[^#]*# *//p' <<< "$line")
    read -r _ min_corr min_onsets min_pitch < <(sed 's/#.*//' <<< "$line")
    min_pitch=${min_pitch:--}
  fi
  if [ -z "${min_corr:-}" ] && [ "$MODE" = --table ]; then
    min_corr=- min_onsets=-
  elif [ -z "${min_corr:-}" ]; then
    fail "no line in $(basename "$thresholds")"
    continue
  fi
  if [ "$MODE" = --table ] && [ -n "$MODULES" ]; then
    [ "$min_pitch" = - ] && pitch=-
    what=${note%% | *} reason=
    [ "$what" = "$note" ] || reason=${note#* | }
    printf '| %s | %s | %s | %s | %s | %s / %s / %s | %s |\n' "$name" "$what" "$corr" "$onsets" "$pitch" \
      "$min_corr" "$min_onsets" "$min_pitch" "$reason"
    continue
  elif [ "$MODE" = --table ]; then
    printf '| %s | %s / %s | %s | %s | %s | %s / %s | %s |\n' "$name" "$song" "${reference:-?}" "$corr" \
      "$onsets" "$lag" "$min_corr" "$min_onsets" "$note"
    continue
  fi
  echo "$name: length $song s (reference $reference s), envelope correlation $corr (lag $lag ms), onsets matched $onsets, pitch agreement $pitch"
  # A real module lasts as long as the reference says, within 1 percent: a misread speed or tempo
  # shows here even where the loudness envelopes cannot be lined up.
  if [ -z "$MODULES" ] && [ -n "${reference:-}" ] &&
    awk -v a="$song" -v b="$reference" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(d > 0.01 * b) }'; then
    fail "lasts $song s, the reference $reference s"
  fi
  pitch_floor=$min_pitch
  [ "$min_pitch" = - ] && pitch_floor=0
  if awk -v c="$corr" -v o="$onsets" -v p="$pitch" -v mc="$min_corr" -v mo="$min_onsets" -v mp="$pitch_floor" \
    'BEGIN { exit !(c < mc || o < mo || p < mp) }'; then
    fail "below its minimum (correlation $min_corr, onsets $min_onsets, pitch $min_pitch)"
  fi
done < "$T/list"
[ $failed = 0 ] || exit 1
[ "$MODE" = --table ] || echo "accuracy: every module at or above its minimum"
