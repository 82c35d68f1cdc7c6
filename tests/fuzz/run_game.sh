#!/usr/bin/env bash
# Builds the fuzz targets of the game's file parsers (fuzz_game.cpp) with clang's libFuzzer,
# AddressSanitizer and UBSan, seeds PARSER's target with a valid input it writes itself (and, for
# level texts, the shipped levels), and fuzzes it for SECONDS. A crash, a hang or a broken rule
# fails the run; its input is kept as OUT/PARSER/artifacts/crash-*.
# Usage: run_game.sh OUT GENERATED_DIR PARSER SECONDS [libFuzzer options...]
#   PARSER: table, save, replay, map, level or options
set -euo pipefail
[ $# -ge 4 ] || { echo "usage: run_game.sh OUT GENERATED_DIR PARSER SECONDS [options...]" >&2; exit 2; }
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$1 generated=$(cd "$2" && pwd) parser=$3 seconds=$4
shift 4
case $parser in
  table) n=1 ;; save) n=2 ;; replay) n=3 ;; map) n=4 ;; level) n=5 ;; options) n=6 ;;
  *) echo "run_game.sh: no parser '$parser'" >&2; exit 2 ;;
esac
mkdir -p "$out/obj" "$out/$parser/corpus" "$out/$parser/seeds" "$out/$parser/artifacts"
out=$(cd "$out" && pwd)

flags=(-g -O1 -std=c++17 -fsanitize=address,undefined -fno-sanitize-recover=undefined -Wall -Wextra)
includes=(-I"$src/game" -I"$generated" -I"$src/modux" -I"$src/tools/common" -I"$src/tools/mapgen")
read -r -a allegro <<< "$(pkg-config --cflags --libs allegro)"
sources=("$src"/game/*.cpp "$src"/modux/*.cpp "$src/tools/common/safefile.cpp" "$src/tools/mapgen/maplevel.cpp")
# The game's objects are built once for every target, again when a source or header is newer.
stamp="$out/obj/.built"
if [ ! -e "$stamp" ] || [ -n "$(find "$src/game" "$src/modux" "$src/tools/common" "$src/tools/mapgen" "$generated" -newer "$stamp" -name '*.[ch]*' | head -1)" ]; then
  echo "run_game.sh: building the game's objects"
  rm -f "$out"/obj/*.o
  for s in "${sources[@]}"; do
    [ "$(basename "$s")" = main.cpp ] && continue
    clang++ "${flags[@]}" -fsanitize=fuzzer-no-link "${includes[@]}" -c "$s" -o "$out/obj/$(basename "$(dirname "$s")")_$(basename "$s" .cpp).o"
  done
  touch "$stamp"
fi
target="$out/fuzz_game_$parser"
if [ ! -x "$target" ] || [ "$stamp" -nt "$target" ] || [ "$src/tests/fuzz/fuzz_game.cpp" -nt "$target" ]; then
  clang++ "${flags[@]}" -fsanitize=fuzzer -DFUZZ_PARSER=$n "${includes[@]}" "$src/tests/fuzz/fuzz_game.cpp" \
    "$out"/obj/*.o "${allegro[@]}" -lX11 -lpthread -o "$target"
fi
[ "$parser" = level ] && cp "$src"/data/maps/level*.txt "$src"/data/custom/*.txt "$out/$parser/seeds/"
FUZZ_SEED_DIR="$out/$parser/seeds" "$target" -runs=0 "$out/$parser/seeds" >/dev/null 2>&1

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$out/$parser"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -artifact_prefix="$out/$parser/artifacts/" -print_final_stats=1 "$@" "$out/$parser/corpus" "$out/$parser/seeds"
