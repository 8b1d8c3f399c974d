#!/bin/sh
# Installs the Debian packages that building and testing mbslave need, by
# group. Run as root (or through sudo); packages already present are left
# alone. Every package a build or test uses is named here, so that a fresh
# machine gets exactly what CI gets.
# Usage: tools/install-deps.sh [--list] [group...]   (no group: build and test)
#   --list   prints the packages of the groups, one per line, installs nothing
#   build    the library (and libmbslave-tls), the simulator and the examples
#   test     the test suite with its peers (GoogleTest, libmodbus, pymodbus, mbpoll)
#   arm      the 32-bit ARM cross build, run under qemu
#   windows  the mingw-w64 cross build, run under wine
#   browser  the simulator's web page driven by a headless browser
#   docs     the manual and the Debian packages (pandoc renders the manual;
#            man-db checks it; dpkg-dev and file make the packages with
#            their library dependencies; lintian checks them)
#   all      every group above
set -eu

# libssl-dev: libmbslave-tls (OpenSSL 3), built by default on Linux.
group_build="cmake ninja-build g++ pkg-config libcli11-dev nlohmann-json3-dev libcpp-httplib-dev libssl-dev"
# python3-serial-asyncio is only a Recommends of python3-pymodbus, but
# pymodbus.client does not import without it.
# openssl: the command line that makes the TLS tests' throwaway PKI.
# llvm and lld: where they are present, CMake's clang configuration of the
# fuzzers takes their archiver and binary tools, so they are named here too.
group_test="clang libclang-rt-dev llvm lld libgtest-dev libgmock-dev libbenchmark-dev
libmodbus-dev python3-pymodbus python3-serial python3-serial-asyncio mbpoll strace openssl"
# libssl-dev:armhf: libmbslave-tls in the ARM build (Debian's multiarch
# package; dpkg then also takes armhf packages, and the build machine's
# libssl-dev moves to the same version).
group_arm="g++-arm-linux-gnueabihf qemu-user googletest libssl-dev:armhf"
# llvm: llvm-dlltool writes the MSVC import library mbslave.lib.
group_windows="g++-mingw-w64-x86-64-posix wine64 libwine googletest llvm"
group_browser="chromium chromium-driver python3-selenium"
group_docs="pandoc man-db dpkg-dev file lintian"

list=false
if [ "${1:-}" = --list ]; then
    list=true
    shift
fi
[ $# -gt 0 ] || set -- build test
packages=""
for group in "$@"; do
    case "$group" in
        build) packages="$packages $group_build" ;;
        test) packages="$packages $group_build $group_test" ;;
        arm) packages="$packages $group_build $group_arm" ;;
        windows) packages="$packages $group_build $group_windows" ;;
        browser) packages="$packages $group_build $group_browser" ;;
        docs) packages="$packages $group_build $group_docs" ;;
        all) packages="$packages $group_build $group_test $group_arm $group_windows $group_browser $group_docs" ;;
        *) echo "install-deps.sh: unknown group '$group'" >&2; exit 2 ;;
    esac
done

if $list; then
    # shellcheck disable=SC2086
    printf '%s\n' $packages | sort -u
    exit 0
fi

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing="$missing $package"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi
echo "installing:$missing"
case "$missing" in
    *:armhf*) dpkg --print-foreign-architectures | grep -qx armhf || $SUDO dpkg --add-architecture armhf ;;
esac
$SUDO apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
