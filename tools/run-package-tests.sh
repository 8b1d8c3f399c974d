#!/bin/sh
# Builds the Debian packages (libmbslave2, libmbslave-dev, mbslave-sim) with
# the test suite off, checks the manual and the packages (lintian), installs
# them with dpkg, builds examples/tcp_slave.c against the installed packages
# through pkg-config and through find_package(mbslave), runs both builds
# against a pymodbus master, and purges the packages again: the machine is
# left as it was. Refuses to run while any of the packages is installed.
# Usage: tools/run-package-tests.sh [build-dir] [extra cmake options...]
set -eu
cd "$(dirname "$0")/.."
source_dir=$(pwd)
build=${1:-build-deb}
[ $# -gt 0 ] && shift

packages="libmbslave2 libmbslave-dev mbslave-sim"
SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
passed=0 failed=0
started=$(date +%s)
pass() { echo "ok: $*"; passed=$((passed + 1)); }
phase() { echo "== $* ($(($(date +%s) - started)) s)"; }
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
installed() { dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null | grep -q '^ii'; }

for package in $packages; do
    installed "$package" && { echo "$package is installed already: remove it first"; exit 1; }
done

# The e2e master (pymodbus) comes from the test group.
tools/install-deps.sh build docs test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DMBSLAVE_BUILD_DOCS=ON -DMBSLAVE_WERROR=ON \
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_RPATH=ON -DMBSLAVE_DEBIAN_FILES=ON "$@"
cmake --build "$build" -j "$(nproc)"

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

phase "dpkg --purge"
# shellcheck disable=SC2086
$SUDO dpkg --purge $packages > "$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "dpkg --purge"; }
left=""
for package in $packages; do installed "$package" && left="$left $package"; done
[ -z "$left" ] && [ ! -e /usr/include/mbslave.h ] && ! ldconfig -p | grep -q libmbslave &&
    pass "dpkg --purge left nothing behind" || fail "left behind after purge:$left"

if [ "$lintian_errors" = yes ]; then
    fail "lintian reports errors (above)"
else
    pass "lintian reports no errors"
fi
phase "done"
echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
