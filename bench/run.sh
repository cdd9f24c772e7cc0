#!/usr/bin/env bash
# Measures Brisolta against its floors on generated files of 0, 1,000, 10,000 and 100,000 contacts and prints one
# markdown table per size: ratios and targets first, absolute times after them (bench/README.md).
# Usage: bench/run.sh [--quick] [directory holding brisolta_bench, brisolta_generate and the two floors]
set -euo pipefail

quick=0
if [ "${1:-}" = --quick ]; then
    quick=1
    shift
fi
here=$(cd "$(dirname "$0")" && pwd)
programs=${1:-$here/../build-bench/bench}
generate=$programs/brisolta_generate
bench=$programs/brisolta_bench
toolkitFloor=$programs/brisolta_toolkitfloor
readFloor=$programs/brisolta_readfloor
program=$programs/../app/Brisolta
for executable in "$generate" "$bench" "$toolkitFloor" "$readFloor" "$program"; do
    [ -x "$executable" ] || { echo "run.sh: $executable is missing; build the bench target first" >&2; exit 2; }
done
export QT_QPA_PLATFORM=offscreen
# Qt's uncategorised warnings here are the offscreen platform's (no raise(), no runtime directory): noise.
export QT_LOGGING_RULES=default.warning=false

if [ $quick -eq 1 ]; then
    sizes=(0 1000)
    reps=1
else
    sizes=(0 1000 10000 100000)
    reps=${BRISOLTA_BENCH_REPS:-15}
fi

loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
work=$(mktemp -d "${TMPDIR:-/tmp}/brisolta-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# One whole process: the timestamp is taken by this shell just before it forks and executes the program.
timed() {
    BRISOLTA_BENCH_T0=$EPOCHREALTIME "$@"
}

# The program's start-up and each floor's, one right after the other so that the machine's drift hits all three
# alike, the program first in one run and last in the next; the ratios are taken within the run.
pairedRun() {
    local results
    if (($2 % 2 == 0)); then
        results=$(timed "$bench" startup "$1" && timed "$toolkitFloor" && timed "$readFloor" "$1/archivio.mdb")
    else
        results=$(timed "$readFloor" "$1/archivio.mdb" && timed "$toolkitFloor" && timed "$bench" startup "$1")
    fi
    printf '%s\n' "$results"
    awk -F'\t' '{ v[$1] = $2 }
        END {
            if (v["contacts"] != v["read floor rows"]) {
                printf "run.sh: the list shows %d rows, the file holds %d\n", v["contacts"], v["read floor rows"] > "/dev/stderr"
                exit 1
            }
            printf "start-up ÷ toolkit floor\t%.4f\nstart-up ÷ read floor\t%.4f\n",
                v["start-up (ms)"] / v["toolkit floor (ms)"], v["start-up (ms)"] / v["read floor (ms)"]
        }' <<<"$results"
}

# Import, export and the conversion of an old file, each a whole run of the program as a user starts it: every
# run exports the 100,000 contacts of $1 as vCard and CSV, imports each file into a new contact file, and converts
# an old (Jet 4) file of 100,000 contacts made by make_legacy.py.
exchange() {
    local files=$work/exchange started
    mkdir -p "$files"
    "$here/make_legacy.py" 20 "$files/old.mdb" "$here/../tests/data/legacy/legacy-many.mdb" >/dev/null
    timedCommand() { # figure, command...
        local figure=$1
        shift
        started=$EPOCHREALTIME
        "$@" >/dev/null
        awk -v a="$started" -v b="$EPOCHREALTIME" -v f="$figure" 'BEGIN { gsub(",", ".", a); gsub(",", ".", b)
            printf "%s\t%.2f\n", f, (b - a) * 1000 }'
    }
    for ((r = 0; r < reps; r++)); do
        for format in vcf csv; do
            name=$([ $format = vcf ] && echo vCard || echo CSV)
            timedCommand "export $name (ms)" "$program" --export "$files/out.$format" --file "$1/archivio.mdb"
            rm -f "$files/new.mdb"
            timedCommand "import $name (ms)" "$program" --import "$files/out.$format" --file "$files/new.mdb"
        done
        cp "$files/old.mdb" "$files/archivio.mdb"
        rm -f "$files"/archivio.mdb.jet*
        "$bench" convert "$files/archivio.mdb" "$program" |
            awk -F'\t' '$1 == "convert (ms)" { printf "old-file conversion (ms)\t%s\n", $2 }'
    done
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
    case "$2|$1" in
        "start-up ÷ toolkit floor|0") echo "≤ 1.15" ;;
        "start-up ÷ toolkit floor|1000") echo "≤ 1.2" ;;
        "start-up ÷ toolkit floor|10000") echo "≤ 1.5" ;;
        "start-up ÷ read floor|100000") echo "≤ 0.9" ;;
        "RSS above empty (MiB)|100000") echo "≤ 25" ;;
        "sort by Nome (ms)|100000" | "sort by Cognome (ms)|100000") echo "≤ 15" ;;
        "sort by Telefono (ms)|100000" | "sort by Cellulare (ms)|100000") echo "≤ 25" ;;
        "sort by "*"|100000") echo "≤ 40" ;;
        "find worst case (ms)|10000") echo "≤ 1" ;;
        "find worst case (ms)|100000") echo "≤ 30" ;;
        *" − bare "*"|0") ;;
        *" − bare "*) echo "≤ 0.5" ;;
        "import "*"|100000" | "export "*"|100000" | "undo import (ms)|100000") echo "≤ 1000" ;;
        "old-file conversion (ms)|100000") echo "≤ 2000" ;;
    esac
}

table() {
    local n=$1 results=$2 figure limit median min max met
    printf '\n#### %s contacts (%s paired runs)\n\n' "$n" "$reps"
    echo "| figure | median | min | max | target | met |"
    echo "|---|---:|---:|---:|---:|:-:|"
    while IFS= read -r figure; do
        limit=$(target "$n" "$figure")
        if ! read -r median min max < <(stats "$results" "$figure"); then
            [ -z "$limit" ] || echo "| $figure | – | – | – | $limit | not yet measured |"
            continue
        fi
        met=""
        if [ -n "$limit" ]; then
            met=$(awk -v m="$median" -v l="${limit#≤ }" 'BEGIN { print (m <= l) ? "yes" : "no" }')
        fi
        echo "| $figure | $median | $min | $max | $limit | $met |"
    done < <(printf '%s\n' "start-up ÷ toolkit floor" "start-up ÷ read floor" "RSS above empty (MiB)" \
                 "sort by Nome (ms)" "sort by Cognome (ms)" "sort by Telefono (ms)" "sort by Cellulare (ms)" \
                 "sort by Fax (ms)" "sort by Email (ms)" "find worst case (ms)" \
                 "add − bare insert (ms)" "remove − bare delete (ms)" "edit − bare update (ms)" \
                 "undo add − bare delete (ms)" "undo remove − bare insert (ms)" "undo edit − bare update (ms)" \
                 "redo add − bare insert (ms)" "redo remove − bare delete (ms)" "redo edit − bare update (ms)" \
                 "undo import (ms)" "redo import (ms)" \
                 "import vCard (ms)" "import CSV (ms)" "export vCard (ms)" "export CSV (ms)" \
                 "old-file conversion (ms)" \
                 "start-up (ms)" "toolkit floor (ms)" "read floor (ms)" \
                 "add (ms)" "bare insert (ms)" "remove (ms)" "bare delete (ms)" "edit (ms)" "bare update (ms)" \
                 "undo add (ms)" "undo remove (ms)" "undo edit (ms)" "redo add (ms)" "redo remove (ms)" "redo edit (ms)" \
                 "peak RSS (MiB)"
             awk -F'\t' '/^·/ && !seen[$1]++ { print $1 }' "$results")
}

emptyRss=0
for n in "${sizes[@]}"; do
    mkdir "$work/$n" "$work/ops-$n"
    "$generate" "$n" "$work/$n"
    cp "$work/$n/archivio.mdb" "$work/ops-$n/"
    results="$work/$n.tsv"
    # The first run only brings the libraries and the file into memory.
    [ $quick -eq 1 ] || pairedRun "$work/$n" 0 >/dev/null
    for ((r = 0; r < reps; r++)); do
        pairedRun "$work/$n" "$r"
    done >"$results"
    # The program's own memory with nothing to show, to tell the contacts' memory from the program's.
    [ "$n" -ne 0 ] || read -r emptyRss _ < <(stats "$results" "peak RSS (MiB)")
    awk -F'\t' -v empty="$emptyRss" '$1 == "peak RSS (MiB)" { printf "RSS above empty (MiB)\t%.3f\n", $2 - empty }' \
        "$results" >>"$results"
    "$bench" ops "$work/ops-$n" "$reps" >>"$results"
    [ "$n" -ne 100000 ] || exchange "$work/$n" >>"$results"
    table "$n" "$results"
done
# Other work on the machine shows in every figure: the load averages say how quiet it was.
printf '\nMachine: %s × %s, %s MiB; load average %s before, %s after.\n' \
    "$(nproc)" "$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)" \
    "$(awk '/^MemTotal/ { print int($2 / 1024) }' /proc/meminfo)" "$loadBefore" "$(cut -d' ' -f1-3 /proc/loadavg)"
