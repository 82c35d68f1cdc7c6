#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks, then configures and builds the game, its tools and
# its data (every datafile is generated into build/run). Nothing here needs the network beyond the
# package installation: the test data is fetched by scripts/test.sh. Usage: scripts/setup.sh [build-dir] [cmake args...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake ninja-build g++ pkg-config libgtest-dev libbenchmark-dev libx11-dev
          liballegro4-dev allegro4-doc xvfb xdotool x11-utils imagemagick sox
          pulseaudio pulseaudio-utils libasound2-plugins fonts-dejavu-core libfreetype-dev libpng-dev
          openmpt123 clang clang-format libclang-rt-14-dev desktop-file-utils appstream man-db
          libsdl2-dev libsndfile1-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

build=${1:-build}
shift || true
cmake -S . -B "$build" -G Ninja "$@" >/dev/null
ninja -C "$build" -j"$(nproc)"
