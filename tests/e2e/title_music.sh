#!/usr/bin/env bash
# The title screen is heard: started with a (paced) sound server, the game plays its music
# from the first moments of the title screen, at a sane level and without clipping.
# Usage: title_music.sh RUN_DIR
source "$(dirname "$0")/lib.sh"
e2e_init "$1"
pulse_start
pulse_record "$E2E_DIR/title.raw"
game_start; game_window
sleep 5
press Escape; game_wait_exit
pulse_stop_record
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS"
grep -q "Installing without sound" "$E2E_DIR/out.txt" && fail "the game did not find the sound server"
stats=$(sox -t raw -r 44100 -e signed -b 16 -c 2 "$E2E_DIR/title.raw" -n stat 2>&1)
len=$(echo "$stats" | awk '/Length/ {print $3}')
rms=$(echo "$stats" | awk '/RMS +amplitude/ {print $3}')
peak=$(echo "$stats" | awk '/Maximum amplitude/ {print $3}')
note "recorded ${len}s, RMS $rms, peak $peak"
awk -v l="$len" 'BEGIN{exit !(l > 3)}' || fail "only ${len}s of sound while the title screen was up"
awk -v r="$rms" 'BEGIN{exit !(r > 0.01)}' || fail "the title screen is silent (RMS $rms)"
awk -v p="$peak" 'BEGIN{exit !(p < 0.999)}' || fail "the music clips (peak $peak)"
echo "title_music: all checks passed"
