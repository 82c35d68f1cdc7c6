#!/usr/bin/env bash
# The trackers' behaviour suite (one small module per playback behaviour of the tracker that
# defines its format) against the reference player (openmpt123), one row per file:
#   FOLDER/FILE VERDICT correlation ours_s reference_s rms_reference rms_ours
# Each file is rendered by modux-play --render and by openmpt123 at 44100 Hz for the engine's
# length rounded up to a whole second; wavcompare gives the correlation of the 10 ms loudness
# envelopes. A file agrees when the correlation is at least 0.8 and the engine's length is within
# 5 % or 0.15 s of the reference's; a silence test (reference RMS under 0.001) agrees when the
# engine stays as quiet (RMS under 0.003), since two near-silent envelopes correlate by chance.
# Usage: tracker_suite.sh MODUX_PLAY WAVCOMPARE SUITE_DIR [AGREEING]
#   With AGREEING (lines of FOLDER NAME NAME ..., names without their extension), a listed file
#   that does not agree fails the run; a file that agrees and is not listed is reported.
# Status 77 (skipped) when openmpt123 or the suite is missing; 1 with CI=true.
set -u
if [ "${1:-}" = --one ]; then
  # One file: PLAY CMP SUITE_DIR WORK FILE. Runs in parallel with the others.
  PLAY=$2 CMP=$3 DIR=$4 W=$(mktemp -d "$5/f.XXXXXX") f=$6
  name=${f#"$DIR"/}
  if ! "$PLAY" --render "$W/o.wav" "$f" > "$W/out" 2> "$W/err"; then
    echo "$name ERROR 0 0 0 0 0"
    exit 0
  fi
  ours=$(sed -E 's/.*: ([0-9.]+) s .*/\1/' "$W/out")
  ref=$(openmpt123 --subsong 0 --info "$f" 2> /dev/null |
    awk '/^Duration/ { split($2, t, ":"); printf "%.3f", t[1] * 60 + t[2] }')
  secs=$(awk -v s="$ours" 'BEGIN { printf "%d", s == int(s) ? s : int(s) + 1 }')
  openmpt123 --batch --quiet --force --no-float --dither 0 --samplerate 44100 --subsong 0 \
    --end-time "$secs" -o "$W/r.wav" "$f" > /dev/null 2>&1 || {
    echo "$name REFFAIL 0 $ours 0 0 0"
    exit 0
  }
  corr=$("$CMP" "$W/r.wav" "$W/o.wav" 2> /dev/null | awk -F': ' '/envelope_correlation/ { print $2 }')
  rms() { sox "$1" -n stat 2>&1 | awk '/RMS *amplitude/ { print $3 }'; }
  awk -v n="$name" -v c="${corr:-0}" -v a="$ours" -v b="${ref:-0}" -v rr="$(rms "$W/r.wav")" \
    -v ro="$(rms "$W/o.wav")" 'BEGIN {
      d = a - b; if (d < 0) d = -d
      ok = (rr < 0.001 ? ro < 0.003 : c >= 0.8) && (d <= 0.15 || d <= 0.05 * b)
      printf "%s %s %.4f %.3f %.3f %.4f %.4f\n", n, ok ? "AGREE" : "DIFFER", c, a, b, rr, ro }'
  rm -rf "$W"
  exit 0
fi

PLAY=$1 CMP=$2 DIR=${3:-} AGREEING=${4:-}
skip() {
  [ "${CI:-}" = true ] && { echo "FAIL: $* (CI=true)" >&2; exit 1; }
  echo "SKIP: $*"
  exit 77
}
command -v openmpt123 > /dev/null || skip "openmpt123 is not installed"
[ -n "$DIR" ] && [ -d "$DIR" ] || skip "no tracker suite at '$DIR'"
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
ls "$DIR"/*/*.{mod,s3m,xm,it} 2> /dev/null > "$T/list"
[ -s "$T/list" ] || { echo "FAIL: no modules in $DIR" >&2; exit 1; }
tr '\n' '\0' < "$T/list" |
  xargs -0 -P2 -n1 bash "$0" --one "$PLAY" "$CMP" "$DIR" "$T" | sort > "$T/rows"
cat "$T/rows"
# Per folder: agreeing files of all.
awk '{ split($1, p, "/"); n[p[1]]++; if ($2 == "AGREE") a[p[1]]++ }
  END { for (k in n) printf "%s %d/%d\n", k, a[k], n[k] }' "$T/rows" | sort
[ -n "$AGREEING" ] || exit 0
awk 'NR == FNR && /^#/ { next }
  NR == FNR { for (i = 2; i <= NF; i++) listed[$1 "/" $i] = 1; next }
  { key = $1; sub(/\.[^.\/]*$/, "", key); seen[key] = 1 }
  $2 != "AGREE" && key in listed { print "FAIL: " $0 " (listed as agreeing)"; bad = 1 }
  $2 == "AGREE" && !(key in listed) { print "now agrees (add it to the list): " $1 }
  END { for (k in listed) if (!(k in seen)) { print "FAIL: " k " is listed but not in the suite"; bad = 1 }
    exit bad }' "$AGREEING" "$T/rows" >&2 || exit 1
echo "tracker suite: every listed file agrees"
