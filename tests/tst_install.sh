#!/usr/bin/env bash
# Installs the build into a fresh prefix and checks the folder the desktop gets: program, link, entry, icons.
# Usage: tst_install.sh <cmake> <build dir>. Exits 77 (skipped) when desktop-file-validate is missing.
set -euo pipefail
cmake_command=$1
build_dir=$2
prefix=$(mktemp -d)
program_pid=
# Installing rewrites the build's install_manifest.txt; the user's own install keeps its list.
manifest="$build_dir/install_manifest.txt"
[ ! -f "$manifest" ] || cp "$manifest" "$prefix.manifest"
cleanup() {
    if [ -f "$prefix.manifest" ]; then mv "$prefix.manifest" "$manifest"; else rm -f "$manifest"; fi
    if [ -n "$program_pid" ]; then
        kill "$program_pid" 2>/dev/null || true
        wait "$program_pid" 2>/dev/null || true
    fi
    rm -rf "$prefix"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# GIVEN the build WHEN it is installed into an empty prefix
"$cmake_command" --install "$build_dir" --prefix "$prefix"

# THEN the program sits in its own folder and needs nothing that is not on the system
program="$prefix/lib/brisolta/Brisolta"
[ -x "$program" ] || fail "no executable $program"
if command -v ldd >/dev/null && ldd "$program" | grep -q "not found"; then
    ldd "$program" >&2
    fail "the installed program misses libraries"
fi

# THEN every icon the entry names is there at its own size
for size in 16 32 48 64; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/brisolta.png"
    [ -f "$icon" ] || fail "no icon $icon"
    read -r width height < <(od -An -tu1 -j16 -N8 "$icon" |
        awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')
    [ "$width x $height" = "$size x $size" ] || fail "$icon is $width x $height"
done

entry="$prefix/share/applications/brisolta.desktop"
[ -f "$entry" ] || fail "no desktop entry $entry"
value() { sed -n "s/^$1=//p" "$entry"; }
[ "$(value Icon)" = brisolta ] || fail "the entry names icon '$(value Icon)'"
[ "$(value 'Comment\[it\]')" != "" ] || fail "the entry has no Italian comment"

# THEN the entry's command resolves to the installed program, so it keeps archivio.mdb beside it
exec_path=$(value Exec | sed 's/^"\(.*\)"$/\1/')
[ "$exec_path" = "$prefix/bin/brisolta" ] || fail "the entry runs '$exec_path'"
[ "$(readlink -f "$exec_path")" = "$(readlink -f "$program")" ] || fail "$exec_path does not lead to $program"

# WHEN the entry's command starts THEN the contact file appears in the program's folder, not in bin/
QT_QPA_PLATFORM=offscreen "$exec_path" >/dev/null 2>&1 &
program_pid=$!
for _ in $(seq 200); do
    [ -s "$prefix/lib/brisolta/archivio.mdb" ] && break
    kill -0 "$program_pid" 2>/dev/null || fail "the program ended at start-up"
    sleep 0.05
done
[ -s "$prefix/lib/brisolta/archivio.mdb" ] || fail "no archivio.mdb beside the program"
[ ! -e "$prefix/bin/archivio.mdb" ] || fail "archivio.mdb was created in bin/"

if ! command -v desktop-file-validate >/dev/null; then
    echo "SKIP: desktop-file-validate is not installed; the entry was not validated"
    exit 77
fi
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"
echo "PASS: installed and validated in $prefix"
