#!/usr/bin/env bash
# sdk_test.sh BUILD_DIR SOURCE_DIR CXX "SANITIZER_FLAGS"
set -euo pipefail
build=$1 source=$2 cxx=$3 flags=${4:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
export PELISTRA_ROOT=$work/root
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "install"; }

for f in bin/pelistra bin/regsvr32 bin/install bin/pelistra.ax lib/libpelistra-platform.so \
         include/pelistra/filter/asf_muxer.h include/pelistra/platform/dshow/graph.h \
         lib/cmake/pelistra/pelistraConfig.cmake lib/pkgconfig/pelistra.pc; do
  [ -f "$prefix/$f" ] || fail "$f is not installed"
done

# Every installed header compiles with only the installed tree on the include path: nothing
# installed reaches for a header that stayed behind.
(cd "$prefix/include/pelistra" && find . -name '*.h' | sort | sed 's|^\./\(.*\)|#include "\1"|') >"$work/all_headers.cpp"
"$cxx" -std=c++20 -fsyntax-only -I"$prefix/include/pelistra" "$work/all_headers.cpp" || fail "installed headers"

# pkg-config gives the include folder and the library; the example builds with those alone.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
pc=$(pkg-config --cflags --libs pelistra) || fail "pkg-config"
echo "pkg-config: $pc"
[ "$(realpath "$(pkg-config --variable=includedir pelistra)")" = "$(realpath "$prefix/include/pelistra")" ] ||
  fail "pkg-config include folder"
libdir=$(realpath "$(pkg-config --variable=libdir pelistra)")
# shellcheck disable=SC2086  # the flags are words
"$cxx" -std=c++20 $flags "$source/examples/record_example.cpp" -o "$work/example_pc" $pc -Wl,-rpath,"$libdir" ||
  fail "building the example with pkg-config"

# The CMake package: the example's own project, pointed at the prefix only.
cmake -S "$source/examples" -B "$work/example" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >"$work/configure.log" ||
  { cat "$work/configure.log"; fail "configuring the example"; }
cmake --build "$work/example" >"$work/build.log" || { cat "$work/build.log"; fail "building the example"; }

# Frames and key frames of the video stream (number 8), from the installed pelistra's probe.
check_file() {
  "$prefix/bin/pelistra" probe "$1" >"$work/probe.txt" && grep -q '^Problems: none$' "$work/probe.txt" ||
    { cat "$work/probe.txt"; fail "probe $1"; }
  "$prefix/bin/pelistra" probe --frames "$1" >"$work/frames.txt" || fail "probe --frames $1"
  local frames
  frames=$(grep -c '^frame stream 8 .* key$' "$work/frames.txt" || true)
  [ "$frames" = 75 ] || { cat "$work/probe.txt"; fail "$1 holds $frames video key frames, not 75"; }
}

# Straight from the module file, nothing registered.
"$work/example_pc" "$work/direct.asf" "$prefix/bin/pelistra.ax" || fail "recording through the loaded module"
check_file "$work/direct.asf"

# Registered with the installed regsvr32, then by class through CoCreateInstance.
"$prefix/bin/regsvr32" /s "$prefix/bin/pelistra.ax" || fail "regsvr32"
[ -x "$PELISTRA_ROOT/system/regsvr32" ] || fail "the system folder has no regsvr32 (the installer's uninstall needs it)"
"$work/example/record_example" "$work/by_class.asf" || fail "recording through CoCreateInstance"
check_file "$work/by_class.asf"
