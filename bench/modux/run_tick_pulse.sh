#!/usr/bin/env bash
# Runs bench_tick_pulse through real mixer voices: a private X server (Allegro's sound drivers
# load with its X system driver) and a private PulseAudio server with a null sink, which ALSA's
# default device is pointed at. Usage: run_tick_pulse.sh BENCH_TICK_PULSE [benchmark flags...]
source "$(dirname "$0")/../../tests/e2e/lib.sh"
[ $# -ge 1 ] && [ -x "$1" ] || fail "usage: run_tick_pulse.sh BENCH_TICK_PULSE [flags...]"
BENCH=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
e2e_display
pulse_start
"$BENCH" "$@"
