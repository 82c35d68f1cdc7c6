#!/usr/bin/env bash
# Each real module of the manifest is summarised alike by modux-play --info and by openmpt123
# --info, but where the model differs by design: an XM gains one silent sample and may gain one
# empty pattern for orders naming a missing one (so may an IT); an S3M loads only the patterns its
# order list names, without its "+++" and "---" markers. Each MOD and XM cut short by a twentieth,
# as downloads often are, loads the same song with a note of what is missing.
# Usage: compare_info.sh MODUX_PLAY DIR   (DIR holds the modules that fetch.sh copied)
set -uo pipefail
[ $# -eq 2 ] || { echo "usage: compare_info.sh MODUX_PLAY DIR" >&2; exit 2; }
play=$1 dir=$2
manifest="$(dirname "$0")/manifest.txt"
command -v openmpt123 >/dev/null || { echo "FAIL: openmpt123 is not installed" >&2; exit 1; }

# ours KEY / ref LABEL: one value of either summary, trailing blanks removed.
ours() { awk -v k="$1:" '$1 == k { sub(/^[^:]*: /, ""); sub(/[ \t]+$/, ""); print; exit }' <<< "$mine"; }
ref() { awk -v k="$1" 'index($0, k) == 1 { sub(/^[^:]*: /, ""); sub(/[ \t]+$/, ""); print; exit }' <<< "$theirs"; }

status=0 count=0
while read -r package path format _; do
  case "$package" in ''|'#'*) continue ;; esac
  file="$dir/$(basename "$path")"
  name=$(basename "$path")
  [ -f "$file" ] || { echo "FAIL: $name: not fetched" >&2; status=1; continue; }
  mine=$("$play" --info "$file" 2>&1) || { echo "FAIL: $name: modux-play: $mine" >&2; status=1; continue; }
  theirs=$(openmpt123 --info "$file" 2>&1)
  problems=()
  [ "$(ours name)" = "$(ref Title)" ] || problems+=("name '$(ours name)' vs '$(ref Title)'")
  for pair in channels:Channels orders:Orders instruments:Instruments; do
    a=$(ours "${pair%%:*}") b=$(ref "${pair#*:}")
    [ "$a" = "$b" ] || [ "$format:${pair%%:*}" = s3m:orders ] && [ "$a" -le "$b" ] ||
      problems+=("${pair%%:*} $a vs $b")
  done
  if [ "$format" = mod ] || [ "$format" = xm ]; then
    head -c $(($(stat -c %s "$file") * 19 / 20)) "$file" > "$dir/cut.$format"
    cut=$("$play" --info "$dir/cut.$format" 2>&1) || problems+=("cut short: $cut")
    counts() { grep -E '^(channels|orders|patterns|instruments):' <<< "$1"; }
    [ "$(counts "$cut")" = "$(counts "$mine")" ] || problems+=("cut short: other counts")
    grep -q '^note: file ends' <<< "$cut" || problems+=("cut short, yet no note of it")
    rm -f "$dir/cut.$format"
  fi
  p=$(ours patterns) rp=$(ref Patterns) s=$(ours samples) rs=$(ref Samples)
  case $format in
    mod) [ "$p" = "$rp" ] && [ "$s" = "$rs" ] || problems+=("patterns $p vs $rp, samples $s vs $rs") ;;
    s3m) [ "$p" -ge 1 ] && [ "$p" -le "$rp" ] && [ "$s" = "$rs" ] || problems+=("patterns $p vs $rp, samples $s vs $rs") ;;
    xm) { [ "$p" = "$rp" ] || [ "$p" = $((rp + 1)) ]; } && [ "$s" = $((rs + 1)) ] ||
          problems+=("patterns $p vs $rp, samples $s vs $rs + the silent one") ;;
    it) { [ "$p" = "$rp" ] || [ "$p" = $((rp + 1)) ]; } && [ "$s" = "$rs" ] ||
          problems+=("patterns $p vs $rp, samples $s vs $rs") ;;
    *) problems+=("unknown format $format in the manifest") ;;
  esac
  case "$format:$(ours type)" in
    mod:"MOD (31 Samples)"|s3m:S3M|xm:XM|it:IT) ;;
    *) problems+=("type '$(ours type)' for a $format file") ;;
  esac
  count=$((count + 1))
  if [ ${#problems[@]} -gt 0 ]; then
    for pr in "${problems[@]}"; do echo "FAIL: $name: $pr" >&2; done
    status=1
  else
    echo "-- $name: $(ours type) \"$(ours name)\", $(ours channels) channels, $(ours orders) orders, $p patterns, $(ours instruments) instruments, $s samples: as the reference says"
  fi
done < "$manifest"
[ $count -ge 9 ] || { echo "FAIL: only $count modules compared" >&2; status=1; }
[ $status = 0 ] && echo "compare_info: $count real modules agree with the reference player"
exit $status
