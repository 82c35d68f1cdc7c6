#!/usr/bin/env bash
# Copies the modules listed in manifest.txt (beside this script) to DEST. Each package is
# downloaded once with apt-get download into a cache (VORBEL_MODULE_CACHE, default
# ~/.cache/vorbel-modules) and unpacked there with dpkg-deb; later runs use the cache only.
# Usage: fetch.sh DEST      Prints the path of every module copied.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: fetch.sh DEST" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
dest=$1
cache=${VORBEL_MODULE_CACHE:-$HOME/.cache/vorbel-modules}
mkdir -p "$dest" "$cache"
dest=$(cd "$dest" && pwd)

while read -r package path format _; do
  case "$package" in ''|'#'*) continue ;; esac
  tree="$cache/$package"
  if [ ! -d "$tree" ]; then
    deb=$(ls "$cache/${package}"_*.deb 2>/dev/null | head -1 || true)
    if [ -z "$deb" ]; then
      if ! (cd "$cache" && apt-get download -q "$package" >"$package.log" 2>&1); then
        # The package lists may be missing or out of date: refresh them once and try again.
        SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
        $SUDO apt-get update -qq >/dev/null 2>&1 || true
        (cd "$cache" && apt-get download -q "$package" >"$package.log" 2>&1) ||
          { cat "$cache/$package.log" >&2; echo "fetch.sh: cannot download $package" >&2; exit 1; }
      fi
      deb=$(ls "$cache/${package}"_*.deb | head -1)
    fi
    dpkg-deb -x "$deb" "$tree.part"
    mv "$tree.part" "$tree"
  fi
  [ -f "$tree$path" ] || { echo "fetch.sh: $package has no $path" >&2; exit 1; }
  cp "$tree$path" "$dest/"
  echo "$dest/$(basename "$path")"
done < "$here/manifest.txt"
