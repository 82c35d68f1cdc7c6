#!/usr/bin/env bash
# Sets everything up and starts the game from the folder that holds its datafiles.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
cd build/run
exec ./vorbel
