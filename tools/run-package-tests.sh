#!/bin/sh
# Builds the Debian packages (libmbslave2, libmbslave-dev, mbslave-sim, and
# libmbslave-tls2, libmbslave-tls-dev where the TLS library is built) with
# the test suite off, checks the manual and the packages (lintian), installs
# them with dpkg, builds examples/tcp_slave.c against the installed packages
# through pkg-config and through find_package(mbslave), and
# examples/tls_slave.c through pkg-config mbslave-tls and mbslave::mbslave_tls,
# runs every build against a pymodbus master (TLS: with a throwaway PKI), and
# purges the packages again: the machine is left as it was. Refuses to run
# while any of the packages is installed.
# Usage: tools/run-package-tests.sh [build-dir] [extra cmake options...]
set -eu
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build=${1:-build-deb}
[ $# -gt 0 ] && shift

packages="libmbslave2 libmbslave-dev mbslave-sim"
tls_packages="libmbslave-tls2 libmbslave-tls-dev"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
passed=0 failed=0
started=$(date +%s)
pass() { echo "ok: $*"; passed=$((passed + 1)); }
phase() { echo "== $* ($(($(date +%s) - started)) s)"; }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }

for package in $packages $tls_packages; do
    installed "$package" && { echo "$package is installed already: remove it first"; exit 1; }
done

# The e2e master (pymodbus) comes from the test group.
tools/install-deps.sh build docs test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DMBSLAVE_BUILD_DOCS=ON -DMBSLAVE_WERROR=ON \
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON -DMBSLAVE_DEBIAN_FILES=ON "$@"
cmake --build "$build" -j "$(nproc)"
tls=no
if [ -f "$build/libmbslave-tls.so" ]; then
    tls=yes
    packages="$packages $tls_packages"
fi

phase "checks"
# The build without tests needs nothing beyond the build and docs groups;
# the README's first command (configured as it does) nothing beyond build.
if tools/check-deps-provenance.py --group build --group docs --build-only "$build"; then
    pass "the build without tests uses only packages of install-deps.sh build docs"
else
    fail "the build without tests uses packages outside install-deps.sh build docs"
fi
cmake -S . -B "$build/readme" -G Ninja -DBUILD_TESTING=OFF > "$build/readme.log" 2>&1 ||
    { cat "$build/readme.log"; fail "configure as the README's first command does"; }
if tools/check-deps-provenance.py --group build --build-only "$build/readme"; then
    pass "the README's first command uses only packages of install-deps.sh build"
else
    fail "the README's first command uses packages outside install-deps.sh build"
fi
# The TLS library's pages are rendered with the others (they ship in its own
# components, not in these packages).
libraries="$build/libmbslave.so"
[ -f "$build/libmbslave-tls.so" ] && libraries="$libraries $build/libmbslave-tls.so"
# shellcheck disable=SC2086
manual=$(tests/scripts/check_manual.sh $libraries "$build/docs/man") || true
echo "$manual"
manual_passed=$(echo "$manual" | sed -n 's/^manual: \([0-9]*\) passed, \([0-9]*\) failed$/\1 \2/p')
passed=$((passed + ${manual_passed% *}))
failed=$((failed + ${manual_passed#* }))

phase "cpack"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB) > "$build/cpack.log" 2>&1 || { cat "$build/cpack.log"; exit 1; }
version=$(sed -n 's/^project(mbslave VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
debs=""
for package in $packages; do
    deb=$(ls "$build/${package}_${version}-"*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { fail "no package $package"; continue; }
    debs="$debs $deb"
    echo "== $(basename "$deb"): $(du -k "$deb" | cut -f1) KiB"
    dpkg-deb -f "$deb" Package Version Architecture Depends Section Installed-Size
    dpkg-deb -c "$deb" | awk '{print "   ", $1, $3, $6, $7, $8}'
done

phase "lintian"
# shellcheck disable=SC2086
# The tree states no licence yet, so there is no copyright file to ship.
lintian --tag-display-limit 0 --suppress-tags no-copyright-file $debs > "$build/lintian.log" 2>&1 || true
cat "$build/lintian.log"
grep -q '^E: ' "$build/lintian.log" && lintian_errors=yes || lintian_errors=no

work=$(mktemp -d)
cleanup() {
    # shellcheck disable=SC2086
    $SUDO dpkg --purge $packages > "$work/purge.log" 2>&1 || cat "$work/purge.log"
    rm -rf "$work"
}
trap cleanup EXIT
phase "dpkg -i"
# shellcheck disable=SC2086
$SUDO dpkg -i $debs > "$work/install.log" 2>&1 || { cat "$work/install.log"; fail "dpkg -i"; exit 1; }
pass "dpkg -i$debs"

# The installed files, found where Debian users look for them.
[ "$(pkg-config --modversion mbslave)" = "$version" ] && pass "pkg-config finds mbslave $version" ||
    fail "pkg-config --modversion mbslave: $(pkg-config --modversion mbslave 2>&1)"
if grep -qs '^path-exclude=*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
    # A minimal image (Debian's container images) tells dpkg to skip manual pages.
    dpkg-deb -c "$build"/libmbslave-dev_*.deb | grep -q 'man3/mbusSlave_serverLoop.3.gz' &&
        pass "libmbslave-dev holds the pages (dpkg here skips /usr/share/man)" || fail "pages missing from libmbslave-dev"
else
    man -w mbusSlave_serverLoop > /dev/null 2>&1 && man -w 7 mbslave > /dev/null 2>&1 &&
        man -w mbslave-sim > /dev/null 2>&1 && pass "man finds the installed pages" || fail "man does not find the pages"
fi
/usr/bin/mbslave-sim --help > "$work/help.txt" 2>&1 && grep -q '^Usage: mbslave-sim' "$work/help.txt" &&
    pass "installed mbslave-sim runs" || fail "installed mbslave-sim: $(cat "$work/help.txt")"

phase "consumers"
# examples/tcp_slave.c against the installed packages, run against pymodbus.
# shellcheck disable=SC2046
if cc -std=c99 -Wall -Wextra -Werror -o "$work/tcp_slave_pc" examples/tcp_slave.c \
        $(pkg-config --cflags --libs mbslave); then
    pass "tcp_slave.c built through pkg-config"
    /usr/bin/python3 tests/examples/example_e2e.py tcp "$work/tcp_slave_pc" &&
        pass "pkg-config build served pymodbus" || fail "pkg-config build against pymodbus"
else
    fail "tcp_slave.c through pkg-config"
fi
if cmake -S tests/packaging -B "$work/cmake" -G Ninja -DMBSLAVE_CONSUMER_SOURCE="$source_dir/examples/tcp_slave.c" \
        > "$work/cmake.log" 2>&1 && cmake --build "$work/cmake" >> "$work/cmake.log" 2>&1; then
    grep -q '/usr/lib/.*/cmake/mbslave' "$work/cmake/CMakeCache.txt" &&
        pass "tcp_slave.c built through find_package(mbslave) of the installed package" ||
        fail "find_package(mbslave) did not use the installed package"
    /usr/bin/python3 tests/examples/example_e2e.py tcp "$work/cmake/consumer" &&
        pass "find_package build served pymodbus" || fail "find_package build against pymodbus"
else
    cat "$work/cmake.log"
    fail "tcp_slave.c through find_package(mbslave)"
fi
if [ "$tls" = yes ]; then
    # examples/tls_slave.c against libmbslave-tls2 and libmbslave-tls-dev,
    # served to pymodbus's TLS client.
    tls_e2e() {
        tests/interop/run_tls_interop.sh "$1" "$work/pki" /usr/bin/python3 \
            tests/interop/pymodbus_tls_client.py > "$work/tls-e2e.log" 2>&1 ||
            { cat "$work/tls-e2e.log"; return 1; }
    }
    tools/make-test-pki.sh "$work/pki" > "$work/pki.log" 2>&1 || { cat "$work/pki.log"; fail "test PKI"; }
    [ "$(pkg-config --modversion mbslave-tls)" = "$version" ] && pass "pkg-config finds mbslave-tls $version" ||
        fail "pkg-config --modversion mbslave-tls: $(pkg-config --modversion mbslave-tls 2>&1)"
    # shellcheck disable=SC2046
    if cc -std=c99 -Wall -Wextra -Werror -o "$work/tls_slave_pc" examples/tls_slave.c \
            $(pkg-config --cflags --libs mbslave-tls); then
        pass "tls_slave.c built through pkg-config mbslave-tls"
        tls_e2e "$work/tls_slave_pc" && pass "pkg-config TLS build served pymodbus's TLS client" ||
            fail "pkg-config TLS build against pymodbus's TLS client"
    else
        fail "tls_slave.c through pkg-config mbslave-tls"
    fi
    if cmake -S tests/packaging -B "$work/cmake-tls" -G Ninja \
            -DMBSLAVE_CONSUMER_SOURCE="$source_dir/examples/tls_slave.c" \
            -DMBSLAVE_CONSUMER_TARGET=mbslave::mbslave_tls > "$work/cmake-tls.log" 2>&1 &&
            cmake --build "$work/cmake-tls" >> "$work/cmake-tls.log" 2>&1; then
        readelf -d "$work/cmake-tls/consumer" | grep -q 'NEEDED.*libmbslave-tls\.so\.2' &&
            pass "tls_slave.c built through mbslave::mbslave_tls of the installed package" ||
            fail "the mbslave::mbslave_tls build does not link libmbslave-tls.so.2"
        tls_e2e "$work/cmake-tls/consumer" && pass "mbslave::mbslave_tls build served pymodbus's TLS client" ||
            fail "mbslave::mbslave_tls build against pymodbus's TLS client"
    else
        cat "$work/cmake-tls.log"
        fail "tls_slave.c through mbslave::mbslave_tls"
    fi
fi

phase "dpkg --purge"
# shellcheck disable=SC2086
$SUDO dpkg --purge $packages > "$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
left=""
for package in $packages; do installed "$package" && left="$left $package"; done
[ -z "$left" ] && [ ! -e /usr/include/mbslave.h ] && [ ! -e /usr/include/mbslave_tls.h ] &&
    ! ldconfig -p | grep -q libmbslave &&
    pass "dpkg --purge left nothing behind" || fail "left behind after purge:$left"

if [ "$lintian_errors" = yes ]; then
    fail "lintian reports errors (above)"
else
    pass "lintian reports no errors"
fi
phase "done"
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
