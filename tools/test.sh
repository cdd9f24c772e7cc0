#!/usr/bin/env bash
# Builds Brisolta and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh binutils-mingw-w64-i686 icoutils desktop-file-utils
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2

# Fuzzes the contact store for 30 seconds when clang can build its target; only a finding fails the run.
if command -v clang++ >/dev/null; then
    if CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISOLTA_FUZZ=ON \
        >/dev/null && cmake --build build-fuzz --target store_fuzzer >/dev/null; then
        scratch=$(mktemp -d "$([ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/brisolta-fuzz.XXXXXX")
        mkdir -p build-fuzz/corpus
        status=0
        TMPDIR="$scratch" build-fuzz/tests/robustness/store_fuzzer -max_total_time=30 -print_final_stats=1 \
            -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/robustness/corpus || status=$?
        rm -rf "$scratch"
        [ "$status" -eq 0 ] || { echo "The fuzzer found a fault; its input is in build-fuzz/." >&2; exit "$status"; }
    else
        echo "Skipping the fuzz run: clang could not build the fuzz target."
    fi
fi
