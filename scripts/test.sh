#!/usr/bin/env bash
# Sets everything up and runs the whole test suite headless: once in the normal build and once
# in a build with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh build
(cd build && ctest --output-on-failure -j2 --timeout 600)
scripts/setup.sh build-asan -DVORBEL_SANITIZE=ON -DVORBEL_BENCH=OFF
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j2 --timeout 900)
