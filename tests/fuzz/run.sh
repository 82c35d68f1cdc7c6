#!/usr/bin/env bash
# Builds a fuzz target with clang's libFuzzer, AddressSanitizer and UBSan, seeds it and fuzzes it
# for SECONDS. Without --game: the importers' target (fuzz_modules.cpp), seeded with small built
# modules and the real modules of tests/realmods. With --game PARSER BUILD_DIR: the target of one
# of the game's file parsers (fuzz_game.cpp: table, save, replay, map, level or options), seeded with a
# sound file of its kind; BUILD_DIR holds the generated headers and the example maps. A crash, a
# hang or a broken rule fails the run; its input is kept as OUT/artifacts/crash-* (copy it to
# tests/fuzz/regressions/ with the mend).
# Usage: run.sh [--game PARSER BUILD_DIR] OUT SECONDS [libFuzzer options...]
set -euo pipefail
parser=
[ "${1:-}" = --game ] && [ $# -ge 3 ] && { parser=$2 build=$(cd "$3" && pwd); shift 3; }
[ $# -ge 2 ] || { echo "usage: run.sh [--game PARSER BUILD_DIR] OUT SECONDS [options...]" >&2; exit 2; }
src=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$1/corpus" "$1/seeds" "$1/artifacts"
out=$(cd "$1" && pwd) seconds=$2 max_len=400000
shift 2

flags=(-g -O1 -std=c++17 -fsanitize=address,undefined -fno-sanitize-recover=undefined -Wall -Wextra)
read -r -a allegro <<< "$(pkg-config --cflags --libs allegro)"
if [ -z "$parser" ]; then
  includes=(-I"$src/modux" -I"$src/tests/modux" -I"$src/tests/fuzz")
  sources=("$src"/modux/*.cpp "$src/tests/fuzz/fuzz_modules.cpp")
  target="$out/fuzz_modules"
  # Rebuilt only when a source or header is newer than the target.
  if [ ! -x "$target" ] || [ -n "$(find "$src/modux" "$src/tests/fuzz" "$src/tests/modux/module_images.h" "$src/tools/modkit" -newer "$target" -name '*.[ch]*' | head -1)" ]; then
    echo "run.sh: building the fuzz target"
    clang++ "${flags[@]}" -fsanitize=fuzzer "${includes[@]}" "${sources[@]}" "${allegro[@]}" -lpthread -o "$target"
    clang++ -std=c++17 -O1 "${includes[@]}" "$src/tests/fuzz/write_seeds.cpp" -o "$out/write_seeds"
  fi
  "$out/write_seeds" "$out/seeds"
  "$src/tests/realmods/fetch.sh" "$out/seeds" > /dev/null || echo "run.sh: real modules not fetched; fuzzing from built seeds only" >&2
  cp "$src"/tests/fuzz/regressions/* "$out/seeds/" 2>/dev/null || true
else
  case $parser in table) n=1 ;; save) n=2 ;; replay) n=3 ;; map) n=4 ;; level) n=5 ;; options) n=6 ;; *) echo "run.sh: no parser $parser" >&2; exit 2 ;; esac
  dirs=("$src/game" "$src/modux" "$src/tools/common" "$src/tools/mapgen" "$build/generated")
  # The game's objects, beside OUT, serve every parser's target; built again when a source is newer.
  obj=$(dirname "$out")/obj target=$(dirname "$out")/fuzz_game_$parser max_len=8192
  mkdir -p "$obj"
  if [ ! -e "$obj/.built" ] || [ -n "$(find "${dirs[@]}" -newer "$obj/.built" -name '*.[ch]*' | head -1)" ]; then
    echo "run.sh: building the game's objects"
    for s in "$src"/game/*.cpp "$src"/modux/*.cpp "$src/tools/common/safefile.cpp" "$src/tools/mapgen/maplevel.cpp"; do
      [ "$s" = "$src/game/main.cpp" ] || clang++ "${flags[@]}" -fsanitize=fuzzer-no-link "${dirs[@]/#/-I}" -c "$s" -o "$obj/$(basename "$(dirname "$s")")_$(basename "$s" .cpp).o"
    done
    touch "$obj/.built"
  fi
  if [ ! -x "$target" ] || [ "$obj/.built" -nt "$target" ] || [ "$src/tests/fuzz/fuzz_game.cpp" -nt "$target" ]; then
    clang++ "${flags[@]}" -fsanitize=fuzzer -DFUZZ_PARSER=$n "${dirs[@]/#/-I}" "$src/tests/fuzz/fuzz_game.cpp" "$obj"/*.o "${allegro[@]}" -lX11 -lpthread -o "$target"
  fi
  case $parser in
    table) for i in $(seq 15); do printf '\0\0\0\0\1\0\0\0\0\0\0\0Vorbel-Endurant\0'; done > "$out/seeds/default.hsc" ;;
    save) { head -c 1120 /dev/zero; printf 'Vorbel Endurnal v2.0 - Windows Only Version\0'; } > "$out/seeds/empty.svg" ;;
    replay) { printf 'VORBELRP%s' "$(grep -o '"Vorbel Endurnal[^"]*replay[^"]*"' "$src/game/replay.cpp" | tr -d '"')"; head -c 35 /dev/zero; } > "$out/seeds/empty.rec" ;;
    map) cp "$build"/run/custom/*.map "$out/seeds/" ;;
    level) cp "$src"/data/maps/level*.txt "$src"/data/custom/*.txt "$out/seeds/" ;;
    options) printf 'sound on\nmusic off\nsound_volume 200\nmusic_volume 90\ndifficulty Hard\n' > "$out/seeds/vorbel.cfg" ;;
  esac
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$out"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=$max_len \
  -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$@" "$out/corpus" "$out/seeds"
