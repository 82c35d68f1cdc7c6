#!/usr/bin/env bash
# modux-play's command line, with no display and no sound device: --help, --version and the
# refusals of a bad command line (status 2); --info's summary and its lengths against what the
# render writes, for the whole song and for each subsong of a module that has two; status 1 for
# a cut-off song, a missing file, a folder, a FIFO and no sound output; the output files by
# extension, their samples the WAV's where the format is lossless, and a pipe written in place
# (render_songs.sh: the WAV's checks).
# Usage: modux_play_cli.sh MODUX_PLAY MODKIT SONG.mux
source "$(dirname "$0")/lib.sh"
PLAY=$1 MODKIT=$2 SONG=$3
e2e_home
T=$E2E_DIR

"$PLAY" --help > "$T/help" || fail "--help gave status $?"
for o in --info --render --subsong --loop --volume --seconds --rate --resampler --float --whole-frame-ticks --version; do
  grep -q -- "$o" "$T/help" || fail "--help does not mention $o"
done
"$PLAY" --version | grep -qE '^modux-play [0-9]+\.[0-9]+' || fail "--version: $("$PLAY" --version)"
for args in "--bogus $SONG" "--volume 101 $SONG" "--subsong 0 $SONG" "--seconds" "" "--render a.wav $SONG $SONG" "--render a.mp3 $SONG" "--render a.flac --float $SONG" "--resampler cosine $SONG"; do
  "$PLAY" $args > /dev/null 2> "$T/err"; st=$?
  [ $st = 2 ] && [ -s "$T/err" ] || fail "'$args' gave status $st and no message"
done

# seconds_of FILE: the length of what a render wrote; same_length A B WHAT: within 5 ms, less than
# a tick at any tempo (the render runs 1 to 2 ms past the scanned length).
seconds_of() { soxi -D "$1"; }
same_length() { awk -v a="$1" -v b="$2" 'BEGIN { d = a - b; exit !(d < 0.005 && d > -0.005) }' || fail "$3: $1 s against $2 s"; }
info_length() { awk -v k="$1:" '$1 == k { print $2 }' "$T/info"; }

"$PLAY" --info "$SONG" > "$T/info" 2> "$T/err" || fail "--info ended with status $?: $(cat "$T/err")"
for k in type name channels patterns orders samples instruments length subsongs; do
  grep -qE "^$k: .+" "$T/info" || fail "--info has no '$k:' line: $(cat "$T/info")"
done
"$PLAY" --render "$T/song.wav" "$SONG" > /dev/null || fail "the render failed"
same_length "$(info_length length)" "$(seconds_of "$T/song.wav")" "--info's length and the render's"

"$MODKIT" "$(dirname "$0")/subsongs.mod.txt" "$T/two.mod" || fail "modkit failed"
"$PLAY" --info "$T/two.mod" > "$T/info" || fail "--info on two subsongs failed"
[ "$(info_length subsongs)" = 2 ] || fail "not two subsongs: $(cat "$T/info")"
# A module's render ends with a tenth of a second's fade of the voices that sound at its end.
for n in 1 2; do
  "$PLAY" --render "$T/sub$n.wav" --subsong $n "$T/two.mod" > /dev/null || fail "--subsong $n failed"
  same_length "$(awk -v k="$n:" '$1 == "subsong" && $2 == k { print $5 + 0.1 }' "$T/info")" "$(seconds_of "$T/sub$n.wav")" "subsong $n"
done
awk -v a="$(seconds_of "$T/sub1.wav")" -v b="$(seconds_of "$T/sub2.wav")" 'BEGIN { exit !(b < a / 1.5) }' ||
  fail "subsong 2 is not the shorter one"
"$PLAY" --render "$T/x.wav" --subsong 3 "$T/two.mod" > /dev/null 2>&1 && fail "a third subsong was written"
"$PLAY" --render "$T/again.wav" --subsong 2 --loop 1 "$T/two.mod" > /dev/null || fail "--loop 1 --subsong 2 failed"
same_length "$(seconds_of "$T/again.wav")" "$(awk -v s="$(seconds_of "$T/sub2.wav")" 'BEGIN { print 2 * s - 0.1 }')" "subsong 2 played twice"
# Subsong 2's 192 ticks, at 100 BPM from the second on (ProTracker takes Fxx's tempo at the next
# tick): with --whole-frame-ticks 1102 frames each, 220 more than at 125 BPM (882); by default
# 1102.5, about 96 frames more in all.
sed 's/^0 0 G-2 1 \. \./0 0 G-2 1 . F64/' "$(dirname "$0")/subsongs.mod.txt" > "$T/slow.txt"
"$MODKIT" "$T/slow.txt" "$T/slow.mod" || fail "modkit failed"
"$PLAY" --render "$T/w125.wav" --whole-frame-ticks --subsong 2 "$T/two.mod" > /dev/null &&
  "$PLAY" --render "$T/w100.wav" --whole-frame-ticks --subsong 2 "$T/slow.mod" > /dev/null &&
  "$PLAY" --render "$T/e100.wav" --subsong 2 "$T/slow.mod" > /dev/null || fail "a render at 100 BPM failed"
[ $(($(soxi -s "$T/w100.wav") - $(soxi -s "$T/w125.wav"))) = $((191 * 220)) ] &&
  [ $(($(soxi -s "$T/e100.wav") - $(soxi -s "$T/w100.wav"))) -gt 64 ] || fail "ticks of 100 BPM are not 1102 frames with --whole-frame-ticks alone"

head -c 700 "$SONG" > "$T/short.mux"
"$PLAY" --info "$T/short.mux" "$SONG" > "$T/out" 2> "$T/err"; st=$?
[ $st = 1 ] && grep -q "short.mux: " "$T/err" || fail "a cut-off song gave status $st, $(cat "$T/err")"
grep -q "^file: $SONG" "$T/out" || fail "the whole song after the cut one was not described"
# A missing song, a folder and a FIFO are refused at once, each with its reason (a FIFO would
# block a reader that opened it).
mkfifo "$T/fifo" && mkdir "$T/dir" || fail "no scratch FIFO or folder"
for c in "none.mux:No such file or directory" "dir:not a regular file" "fifo:not a regular file"; do
  timeout 10 "$PLAY" --info "$T/${c%%:*}" > "$T/out" 2> "$T/err"; st=$?
  [ $st = 1 ] && grep -qF "Unable to open $T/${c%%:*}: ${c#*:}" "$T/err" ||
    fail "${c%%:*}: status $st, '$(cat "$T/err")'"
done
PULSE_SERVER="unix:$T/none" "$PLAY" "$SONG" > /dev/null 2> "$T/err"; st=$?
[ $st = 1 ] && grep -q "no sound output" "$T/err" || fail "with no sound output: status $st, $(tail -1 "$T/err")"

# Output files: FLAC and a pipe carry the WAV's samples, Ogg Vorbis its length, --float floats.
samples() { sox "$1" -t raw - 2>/dev/null | md5sum; }
"$PLAY" --render "$T/cut.wav" --seconds 4 "$SONG" > /dev/null && "$PLAY" --render "$T/cut.flac" --seconds 4 "$SONG" > /dev/null &&
  "$PLAY" --render "$T/cut.ogg" --seconds 4 "$SONG" > /dev/null && "$PLAY" --render "$T/float.wav" --float --seconds 4 "$SONG" > /dev/null &&
  "$PLAY" --render - --seconds 4 "$SONG" 2> /dev/null | cat > "$T/piped.wav" || fail "a render failed"
mkfifo "$T/fifo.wav"
cat "$T/fifo.wav" > "$T/fromfifo.wav" &
"$PLAY" --render "$T/fifo.wav" --seconds 4 "$SONG" > /dev/null || fail "writing into a pipe failed"
wait
[ -p "$T/fifo.wav" ] || fail "the pipe was replaced"
# Each resampler is heard apart; linear is the default.
for r in linear nearest cubic sinc; do "$PLAY" --render "$T/$r.wav" --seconds 4 --resampler $r "$SONG" > /dev/null; done
[ "$(samples "$T/linear.wav")" = "$(samples "$T/cut.wav")" ] &&
  [ "$(for r in linear nearest cubic sinc; do samples "$T/$r.wav"; done | sort -u | wc -l)" = 4 ] ||
  fail "the resamplers do not sound apart, or linear is not the default"
for f in cut.flac piped.wav fromfifo.wav; do
  [ "$(samples "$T/$f")" = "$(samples "$T/cut.wav")" ] || fail "$f does not hold the WAV's samples"
done
[ "$(soxi -t "$T/cut.flac")" = flac ] && [ "$(soxi -t "$T/cut.ogg")" = vorbis ] || fail "not FLAC and Ogg Vorbis"
[ "$(soxi -s "$T/cut.ogg")" = 176400 ] || fail "the Ogg Vorbis file is not 4 s long"
soxi -e "$T/float.wav" 2> /dev/null | grep -q 'Floating Point' || fail "--float wrote $(soxi -e "$T/float.wav")"
echo "modux_play_cli: all checks passed"
