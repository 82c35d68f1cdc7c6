#!/usr/bin/env bash
# Checks every C and C++ source in the repository against .clang-format; lists the files that
# differ and fails if there is one. `clang-format -i FILE` puts a file in order.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
