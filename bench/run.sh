#!/usr/bin/env bash
# Measures Brisolta on generated files of 1,000, 10,000 and 100,000 contacts, one markdown table per size.
# Usage: bench/run.sh [--quick] [brisolta_generate brisolta_bench] (bench/README.md).
set -euo pipefail

quick=0
if [ "${1:-}" = --quick ]; then
    quick=1
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
build=${BRISOLTA_BENCH_BUILD:-$here/../build-bench}
generate=${1:-$build/bench/brisolta_generate}
bench=${2:-$build/bench/brisolta_bench}
for executable in "$generate" "$bench"; do
    [ -x "$executable" ] || { echo "run.sh: $executable is missing; build the bench target first" >&2; exit 2; }
done
export QT_QPA_PLATFORM=offscreen

if [ $quick -eq 1 ]; then
    sizes=(1000)
    reps=1
else
    sizes=(1000 10000 100000)
    reps=${BRISOLTA_BENCH_REPS:-7}
fi

loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
work=$(mktemp -d "${TMPDIR:-/tmp}/brisolta-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One whole process: the timestamp is taken by this shell just before it forks and executes the bench.
startup() {
    BRISOLTA_BENCH_T0=$EPOCHREALTIME "$bench" startup "$1"
}

# Median, minimum and maximum of the values of one figure in a "figure<TAB>value" file.
stats() {
    awk -F'\t' -v figure="$2" '$1 == figure { v[n++] = $2 + 0 }
        END {
            if (n == 0) exit 1
            for (i = 1; i < n; i++) { x = v[i]; for (j = i - 1; j >= 0 && v[j] > x; j--) v[j + 1] = v[j]; v[j + 1] = x }
            median = n % 2 ? v[int(n / 2)] : (v[n / 2 - 1] + v[n / 2]) / 2
            printf "%.2f %.2f %.2f\n", median, v[0], v[n - 1]
        }' "$1"
}

target() {
    local n=$1 figure=$2
    case "$figure|$n" in
        "start-up (ms)|1000") echo "≤ 30" ;;
        "start-up (ms)|10000") echo "≤ 45" ;;
        "start-up (ms)|100000") echo "≤ 150" ;;
        "start-up ÷ floor|100000") echo "≤ 1.2" ;;
        "sort by Cognome (ms)|100000") echo "≤ 60" ;;
        "find worst case (ms)|10000") echo "≤ 1" ;;
        "find worst case (ms)|100000") echo "≤ 30" ;;
        "add (ms)|"* | "remove (ms)|"*) echo "≤ 16" ;;
        "RSS above empty (MiB)|100000") echo "≤ 50" ;;
    esac
}

table() {
    local n=$1 results=$2 figure limit median min max met
    printf '\n### %s contacts (%s runs)\n\n' "$n" "$reps"
    echo "| figure | median | min | max | target | met |"
    echo "|---|---:|---:|---:|---:|:-:|"
    while IFS= read -r figure; do
        read -r median min max < <(stats "$results" "$figure") || continue
        limit=$(target "$n" "$figure")
        met=""
        if [ -n "$limit" ]; then
            met=$(awk -v m="$median" -v l="${limit#≤ }" 'BEGIN { print (m <= l) ? "yes" : "no" }')
        fi
        echo "| $figure | $median | $min | $max | $limit | $met |"
    done < <(printf '%s\n' "start-up (ms)" "floor (ms)" "start-up ÷ floor" \
                 "sort by Nome (ms)" "sort by Cognome (ms)" "sort by Telefono (ms)" "sort by Cellulare (ms)" \
                 "sort by Fax (ms)" "sort by Email (ms)" "find worst case (ms)" "add (ms)" "remove (ms)" \
                 "peak RSS (MiB)" "RSS above empty (MiB)"
             awk -F'\t' '/^·/ && !seen[$1]++ { print $1 }' "$results")
}

# The program's own cost with nothing to show, to tell the contacts' memory from the program's.
mkdir "$work/empty"
"$generate" 0 "$work/empty"
[ $quick -eq 1 ] || startup "$work/empty" >/dev/null
for ((r = 0; r < reps; r++)); do
    startup "$work/empty"
done >"$work/empty.tsv"
read -r emptyRss _ < <(stats "$work/empty.tsv" "peak RSS (MiB)")
read -r emptyStartup _ < <(stats "$work/empty.tsv" "start-up (ms)")

for n in "${sizes[@]}"; do
    mkdir "$work/$n" "$work/ops-$n"
    "$generate" "$n" "$work/$n"
    cp "$work/$n/archivio.mdb" "$work/ops-$n/"
    results="$work/$n.tsv"
    # The first run only brings the libraries and the file into memory.
    [ $quick -eq 1 ] || startup "$work/$n" >/dev/null
    for ((r = 0; r < reps; r++)); do
        startup "$work/$n"
    done >"$results"
    awk -F'\t' -v empty="$emptyRss" '$1 == "peak RSS (MiB)" { printf "RSS above empty (MiB)\t%.3f\n", $2 - empty }' \
        "$results" >>"$results"
    "$bench" ops "$work/ops-$n" "$reps" >>"$results"
    table "$n" "$results"
done
printf '\nEmpty file: start-up %s ms, peak RSS %s MiB (medians).\n' "$emptyStartup" "$emptyRss"
# Other work on the machine shows in every figure: the load averages say how quiet it was.
printf 'Machine: %s × %s, %s MiB; load average %s before, %s after.\n' \
    "$(nproc)" "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)" \
    "$(awk '/^MemTotal/ { print int($2 / 1024) }' /proc/meminfo)" "$loadBefore" "$(cut -d' ' -f1-3 /proc/loadavg)"
