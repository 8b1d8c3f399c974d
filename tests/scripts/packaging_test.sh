#!/bin/sh
# Installs the build into a temporary prefix, checks what landed there, and
# builds and runs a small consumer program against it twice: through
# find_package(mbslave) and through pkg-config; where libmbslave-tls is
# installed, a TLS consumer the same two ways (mbslave::mbslave_tls,
# pkg-config mbslave-tls).
# Usage: packaging_test.sh BUILD_DIR CONSUMER_SOURCE_DIR [extra C flags]
set -eu
build=$1
consumer=$2
cflags=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" > "$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install"; }

libdir=$(dirname "$(find "$prefix" -name 'libmbslave.so' | head -n 1)")
[ -n "$libdir" ] && [ -d "$libdir" ] || fail "libmbslave.so not installed"
[ -f "$prefix/include/mbslave.h" ] || fail "header not installed"
[ -x "$prefix/bin/mbslave-sim" ] || fail "mbslave-sim not installed"
[ -f "$libdir/pkgconfig/mbslave.pc" ] || fail "mbslave.pc not installed"
[ -f "$libdir/cmake/mbslave/mbslaveConfig.cmake" ] || fail "CMake package not installed"

# Real file with the full version, SONAME link with the major version.
[ -f "$libdir/libmbslave.so.2.11.0" ] || fail "versioned library file missing"
[ -L "$libdir/libmbslave.so.2" ] || fail "SONAME link missing"
soname=$(objdump -p "$libdir/libmbslave.so.2.11.0" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "libmbslave.so.2" ] || fail "SONAME is '$soname'"

expected="2.11.0.0
TCP Port alread bound"

# 1. CMake package.
cmake -S "$consumer" -B "$work/cmake-build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_C_FLAGS="$cflags" > "$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "configure consumer"; }
cmake --build "$work/cmake-build" > "$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build consumer"; }
out=$(LD_LIBRARY_PATH="$libdir" "$work/cmake-build/consumer")
[ "$out" = "$expected" ] || fail "find_package consumer printed: $out"
echo "find_package consumer: ok"

# 2. pkg-config.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
[ "$(pkg-config --modversion mbslave)" = "2.11.0" ] || fail "pkg-config version"
# shellcheck disable=SC2046,SC2086
cc $cflags -o "$work/pc-consumer" "$consumer/consumer.c" $(pkg-config --cflags --libs mbslave) ||
    fail "build consumer with pkg-config"
out=$(LD_LIBRARY_PATH="$libdir" "$work/pc-consumer")
[ "$out" = "$expected" ] || fail "pkg-config consumer printed: $out"
echo "pkg-config consumer: ok"

# 3. libmbslave-tls, when the build has it.
if [ -f "$build/libmbslave-tls.so" ]; then
    [ -f "$prefix/include/mbslave_tls.h" ] || fail "TLS header not installed"
    [ -f "$libdir/libmbslave-tls.so.2.11.0" ] && [ -L "$libdir/libmbslave-tls.so.2" ] ||
        fail "versioned TLS library or its SONAME link missing"
    [ -f "$libdir/cmake/mbslave/mbslaveTlsTargets.cmake" ] || fail "TLS CMake targets not installed"
    expected_tls="2.11.0.0
No trusted TLS CA file configured
No TLS server certificate and key configured"
    cmake -S "$consumer" -B "$work/cmake-tls" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
        -DMBSLAVE_CONSUMER_SOURCE="$consumer/consumer_tls.c" -DMBSLAVE_CONSUMER_TARGET=mbslave::mbslave_tls \
        -DCMAKE_C_FLAGS="$cflags" > "$work/cmake-tls.log" 2>&1 || { cat "$work/cmake-tls.log"; fail "configure TLS consumer"; }
    cmake --build "$work/cmake-tls" > "$work/build-tls.log" 2>&1 || { cat "$work/build-tls.log"; fail "build TLS consumer"; }
    out=$(LD_LIBRARY_PATH="$libdir" "$work/cmake-tls/consumer")
    [ "$out" = "$expected_tls" ] || fail "mbslave::mbslave_tls consumer printed: $out"
    echo "mbslave::mbslave_tls consumer: ok"
    [ "$(pkg-config --modversion mbslave-tls)" = "2.11.0" ] || fail "pkg-config mbslave-tls version"
    # shellcheck disable=SC2046,SC2086
    cc $cflags -o "$work/pc-tls-consumer" "$consumer/consumer_tls.c" $(pkg-config --cflags --libs mbslave-tls) ||
        fail "build TLS consumer with pkg-config"
    out=$(LD_LIBRARY_PATH="$libdir" "$work/pc-tls-consumer")
    [ "$out" = "$expected_tls" ] || fail "pkg-config mbslave-tls consumer printed: $out"
    echo "pkg-config mbslave-tls consumer: ok"
fi

# 4. The installed simulator finds the installed library by itself.
"$prefix/bin/mbslave-sim" --help > "$work/help.txt" || fail "installed mbslave-sim --help"
grep -q 'mbslave-sim' "$work/help.txt" || fail "mbslave-sim --help printed no usage"
echo "installed mbslave-sim: ok"
