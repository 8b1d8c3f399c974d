#!/bin/sh
# Cross-compiles the library and its unit tests for 32-bit ARMv7 hard-float
# and runs them under qemu-arm: catches width and layout assumptions that
# only hold on 64-bit hosts. libmbslave-tls is built too, against Debian's
# armhf OpenSSL (libssl-dev:armhf), and its tests run under qemu-arm.
# Usage: tools/run-arm-tests.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-arm}

tools/install-deps.sh arm
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMBSLAVE_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake \
      -DMBSLAVE_BUILD_TOOLS=OFF -DMBSLAVE_BUILD_TLS=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
