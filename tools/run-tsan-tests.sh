#!/bin/sh
# Builds the library and the hardening tests with ThreadSanitizer and runs
# them: handles of every kind served from separate threads at once, with the
# error texts read concurrently, must not race.
# Usage: tools/run-tsan-tests.sh [build-dir]
set -eu
cd "$(dirname "$0")/.."
build=${1:-build-tsan}

tools/install-deps.sh build test
flags=-fsanitize=thread
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMBSLAVE_WERROR=ON \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
      -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
      -DMBSLAVE_BUILD_TOOLS=OFF
cmake --build "$build" -j "$(nproc)" --target test_hardening
# Any report fails the run.
TSAN_OPTIONS="halt_on_error=1 exitcode=66 ${TSAN_OPTIONS:-}" "$build/tests/test_hardening"
