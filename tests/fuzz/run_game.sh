#!/usr/bin/env bash
# Builds the fuzz target of one of the game's file parsers (fuzz_game.cpp) with clang's libFuzzer,
# AddressSanitizer and UBSan, seeds it with a sound file of its kind and fuzzes it for SECONDS. A
# crash, a hang or a broken rule fails the run; its input is kept as OUT/PARSER/artifacts/crash-*.
# Usage: run_game.sh OUT BUILD_DIR PARSER SECONDS [libFuzzer options...]
#   PARSER: table, save, replay, map, level or options
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: run_game.sh OUT BUILD_DIR PARSER SECONDS [options...]" >&2; exit 2; }
src=$(cd "$(dirname "$0")/../.." && pwd) build=$(cd "$2" && pwd) parser=$3 seconds=$4
parsers=(table save replay map level options)
n=0; for p in "${parsers[@]}"; do n=$((n + 1)); [ "$p" = "$parser" ] && break; done
[ "$p" = "$parser" ] || { echo "run_game.sh: no parser '$parser'" >&2; exit 2; }
mkdir -p "$1/obj" "$1/$parser/corpus" "$1/$parser/seeds" "$1/$parser/artifacts"
out=$(cd "$1" && pwd) seeds=$(cd "$1/$parser/seeds" && pwd)
shift 4

flags=(-g -O1 -std=c++17 -fsanitize=address,undefined -fno-sanitize-recover=undefined -Wall -Wextra)
dirs=("$src/game" "$src/modux" "$src/tools/common" "$src/tools/mapgen" "$build/generated")
read -r -a allegro <<< "$(pkg-config --cflags --libs allegro)"
# The game's objects serve every target; built again when a source or header is newer.
if [ ! -e "$out/obj/.built" ] || [ -n "$(find "${dirs[@]}" -newer "$out/obj/.built" -name '*.[ch]*' | head -1)" ]; then
  echo "run_game.sh: building the game's objects"
  for s in "$src"/game/*.cpp "$src"/modux/*.cpp "$src/tools/common/safefile.cpp" "$src/tools/mapgen/maplevel.cpp"; do
    [ "$s" = "$src/game/main.cpp" ] && continue
    clang++ "${flags[@]}" -fsanitize=fuzzer-no-link "${dirs[@]/#/-I}" -c "$s" -o "$out/obj/$(basename "$(dirname "$s")")_$(basename "$s" .cpp).o"
  done
  touch "$out/obj/.built"
fi
target=$out/fuzz_game_$parser
if [ ! -x "$target" ] || [ "$out/obj/.built" -nt "$target" ] || [ "$src/tests/fuzz/fuzz_game.cpp" -nt "$target" ]; then
  clang++ "${flags[@]}" -fsanitize=fuzzer -DFUZZ_PARSER=$n "${dirs[@]/#/-I}" "$src/tests/fuzz/fuzz_game.cpp" \
    "$out"/obj/*.o "${allegro[@]}" -lX11 -lpthread -o "$target"
fi
case $parser in
  table) for i in $(seq 15); do printf '\0\0\0\0\1\0\0\0\0\0\0\0Vorbel-Endurant\0'; done > "$seeds/default.hsc" ;;
  save) { head -c 1120 /dev/zero; printf 'Vorbel Endurnal v2.0 - Windows Only Version\0'; } > "$seeds/empty.svg" ;;
  replay) { printf 'VORBELRP%s' "$(grep -o '"Vorbel Endurnal[^"]*replay[^"]*"' "$src/game/replay.cpp" | tr -d '"')"; head -c 35 /dev/zero; } > "$seeds/empty.rec" ;;
  map) cp "$build"/run/custom/*.map "$seeds/" ;;
  level) cp "$src"/data/maps/level*.txt "$src"/data/custom/*.txt "$seeds/" ;;
  options) printf 'sound on\nmusic on\nsound_volume 200\nmusic_volume 200\ndifficulty Normal\n' > "$seeds/vorbel.cfg" ;;
esac
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$out/$parser"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix="$out/$parser/artifacts/" -print_final_stats=1 "$@" corpus "$seeds"
