#!/usr/bin/env bash
# modux-play --render on the game's own songs, with no display and no sound device: each song
# becomes 16-bit stereo WAV of the length the player reports, audible and unclipped, the same on
# every run and byte for byte as recorded below; --seconds and --rate shape the output; a progress
# line appears only on a terminal; a file it cannot load or a path it cannot write gives a
# message, status 1 and no file. The checksums hold the engine's own playback rules: a change of
# the tick, the effects or the mixer that moves one sample of a song fails here; a deliberate
# change of a song's source or of the mixer records the new checksums.
# Usage: render_songs.sh MODUX_PLAY WAVCOMPARE MUSIC_DIR
source "$(dirname "$0")/../e2e/lib.sh"
PLAY=$1 CMP=$2 MUSIC=$3
e2e_home
T=$E2E_DIR
export AUDIODEV=/nonexistent

declare -A sha256=(
  [funk]=fd46afee9bb6159c1c33454071ff9ac043488ce0a6a61400f605c0d58d8f6c55
  [maze]=77c9a1fee8efe6d87f67c4e2dd3a2a957dfa2bb5693cfc827c444a814efb2693
  [neon]=65cf2c55e8413fdd87923033d11b5788e6bde576e85b1e99971e4502949e4bf5
  [parade]=00c161b90d50afdc7b7d5a63702967496c310f95150e4ffa40b99da0e623be7a
  [title]=14b3e65761fc40e75f33a29a1dea367e9b102925e5045c5645583bd0583ee81e
)
songs=("$MUSIC"/*.mux)
[ ${#songs[@]} -ge 4 ] || fail "fewer than four songs in $MUSIC"
for song in "${songs[@]}"; do
  name=$(basename "$song" .mux)
  "$PLAY" --render "$T/$name.wav" "$song" > "$T/out" 2> "$T/err" || fail "$name: status $?: $(cat "$T/err")"
  [ ! -s "$T/err" ] || fail "$name: output on standard error away from a terminal: $(cat "$T/err")"
  grep -qE "^rendered \".*\" to $T/$name.wav: [0-9.]+ s \([0-9]+:[0-9.]+\) at 44100 Hz$" "$T/out" ||
    fail "$name: no account of the render: $(cat "$T/out")"
  got=$(sha256sum "$T/$name.wav" | cut -d' ' -f1)
  [ "$got" = "${sha256[$name]:-none recorded}" ] || fail "$name renders differently ($got)"
  said=$(sed -E 's/.*: ([0-9.]+) s .*/\1/' "$T/out")
  [ "$(soxi -c "$T/$name.wav")" = 2 ] && [ "$(soxi -b "$T/$name.wav")" = 16 ] &&
    [ "$(soxi -r "$T/$name.wav")" = 44100 ] || fail "$name: not 16-bit stereo at 44100 Hz"
  frames=$(soxi -s "$T/$name.wav")
  awk -v f="$frames" -v s="$said" 'BEGIN { exit !(f / 44100 - s < 0.001 && s - f / 44100 < 0.001) }' ||
    fail "$name: $frames frames, but the player said $said s"
  # A song of the game lasts about a minute or more and plays to its end, not to the limit.
  awk -v s="$said" 'BEGIN { exit !(s > 30 && s < 600) }' || fail "$name: $said s long"
  sox "$T/$name.wav" -n stat 2> "$T/stat"
  rms=$(awk '/RMS +amplitude/ { print $3 }' "$T/stat")
  peak=$(awk '/Maximum amplitude/ { print $3 }' "$T/stat")
  awk -v r="$rms" -v p="$peak" 'BEGIN { exit !(r > 0.01 && p < 0.99) }' ||
    fail "$name: RMS $rms, peak $peak (silent or clipped)"
  # Sound through the first half minute: no stall.
  for s in 0 5 10 15 20 25; do
    level=$(sox "$T/$name.wav" -n trim "$s" 1 stat 2>&1 | awk '/RMS +amplitude/ { print $3 }')
    awk -v l="$level" 'BEGIN { exit !(l > 0.002) }' || fail "$name: silent in second $s ($level)"
  done
done

# wavcompare's minimums: a rendering passes against itself, two songs fail a minimum of 0.9.
"$CMP" --min-correlation 0.9999 --min-onsets 1 "$T/funk.wav" "$T/funk.wav" > /dev/null || fail "funk is unlike itself"
"$CMP" --min-correlation 0.9 "$T/funk.wav" "$T/maze.wav" > /dev/null && fail "funk and maze passed a minimum of 0.9"

# --seconds cuts, --rate sets the rate; the account says the song was cut short.
"$PLAY" --render "$T/cut.wav" --seconds 2.5 --rate 22050 "${songs[0]}" > "$T/out" || fail "--seconds/--rate failed"
[ "$(soxi -s "$T/cut.wav")" = 55125 ] && [ "$(soxi -r "$T/cut.wav")" = 22050 ] || fail "2.5 s at 22050 Hz is not 55125 frames"
grep -q 'cut short$' "$T/out" || fail "a cut render is not called cut short: $(cat "$T/out")"

# A progress line on a terminal, and the length at the end.
script -qec "'$PLAY' --render '$T/tty.wav' '${songs[0]}'" /dev/null > "$T/tty" 2>&1 || fail "render on a terminal failed"
grep -q 'rendering ' "$T/tty" || fail "no progress line on a terminal: $(cat "$T/tty")"

# Failures: status 1 and a message naming the file or the path, nothing left behind.
printf 'not a module' > "$T/junk.mod"
mkdir "$T/taken.wav"
for c in "junk.wav|$T/junk.mod|junk.mod" "no/such/dir/x.wav|${songs[0]}|cannot write .*x.wav" "taken.wav|${songs[0]}|cannot write"; do
  IFS='|' read -r out in says <<< "$c"
  "$PLAY" --render "$T/$out" "$in" > /dev/null 2> "$T/err"; st=$?
  [ $st = 1 ] && grep -q "$says" "$T/err" || fail "$out from $in: status $st, $(cat "$T/err")"
done
ls "$T" | grep -qE 'junk.wav|partial' && fail "a failed render left a file: $(ls "$T")"
"$PLAY" --render "$T/x.wav" --rate 12 "${songs[0]}" > /dev/null 2>&1; st=$?
[ $st = 2 ] || fail "a rate of 12 Hz gave status $st"
echo "render_songs: all checks passed"
