#!/usr/bin/env bash
# Sets everything up and runs the whole test suite headless: the sources against the house style,
# the suite in the normal build, again in a build with AddressSanitizer and UndefinedBehaviorSanitizer,
# and the engine's tests in a build with ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
bash scripts/check-format.sh
# Real modules for the importer tests, from Debian packages (kept in a cache between builds); only
# the tests need them, so playing the game never waits on the network for them.
bash tests/realmods/fetch.sh build/realmods >/dev/null
# The journeys played in real time by held keys and mouse strokes (label "realtime") take minutes
# and run once, in the sanitizer build below, where they also check memory; every other test
# runs in both builds.
(cd build && ctest --output-on-failure -j2 --timeout 600 -LE realtime)
# The sanitizer builds compile at -O1 with line tables only: their reports still name file and
# line, and they build in less than half the time of -O2 with full debug information.
quick=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
       "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
scripts/setup.sh build-asan -DVORBEL_SANITIZE=ON -DVORBEL_BENCH=OFF "${quick[@]}"
bash tests/realmods/fetch.sh build-asan/realmods >/dev/null
# Leaks are checked too; the sound system's own allocations are suppressed in tests/lsan.supp,
# with the reason. They are known by the Allegro call on their stack, which only the full unwinder
# records (the libraries below it are unloaded by the time the leaks are reported).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
(cd build-asan && ctest --output-on-failure -j2 --timeout 900)
# The engine's tests once more under ThreadSanitizer (control calls against a running tick).
# Only the engine and its tests are built there: about half a minute.
cmake -S . -B build-tsan -G Ninja -DVORBEL_TSAN=ON -DVORBEL_BENCH=OFF "${quick[@]}" >/dev/null
ninja -C build-tsan modux_tests
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
(cd build-tsan && ctest -L engine --output-on-failure -j2 --timeout 300)
