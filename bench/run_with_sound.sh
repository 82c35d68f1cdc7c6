#!/usr/bin/env bash
# Runs a benchmark the way the game runs: a private X server (for a window, and because Allegro's
# sound drivers load with its X system driver) and a private PulseAudio server with a paced null
# sink that ALSA's default device is pointed at, so songs are mixed in real time by Allegro's
# sound thread. Usage: run_with_sound.sh BENCH [benchmark flags...]
source "$(dirname "$0")/../tests/e2e/lib.sh"
[ $# -ge 1 ] && [ -x "$1" ] || fail "usage: run_with_sound.sh BENCH [flags...]"
BENCH=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
e2e_display
pulse_start
"$BENCH" "$@"
