#!/usr/bin/env bash
# Builds Brisolta and runs every test, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/setup.sh icoutils desktop-file-utils appstream lintian
export QT_QPA_PLATFORM=offscreen

# Fuzzes what reads untrusted input (the vCard and CSV decoders, the old-file reader's output, a server's answers) for 15 seconds
# each when clang is installed; a target that does not build, or a finding, fails the run.
if command -v clang++ >/dev/null; then
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBRISOLTA_FUZZ=ON >/dev/null
    cmake --build build-fuzz --target codecs_fuzzer oldfile_fuzzer server_fuzzer >/dev/null
    for target in codecs oldfile server; do
        mkdir -p "build-fuzz/corpus-$target"
        status=0
        "build-fuzz/tests/fuzz/${target}_fuzzer" -max_total_time=15 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
            "build-fuzz/corpus-$target" "tests/fuzz/corpus/$target" >"build-fuzz/$target.log" 2>&1 || status=$?
        if [ "$status" -ne 0 ]; then
            tail -40 "build-fuzz/$target.log" >&2
            echo "The $target fuzzer found a fault; its input is in build-fuzz/, its log in build-fuzz/$target.log." >&2
            exit "$status"
        fi
        echo "Fuzzed $target: $(grep -h '^Done' "build-fuzz/$target.log")"
    done
else
    echo "Skipping the fuzz run: clang is not installed."
fi

ctest --test-dir build --output-on-failure -j2
