#!/usr/bin/env bash
# Installs the build into a fresh prefix and packages it; checks what the desktop gets from each, and where each copy
# keeps its contact file. Usage: tst_install.sh <cmake> <cpack> <build dir>. Exits 77 (skipped) when a tool that
# builds or checks the package is missing, after checking the install.
set -euo pipefail
cmake_command=$1
cpack_command=$2
build_dir=$3
work=$(mktemp -d)
prefix=$work/prefix
entry_name=org.example.Brisolta.desktop
children=()
# Installing and packaging rewrite the build's install_manifest.txt; the user's own install keeps its list.
manifest="$build_dir/install_manifest.txt"
[ ! -f "$manifest" ] || cp "$manifest" "$work.manifest"
cleanup() {
    if [ -f "$work.manifest" ]; then mv "$work.manifest" "$manifest"; else rm -f "$manifest"; fi
    for pid in "${children[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# Runs the command $2... headless and waits until the program has made its contact file $1.
start() {
    local file=$1
    shift
    QT_QPA_PLATFORM=offscreen "$@" >/dev/null 2>&1 &
    children+=($!)
    for _ in $(seq 200); do
        [ -s "$file" ] && return 0
        kill -0 "${children[-1]}" 2>/dev/null || fail "$* ended at start-up"
        sleep 0.05
    done
    fail "$* made no $file"
}

# GIVEN the build WHEN it is installed into an empty prefix
"$cmake_command" --install "$build_dir" --prefix "$prefix"

# THEN the program sits in its own folder
program="$prefix/lib/brisolta/Brisolta"
[ -x "$program" ] || fail "no executable $program"

# THEN every icon the entry names is there at its own size
for size in 16 32 48 64; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/brisolta.png"
    [ -f "$icon" ] || fail "no icon $icon"
    # A PNG's width and height are the two big-endian 32-bit numbers at offset 16.
    [ "$(od -An -tx1 -j16 -N8 "$icon" | tr -d ' \n')" = "$(printf '%08x%08x' "$size" "$size")" ] ||
        fail "$icon is not ${size}x$size"
done

entry="$prefix/share/applications/$entry_name"
[ -f "$entry" ] || fail "no desktop entry $entry"
value() { sed -n "s/^$1=//p" "$entry"; }
[ "$(value Icon)" = brisolta ] || fail "the entry names icon '$(value Icon)'"
[ "$(value 'Comment\[it\]')" != "" ] || fail "the entry has no Italian comment"

# THEN the entry's command resolves to the installed program, so it keeps archivio.mdb beside it
exec_path=$(value Exec | sed 's/^"\(.*\)"$/\1/')
[ "$exec_path" = "$prefix/bin/brisolta" ] || fail "the entry runs '$exec_path'"
[ "$(readlink -f "$exec_path")" = "$(readlink -f "$program")" ] || fail "$exec_path does not lead to $program"

# WHEN the entry's command starts THEN the contact file appears in the program's folder, not in bin/
start "$prefix/lib/brisolta/archivio.mdb" "$exec_path"
[ ! -e "$prefix/bin/archivio.mdb" ] || fail "archivio.mdb was created in bin/"

# WHEN the program's folder turns read-only for a user whose contact file is there
# THEN that file is used where it is, and none is made in the user's data folder
chmod 755 "$work" && chmod a-w "$prefix/lib/brisolta"
as_user=()
[ "$(id -u)" -ne 0 ] || { as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups); chown nobody "$prefix/lib/brisolta/archivio.mdb"; }
HOME=$work/reader "${as_user[@]}" "$program" --find x >/dev/null || fail "a read-only copy did not read its own file"
[ ! -e "$work/reader" ] || fail "a read-only copy with its own file made another"

for tool in desktop-file-validate appstreamcli dpkg-deb dpkg-shlibdeps file lintian; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed; the package was not checked"; exit 77; }
done
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the entry"

# WHEN the build is packaged THEN the package holds the program, its link, its entry and its documents
"$cpack_command" -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work/package" >/dev/null
deb=$(echo "$work"/package/brisolta_*_amd64.deb)
[ -f "$deb" ] || fail "no package brisolta_<version>_amd64.deb"
lintian "$deb" >"$work/lintian.log" 2>&1 & # the slowest check runs beside the others
lintian_pid=$!
children+=("$lintian_pid")
contents=$(dpkg-deb -c "$deb" | awk '{ print substr($0, index($0, "./")) }')
for path in "usr/bin/brisolta -> ../lib/brisolta/Brisolta" usr/lib/brisolta/Brisolta \
    "usr/share/applications/$entry_name" usr/share/metainfo/org.example.Brisolta.metainfo.xml \
    usr/share/icons/hicolor/48x48/apps/brisolta.png usr/share/man/man1/brisolta.1.gz \
    usr/share/doc/brisolta/copyright usr/share/doc/brisolta/changelog.gz; do
    grep -qxF "./$path" <<<"$contents" || fail "the package lacks $path"
done
for dependency in libqt6widgets6 libsqlite3-0 qt6-translations-l10n fonts-crosextra-carlito; do
    dpkg-deb -f "$deb" Depends | grep -qw "$dependency" || fail "the package does not depend on $dependency"
done

# THEN the unpacked package passes the desktop's and the software centres' checks
dpkg-deb -x "$deb" "$work/root"
appstreamcli validate-tree --no-net "$work/root" || fail "appstreamcli rejects the package's description"
entry="$work/root/usr/share/applications/$entry_name"
desktop-file-validate "$entry" || fail "desktop-file-validate rejects the package's entry"
[ "$(value Exec)" = '"/usr/bin/brisolta"' ] || fail "the package's entry runs '$(value Exec)'"

# WHEN a user who may not write the program's folder starts the packaged copy with a fresh home
# THEN the contact file appears in that user's data folder, not beside the program
chmod a-w "$work/root/usr/lib/brisolta"
mkdir -m 777 "$work/home"
HOME=$work/home XDG_DATA_HOME="" start "$work/home/.local/share/Brisolta/archivio.mdb" \
    "${as_user[@]}" "$work/root/usr/bin/brisolta"
[ ! -e "$work/root/usr/lib/brisolta/archivio.mdb" ] || fail "the packaged copy wrote beside itself"
wait "$lintian_pid" || { cat "$work/lintian.log" >&2; fail "lintian finds errors in the package"; }
echo "PASS: installed, packaged and validated in $work"
