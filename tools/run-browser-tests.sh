#!/bin/sh
# Builds mbslave-sim and drives its web page in headless chromium while
# pymodbus is the master (the ctest label "browser").
# Usage: tools/run-browser-tests.sh [build-dir] [extra cmake options...]
set -eu
cd "$(dirname "$0")/.."

build=${1:-build}
[ $# -gt 0 ] && shift

tools/install-deps.sh build test browser
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMBSLAVE_WERROR=ON \
      -DMBSLAVE_BROWSER_TESTS=ON "$@"
cmake --build "$build" -j "$(nproc)" --target mbslave-sim
ctest --test-dir "$build" --output-on-failure -L browser
