#!/usr/bin/env bash
# Builds the importers' fuzz target with clang's libFuzzer, AddressSanitizer and UBSan, seeds
# it with small built modules and the real modules of tests/realmods, and fuzzes for SECONDS.
# A crash, a hang or a disagreement between probe and load fails the run; its input is kept
# as OUT/artifacts/crash-* (copy it to tests/fuzz/regressions/ with the mend).
# Usage: run.sh OUT SECONDS [libFuzzer options...]
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: run.sh OUT SECONDS [options...]" >&2; exit 2; }
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$1 seconds=$2
shift 2
mkdir -p "$out/corpus" "$out/seeds" "$out/artifacts"
out=$(cd "$out" && pwd)

flags=(-g -O1 -std=c++17 -fsanitize=address,undefined -fno-sanitize-recover=undefined -Wall -Wextra)
includes=(-I"$src/modux" -I"$src/tests/modux" -I"$src/tests/fuzz")
read -r -a allegro <<< "$(pkg-config --cflags --libs allegro)"
sources=("$src"/modux/*.cpp "$src/tests/fuzz/fuzz_modules.cpp")
target="$out/fuzz_modules"
# Rebuilt only when a source or header is newer than the target.
if [ ! -x "$target" ] || [ -n "$(find "$src/modux" "$src/tests/fuzz" "$src/tests/modux/module_images.h" -newer "$target" -name '*.[ch]*' | head -1)" ]; then
  echo "run.sh: building the fuzz target"
  clang++ "${flags[@]}" -fsanitize=fuzzer "${includes[@]}" "${sources[@]}" "${allegro[@]}" -lpthread -o "$target"
  clang++ -std=c++17 -O1 "${includes[@]}" "$src/tests/fuzz/write_seeds.cpp" -o "$out/write_seeds"
fi
"$out/write_seeds" "$out/seeds"
"$src/tests/realmods/fetch.sh" "$out/seeds" > /dev/null || echo "run.sh: real modules not fetched; fuzzing from built seeds only" >&2
cp "$src"/tests/fuzz/regressions/* "$out/seeds/" 2>/dev/null || true

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$out"
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=400000 \
  -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$@" "$out/corpus" "$out/seeds"
