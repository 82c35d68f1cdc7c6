#!/usr/bin/env bash
# Runs bench_gameloop as the game runs: a private X server for its window and a private PulseAudio
# server with a paced null sink, which ALSA's default device is pointed at, so the song is mixed
# in real time by Allegro's sound thread. Usage: run_gameloop.sh BENCH_GAMELOOP [benchmark flags...]
source "$(dirname "$0")/../../tests/e2e/lib.sh"
[ $# -ge 1 ] && [ -x "$1" ] || fail "usage: run_gameloop.sh BENCH_GAMELOOP [flags...]"
BENCH=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shift
e2e_display
pulse_start
"$BENCH" "$@"
