#!/bin/sh
# Configures and builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on), then runs each target for a bounded time,
# FUZZ_SECONDS per target (default 50), starting from its seed corpus.
# Any finding fails the run; the crashing input is left in <builddir>/artifacts/.
# Usage: fuzz/run-fuzzers.sh [builddir]
set -eu
cd "$(dirname "$0")/.."

build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-50}

cmake -S . -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMBSLAVE_BUILD_FUZZERS=ON -DMBSLAVE_SANITIZE=ON \
    -DBUILD_TESTING=OFF -DMBSLAVE_BUILD_TOOLS=OFF -DMBSLAVE_WERROR=ON
cmake --build "$build" -j "$(nproc)" --target mbslave_fuzzers

mkdir -p "$build/artifacts"
for target in "$build"/fuzz/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    seeds=fuzz/corpus/${name#fuzz_}
    # New inputs go to a work corpus in the build folder; the seeds stay untouched.
    work=$build/corpus/$name
    mkdir -p "$work"
    [ -d "$seeds" ] || seeds=
    echo "== $name for ${seconds}s"
    # shellcheck disable=SC2086
    "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "$work" $seeds
done
