#!/bin/sh
# Installs the Debian packages that building and testing mbslave need.
# Run as root (or through sudo); packages already present are left alone.
# Usage: tools/install-deps.sh [further packages...]
set -eu

packages="cmake ninja-build g++ clang libclang-rt-dev pkg-config
libgtest-dev libgmock-dev libbenchmark-dev
libmodbus-dev python3-pymodbus python3-serial mbpoll strace
libcli11-dev nlohmann-json3-dev $*"

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
$SUDO apt-get update -qq
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
