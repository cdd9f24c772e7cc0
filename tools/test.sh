#!/usr/bin/env bash
# Builds Brisolta and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh binutils-mingw-w64-i686 icoutils desktop-file-utils appstream lintian
export QT_QPA_PLATFORM=offscreen

# Fuzzes the contact store for 30 seconds when clang can build its target; only a finding fails the run.
if command -v clang++ >/dev/null; then
    if CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISOLTA_FUZZ=ON \
        >/dev/null && cmake --build build-fuzz --target store_fuzzer >/dev/null; then
        scratch=$(mktemp -d "$([ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/brisolta-fuzz.XXXXXX")
        mkdir -p build-fuzz/corpus
        status=0
        TMPDIR="$scratch" build-fuzz/tests/robustness/store_fuzzer -max_total_time=30 -print_final_stats=1 \
            -artifact_prefix=build-fuzz/ build-fuzz/corpus tests/robustness/corpus >build-fuzz/fuzz.log 2>&1 || status=$?
        rm -rf "$scratch"
        if [ "$status" -ne 0 ]; then
            tail -40 build-fuzz/fuzz.log >&2
            echo "The fuzzer found a fault; its input is in build-fuzz/, its log in build-fuzz/fuzz.log." >&2
            exit "$status"
        fi
        echo "Fuzzed the contact store: $(grep -h '^Done' build-fuzz/fuzz.log)"
    else
        echo "Skipping the fuzz run: clang could not build the fuzz target."
    fi
fi

ctest --test-dir build --output-on-failure -j2
