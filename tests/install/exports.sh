#!/usr/bin/env bash
# The shared library exports exactly what the public headers mark MODUX_API: no C++ (mangled)
# name, no internal state, no routine of the tick; and every name so marked is there.
# Usage: exports.sh LIBMODUX_SO HEADER...
so=$1
shift
# The linker's own markers, and the one-definition indicators AddressSanitizer adds for each
# exported global, are not the library's.
exported=$(nm -D --defined-only "$so" | awk '$3 !~ /^(__bss_start|_edata|_end|__odr_asan\..*)$/ {print $3}' | sort)
declared=$(grep -h 'MODUX_API' "$@" | grep -v '#' | sed -E 's://.*::; s/[(;[].*//; s/.*[ *&]//' | sort)
[ -n "$exported" ] && [ -n "$declared" ] || { echo "nothing exported or declared" >&2; exit 1; }
diff <(echo "$declared") <(echo "$exported") >&2 ||
  { echo "exports differ from the MODUX_API names (<: declared only, >: exported only)" >&2; exit 1; }
