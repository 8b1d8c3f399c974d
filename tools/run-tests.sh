#!/bin/sh
# Installs what the tests need, builds mbslave and runs the whole test suite.
# Usage: tools/run-tests.sh [build-dir] [extra cmake options...]
set -eu
cd "$(dirname "$0")/.."

build=${1:-build}
[ $# -gt 0 ] && shift

tools/install-deps.sh build test
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMBSLAVE_WERROR=ON -DBUILD_TESTING=ON \
      -DMBSLAVE_BROWSER_TESTS=OFF "$@"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
