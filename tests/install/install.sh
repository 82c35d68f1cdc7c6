#!/usr/bin/env bash
# The installation, `cmake --install` into a prefix then moved elsewhere: the validators pass on
# the manual pages, the desktop entry and the AppStream file; the engine's documented C++ and C
# example programs build against it through pkg-config and find_package and render a song; the
# game, started from another folder under Xvfb, finds its datafiles (so does the editor), keeps
# "vorbel.hsc" and the example levels in the XDG data folder and names the folder it looked in
# when a datafile is missing.
# Usage: install.sh BUILD_DIR SOURCE_DIR
source "$(dirname "$0")/../e2e/lib.sh"
BUILD=$(cd "$1" && pwd) SRC=$(cd "$2" && pwd)
e2e_display
cmake --install "$BUILD" --prefix "$E2E_DIR/first" >"$E2E_DIR/install.log" 2>&1 || fail "install: $(tail -5 "$E2E_DIR/install.log")"
mv "$E2E_DIR/first" "$E2E_DIR/p"  # a relocated prefix
P=$E2E_DIR/p DATA=$E2E_DIR/p/share/games/vorbel-endurnal

note "files, library versions, icons"
lib=$(dirname "$(find "$P" -name libmodux.a)")
for f in games/vorbel games/vorbel-mapc games/vorbel-edit bin/modux-play include/modux/modux.h include/modux/libmodux.h "$DATA"/sounds.dat "$DATA"/custom/butterfly.map "$DATA"/custom/butterfly.txt; do
  [ -e "$P/${f#$P/}" ] || fail "$f is not installed"
done
[ -e "$P/bin/vorbel-edit" ] && fail "vorbel-edit is installed twice"
man -l "$P/share/man/man6/vorbel.6" 2>/dev/null | grep -q -- "--replay FILE" || fail "vorbel(6) names no options"
[ -e "$P/include/modux/modux_internal.h" ] && fail "the internal header is installed"
so=$(readlink -f "$lib/libmodux.so")
[[ $so == */libmodux.so.2.0.0 ]] || fail "libmodux.so leads to $so"
objdump -p "$so" | grep -q 'SONAME *libmodux.so.2$' || fail "soname of $so: $(objdump -p "$so" | grep SONAME)"
for n in 16 32 48 64 128 256; do
  got=$(identify -format '%wx%h %k' "$P/share/icons/hicolor/${n}x$n/apps/net.vorbel.endurnal.png") || fail "no ${n}px icon"
  [ "${got% *}" = "${n}x$n" ] && [ "${got#* }" -ge 3 ] || fail "${n}px icon is $got (size, colours)"
done
got=$(identify -format '%wx%h %k' "$DATA/screenshot.png")
[ "${got% *}" = 640x480 ] && [ "${got#* }" -ge 16 ] || fail "the screenshot is $got (size, colours)"

note "validators"
desktop-file-validate "$P/share/applications/net.vorbel.endurnal.desktop" || fail "desktop entry"
appstreamcli validate --no-net --pedantic "$P/share/metainfo/net.vorbel.endurnal.metainfo.xml" >"$E2E_DIR/as.txt" ||
  fail "AppStream: $(cat "$E2E_DIR/as.txt")"
pages=$(find "$P/share/man" -type f | sort)
[ "$(echo "$pages" | wc -l)" -ge 3 ] || fail "manual pages: $pages"
for page in $pages; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done

note "the engine's example programs, C++ and C, through pkg-config and find_package"
mkdir -p "$E2E_DIR/example"
export PKG_CONFIG_PATH=$lib/pkgconfig LD_LIBRARY_PATH=$lib
flags=${VORBEL_EXAMPLE_FLAGS:-}
for lang in cpp c; do
  d=$E2E_DIR/example/$lang
  mkdir -p "$d"
  awk -v fence='```'$lang '$0 == fence {on = 1; next} /^```$/ && on {exit} on' "$SRC/docs/modux.md" > "$d/example.$lang"
  [ -s "$d/example.$lang" ] || fail "no $lang example program in docs/modux.md"
  if [ $lang = cpp ]; then cc="g++ -std=c++17" cmake_lang=CXX; else cc="gcc -std=c99" cmake_lang=C; fi
  $cc -Wall -Wextra -Werror $flags -o "$d/by-pkgconfig" "$d/example.$lang" $(pkg-config --cflags --libs modux) \
    2>"$d/cc.txt" || fail "pkg-config build of the $lang example: $(head -20 "$d/cc.txt")"
  printf 'cmake_minimum_required(VERSION 3.20)\nproject(example %s)\nfind_package(modux 2 REQUIRED)\n%s\n%s\n' $cmake_lang \
    "add_executable(by-cmake example.$lang)" 'target_link_libraries(by-cmake modux::modux)' > "$d/CMakeLists.txt"
  (cmake -S "$d" -B "$d/b" -DCMAKE_PREFIX_PATH="$P" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" && cmake --build "$d/b") \
    >"$d/cm.txt" 2>&1 || fail "find_package build of the $lang example: $(tail -20 "$d/cm.txt")"
  for program in "$d/by-pkgconfig" "$d/b/by-cmake"; do
    ldd "$program" | grep -q "libmodux.so.2 => $lib" || fail "$program does not use the installed library"
    out=$("$program" "$BUILD/run/music/title.mux") || fail "$program: $out"
    read -r frames peak <<<"$(echo "$out" | sed -n 's/.*: \([0-9]*\) frames, peak \([0-9]*\).*/\1 \2/p')"
    [ "${frames:-0}" -ge 44100 ] && [ "${peak:-0}" -ge 1000 ] || fail "$program rendered: $out"
  done
done

note "the installed game, started from another folder"
export XDG_DATA_HOME=$E2E_DIR/xdg
E2E_CWD=$E2E_DIR/elsewhere
mkdir -p "$E2E_CWD"
E2E_PROGRAM=$P/games/vorbel game_start; game_window
press Escape
game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "status $GAME_STATUS: $(cat "$E2E_DIR/out.txt")"
[ "$(stat -c %s "$XDG_DATA_HOME/vorbel-endurnal/vorbel.hsc" 2>/dev/null)" = 420 ] || fail "no vorbel.hsc in the XDG folder"
for f in map txt; do [ -e "$XDG_DATA_HOME/vorbel-endurnal/custom/butterfly.$f" ] || fail "the example levels were not copied"; done
[ -z "$(ls "$E2E_DIR/elsewhere")" ] || fail "files written in the starting folder: $(ls "$E2E_DIR/elsewhere")"

E2E_PROGRAM=$P/games/vorbel-edit game_start; wait_window "level editor" "installed editor"; press Escape; game_wait_exit
[ "$GAME_STATUS" = 0 ] || fail "the installed editor, started elsewhere: status $GAME_STATUS: $(cat "$E2E_DIR/out.txt")"

rm "$DATA/set12.dat"
E2E_PROGRAM=$P/games/vorbel game_start
game_wait_exit
[ "$GAME_STATUS" = 1 ] && grep -qx "Error: Cannot find file $DATA/set12.dat" "$E2E_DIR/out.txt" ||
  fail "status $GAME_STATUS, message: $(cat "$E2E_DIR/out.txt")"
note "ok"
