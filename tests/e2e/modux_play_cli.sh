#!/usr/bin/env bash
# The example player's command line: --info prints the summary of a song as key: value lines,
# a cut-off song, a missing file, a folder and a FIFO give the engine's message and status 1
# (render_songs.sh holds the other refusals), a bad command line 2.
# Usage: modux_play_cli.sh MODUX_PLAY SONG.mux
source "$(dirname "$0")/lib.sh"
PLAY=$1 SONG=$2
T=$(mktemp -d)

"$PLAY" --info "$SONG" > "$T/info" 2> "$T/err" || fail "--info ended with status $?: $(cat "$T/err")"
for k in type name channels patterns orders samples instruments speed tempo; do
  grep -qE "^$k: .+" "$T/info" || fail "--info has no '$k:' line: $(cat "$T/info")"
done
[ "$(wc -l < "$T/info")" = 9 ] || fail "--info printed more than the nine lines"
awk -F': ' '$1 == "channels" && $2 < 4 { exit 1 }' "$T/info" || fail "a song of fewer than 4 channels"

head -c 700 "$SONG" > "$T/short.mux"
"$PLAY" --info "$T/short.mux" > "$T/out" 2> "$T/err"; st=$?
[ $st = 1 ] || fail "a cut-off song gave status $st"
[ -s "$T/err" ] && [ ! -s "$T/out" ] || fail "no message on standard error for a cut-off song"
# A missing song, a folder and a FIFO are refused at once, each with its reason (a FIFO would
# block a reader that opened it).
mkfifo "$T/fifo" && mkdir "$T/dir" || fail "no scratch FIFO or folder"
for c in "none.mux:No such file or directory" "dir:not a regular file" "fifo:not a regular file"; do
  timeout 10 "$PLAY" --info "$T/${c%%:*}" > "$T/out" 2> "$T/err"; st=$?
  [ $st = 1 ] && grep -qF "Unable to open $T/${c%%:*}: ${c#*:}" "$T/err" ||
    fail "${c%%:*}: status $st, '$(cat "$T/err")'"
done
# Playing needs a display but no sound device: it plays silently. The X server here resets when
# its last client leaves, so a player that let go of its first connection would be refused.
e2e_display reset
for i in 1 2 3; do
  "$PLAY" --seconds 0.3 "$SONG" > "$T/play" 2> "$T/err" || fail "--seconds ended with status $?: $(tail -2 "$T/err")"
  grep -q "playing silently" "$T/err" || fail "no word of the silent playback"
  grep -q '^played 0.3 s of ' "$T/play" || fail "no account of the playback: $(cat "$T/play")"
done

"$PLAY" --seconds > /dev/null 2>&1; st=$?
[ $st = 2 ] || fail "a bad command line gave status $st"
rm -rf "$T"
echo "modux_play_cli: all checks passed"
