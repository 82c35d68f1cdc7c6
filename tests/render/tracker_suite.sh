#!/usr/bin/env bash
# The trackers' behaviour suite against openmpt123 (the engine renders ticks of whole frames, as
# the reference does), one row per file: FOLDER/FILE VERDICT
# correlation (10 ms loudness envelopes) seconds (engine, reference) RMS (reference, engine).
# Agree: correlation 0.8 or more and length within 5 % or 0.15 s; a silence test (reference RMS
# under 0.0025, -52 dBFS: an antiphase test leaves the reference a residue of its own rounding) by
# level (engine RMS under 0.003): near-silent envelopes correlate by chance.
# Usage: tracker_suite.sh MODUX_PLAY WAVCOMPARE SUITE_DIR [AGREEING]: a listed file (lines FOLDER
# NAME...) that does not agree fails. Status 77 without openmpt123 or the suite; 1 under CI=true.
set -u
if [ "${1:-}" = --one ]; then  # PLAY CMP SUITE_DIR WORK FILE, run two at a time
  W=$(mktemp -d "$5/f.XXXXXX") f=$6
  "$2" --whole-frame-ticks --render "$W/o.wav" "$f" > "$W/out" 2>&1 || { echo "${f#"$4"/} ERROR 0 0 0 0 0"; exit 0; }
  ours=$(sed -E 's/.*: ([0-9.]+) s .*/\1/' "$W/out")
  song=$(awk -v s="$ours" 'BEGIN { printf "%.3f", s - 0.1 }')  # less the render's fading tenth
  ref=$(openmpt123 --subsong 0 --info "$f" 2> /dev/null |
    awk '/^Duration/ { split($2, t, ":"); printf "%.3f", t[1] * 60 + t[2] }')
  openmpt123 --batch --quiet --force --no-float --dither 0 --samplerate 44100 --subsong 0 \
    --end-time $((${ours%.*} + 1)) -o "$W/r.wav" "$f" > /dev/null 2>&1 || echo > "$W/r.wav"
  corr=$("$3" "$W/r.wav" "$W/o.wav" 2> /dev/null | awk -F': ' '/envelope_correlation/ { print $2 }')
  rms() { sox "$1" -n stat 2>&1 | awk '/RMS *amplitude/ { print $3 }'; }
  awk -v n="${f#"$4"/}" -v c="${corr:-0}" -v a="$song" -v b="${ref:-0}" -v rr="$(rms "$W/r.wav")" \
    -v ro="$(rms "$W/o.wav")" 'BEGIN { d = a > b ? a - b : b - a
      ok = (rr == "" ? 0 : rr < 0.0025 ? ro < 0.003 : c >= 0.8) && (d <= 0.15 || d <= 0.05 * b)
      printf "%s %s %.4f %.3f %.3f %.4f %.4f\n", n, ok ? "AGREE" : "DIFFER", c, a, b, rr, ro }'
  rm -rf "$W"; exit 0
fi
skip() { [ "${CI:-}" = true ] && echo "FAIL: $* (CI)" >&2 && exit 1; echo "SKIP: $*" && exit 77; }
command -v openmpt123 > /dev/null || skip "openmpt123 is not installed"
[ -d "${3:-}" ] || skip "no tracker suite at '${3:-}'"
T=$(mktemp -d) && trap 'rm -rf "$T"' EXIT
ls "$3"/*/*.{mod,s3m,xm,it} 2> /dev/null | tr '\n' '\0' |
  xargs -0 -r -P2 -n1 bash "$0" --one "$1" "$2" "$3" "$T" | sort > "$T/rows"
cat "$T/rows"
awk '{ split($1, p, "/"); n[p[1]]++; a[p[1]] += $2 == "AGREE" }
  END { for (k in n) printf "%s %d/%d\n", k, a[k], n[k] }' "$T/rows" | sort
[ -n "${4:-}" ] || exit 0
awk 'NR == FNR { if (!/^#/) for (i = 2; i <= NF; i++) listed[$1 "/" $i] = 1; next }
  { k = $1; sub(/\.[^.\/]*$/, "", k); seen[k] = 1 }
  $2 != "AGREE" && k in listed { print "FAIL: " $0 " (listed as agreeing)"; bad = 1 }
  $2 == "AGREE" && !(k in listed) { print "now agrees (add it to the list): " $1 }
  END { for (k in listed) if (!(k in seen)) { print "FAIL: " k " is not in the suite"; bad = 1 }
    exit bad }' "$4" "$T/rows" >&2 && echo "tracker suite: every listed file agrees"
