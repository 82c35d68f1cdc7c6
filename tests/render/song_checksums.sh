#!/usr/bin/env bash
# The game's songs keep the engine's own playback rules: each song of the run folder, rendered by
# modux-play --render at 44100 Hz, must come out byte for byte as recorded below. A change of the
# tick, the effects or the mixer that moves one sample of a song fails here; a deliberate change
# of a song's source or of the mixer records the new checksums.
# Usage: song_checksums.sh MODUX_PLAY MUSIC_DIR
set -u
PLAY=$1 MUSIC=$2
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
unset DISPLAY
export AUDIODEV=/nonexistent

# song  sha256 of the rendered WAV
expected='
funk   fd46afee9bb6159c1c33454071ff9ac043488ce0a6a61400f605c0d58d8f6c55
maze   77c9a1fee8efe6d87f67c4e2dd3a2a957dfa2bb5693cfc827c444a814efb2693
neon   65cf2c55e8413fdd87923033d11b5788e6bde576e85b1e99971e4502949e4bf5
parade 00c161b90d50afdc7b7d5a63702967496c310f95150e4ffa40b99da0e623be7a
title  14b3e65761fc40e75f33a29a1dea367e9b102925e5045c5645583bd0583ee81e
'
failed=0
while read -r song sum; do
  [ -n "$song" ] || continue
  if ! "$PLAY" --render "$T/$song.wav" "$MUSIC/$song.mux" > /dev/null 2> "$T/err"; then
    echo "FAIL: $song: $(cat "$T/err")" >&2
    failed=1
    continue
  fi
  got=$(sha256sum "$T/$song.wav" | cut -d' ' -f1)
  [ "$got" = "$sum" ] || { echo "FAIL: $song renders differently ($got)" >&2; failed=1; }
done <<< "$expected"
[ $failed = 0 ] && echo "song_checksums: every song renders as recorded"
exit $failed
