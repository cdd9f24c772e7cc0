#!/usr/bin/env bash
# Measures Brisolta's CardDAV sync against vdirsyncer's on the same server in the same run (Radicale, then Xandikos,
# both on 127.0.0.1) and prints one markdown table per server: medians, their ratio and the target (bench/README.md).
# Usage: bench/sync.sh [Brisolta program, build-bench/app/Brisolta by default]
# BRISOLTA_SYNC_REPS sets the runs per measurement (3), BRISOLTA_SYNC_SERVERS the servers ("radicale xandikos").
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
program=${1:-$here/../build-bench/app/Brisolta}
reps=${BRISOLTA_SYNC_REPS:-3}
password=secret
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES=default.warning=false

missing=()
for tool in radicale xandikos vdirsyncer git curl /usr/bin/time; do
    command -v "$tool" >/dev/null || missing+=("$(basename "$tool")")
done
if ((${#missing[@]})); then
    apt-get install -y "${missing[@]}" >/dev/null
fi
# Until the program has --sync its columns read n/a, and the vdirsyncer half still runs.
brisolta=0
[ -x "$program" ] && "$program" --help 2>/dev/null | grep -- '--sync' >/dev/null && brisolta=1

loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
# The servers' storage in memory where there is some, as the tests have it: a disk's flushes would blur the times.
work=$(mktemp -d "$([ -d /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/brisolta-sync.XXXXXX")
serverPid=
trap '[ -n "$serverPid" ] && kill -KILL "$serverPid" 2>/dev/null; rm -rf "$work"' EXIT

fail() {
    echo "sync.sh: $1" >&2
    [ -f "$work/last.log" ] && tail -n 5 "$work/last.log" >&2
    exit 1
}

# Cards first..last of a made-up address book, one file each in a folder, or all in one .vcf file. A tag makes a
# changed version of the same cards: same UID, another surname.
makeCards() { # folder-or-file first last [tag]
    /usr/bin/python3 - "$@" <<'EOF'
import os, sys
target, first, last = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
tag = sys.argv[4] if len(sys.argv) > 4 else ""
given = ["Giulia", "Marco", "Chiara", "Nicolò", "Francesca", "Luca", "Sara"]
family = ["Rossi", "D'Angelo", "Esposito", "Bianchi", "Romano", "Colombo", "Ricci", "Greco", "Marino", "Bruno", "Gallo"]
def card(n):
    name, surname = given[n % 7], f"{family[n % 11]} {n}{tag}"
    return (f"BEGIN:VCARD\r\nVERSION:3.0\r\nUID:fill-{n}\r\nEMAIL:contatto{n}@example.it\r\nFN:{name} {surname}\r\n"
            f"N:{surname};{name};;;\r\nTEL;TYPE=CELL:+39 333 {n:07d}\r\nEND:VCARD\r\n").encode()
if os.path.isdir(target):
    for n in range(first, last + 1):
        with open(os.path.join(target, f"fill-{n:05d}.vcf"), "wb") as f:
            f.write(card(n))
else:
    with open(target, "wb") as f:
        f.write(b"".join(card(n) for n in range(first, last + 1)))
EOF
}

# Starts a server on a free port with a fresh storage holding one empty address book; sets root, book (its URL)
# and collection (its folder).
startServer() { # radicale|xandikos
    kind=$1
    port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    root=http://127.0.0.1:$port/
    local storage=$work/$kind-$port
    mkdir -p "$storage"
    if [ "$kind" = radicale ]; then
        collection=$storage/collection-root/alice/rubrica
        mkdir -p "$collection"
        echo '{"tag": "VADDRESSBOOK", "D:displayname": "Rubrica"}' >"$collection/.Radicale.props"
        echo "alice:$password" >"$storage/users"
        printf '[server]\nhosts = 127.0.0.1:%s\n[auth]\ntype = htpasswd\nhtpasswd_filename = %s\nhtpasswd_encryption = plain\n[rights]\ntype = owner_only\n[storage]\nfilesystem_folder = %s\n[logging]\nlevel = warning\n' \
            "$port" "$storage/users" "$storage" >"$storage/config"
        radicale -C "$storage/config" >>"$work/server.log" 2>&1 &
        book=${root}alice/rubrica/
    else
        xandikos --defaults -d "$storage" -l 127.0.0.1 -p "$port" >>"$work/server.log" 2>&1 &
        collection=$storage/user/contacts/addressbook
        book=${root}user/contacts/addressbook/
    fi
    serverPid=$!
    for _ in $(seq 200); do
        curl -s -o /dev/null --max-time 1 "$root" && return 0
        kill -0 "$serverPid" 2>/dev/null || break
        sleep 0.05
    done
    tail -n 5 "$work/server.log" >&2
    fail "$kind does not answer on port $port"
}

# A server busy with a long request does not stop for a TERM; its storage is thrown away anyway.
stopServer() {
    kill -KILL "$serverPid"
    wait "$serverPid" 2>/dev/null || true
    serverPid=
}

# Cards written into the storage reach Xandikos through its collection's git index, as its own changes do.
commitCards() {
    [ "$kind" = xandikos ] || return 0
    # git frees and takes back zlib's buffers for every card: a heap grown in large steps spares most page faults.
    GLIBC_TUNABLES=glibc.malloc.top_pad=16777216 git -C "$collection" add .
    git -C "$collection" -c user.name=bench -c user.email=bench@localhost commit -q -m bench
}

# A new, empty address book on the server, by extended MKCOL as a client makes one; prints its URL.
newBook() { # name
    local url
    url=$root$([ "$kind" = radicale ] && echo alice || echo user/contacts)/$1/
    curl -sf -o /dev/null -u "alice:$password" -X MKCOL -H 'Content-Type: application/xml' "$url" --data \
        '<D:mkcol xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav"><D:set><D:prop><D:resourcetype><D:collection/><C:addressbook/></D:resourcetype></D:prop></D:set></D:mkcol>' ||
        fail "MKCOL $url refused"
    echo "$url"
}

# One run of a client: its wall time, user+sys CPU time (ms) and peak RSS (KiB) are added to the figure's lists.
declare -A wall cpu rss
timed() { # figure command...
    local figure=$1 started ended user sys peak
    shift
    started=$EPOCHREALTIME
    /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" >"$work/last.log" 2>&1 || fail "$figure: $* failed"
    ended=$EPOCHREALTIME
    read -r user sys peak <"$work/time"
    wall[$figure]+="$(awk -v a="$started" -v b="$ended" 'BEGIN { gsub(",", ".", a); gsub(",", ".", b); printf "%.0f", (b - a) * 1000 }') "
    cpu[$figure]+="$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.0f", (u + s) * 1000 }') "
    rss[$figure]+="$peak "
}

# vdirsyncer as its documentation sets it up: a folder of .vcf files here, the CardDAV address book there.
vdirsyncerSetUp() { # name url
    local dir=$work/vdirsyncer-$1
    mkdir -p "$dir/cards" "$dir/status"
    printf '[general]\nstatus_path = "%s/status/"\n\n[pair rubrica]\na = "locale"\nb = "server"\ncollections = null\nconflict_resolution = "b wins"\n\n[storage locale]\ntype = "filesystem"\npath = "%s/cards/"\nfileext = ".vcf"\n\n[storage server]\ntype = "carddav"\nurl = "%s"\nusername = "alice"\npassword = "%s"\n' \
        "$dir" "$dir" "$2" "$password" >"$dir/config"
    vdirsyncer -c "$dir/config" discover </dev/null >"$work/last.log" 2>&1 || fail "vdirsyncer discover $2 failed"
}
# On Xandikos each card asked for by name costs a read of the collection's whole index (0.2 s at 10,000 cards), and
# vdirsyncer's first sync asks for all of them by name in one request: it gives up after five minutes while the
# server works on for half an hour. There its first sync, which is no measurement, fetches every card with one
# addressbook-query instead; the syncs measured after it are vdirsyncer's own.
vdirsyncerFirstSync() { # name
    /usr/bin/python3 - "$work/vdirsyncer-$1/config" >"$work/last.log" 2>&1 <<'EOF' || fail "vdirsyncer's first sync failed"
import sys
from vdirsyncer.storage import dav
dav.CardDAVStorage.get_multi_template = ('<C:addressbook-query xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">'
                                         '<prop><getetag/><C:address-data/></prop><C:filter/></C:addressbook-query>')
default_headers = dav.DAVSession.get_default_headers
dav.DAVSession.get_default_headers = lambda self: {**default_headers(self), "Depth": "1"}
from vdirsyncer.cli import app
app(["-c", sys.argv[1], "sync"])
EOF
}
vdirsyncerSync() { timed "$1/vdirsyncer" vdirsyncer -c "$work/vdirsyncer-$2/config" sync </dev/null; }

brisoltaSetUp() { # name url
    "$program" --file "$work/$1.mdb" --sync-setup "$2" --user alice --password-stdin <<<"$password" >"$work/last.log" 2>&1 ||
        fail "Brisolta --sync-setup $2 failed"
}
brisoltaSync() { timed "$1/Brisolta" "$program" --file "$work/$2.mdb" --sync --password-stdin <<<"$password"; }

# Both clients one right after the other, in turns first, so that the machine's drift hits both alike.
both() { # figure name rep
    if (($3 % 2 == 0)); then
        vdirsyncerSync "$1" "$2"
        ((brisolta)) && brisoltaSync "$1" "$2"
    else
        ((brisolta)) && brisoltaSync "$1" "$2"
        vdirsyncerSync "$1" "$2"
    fi
    return 0
}

# A sync with nothing to do and one after ten cards changed on the server, each client already holding the book.
syncs() { # size
    local size=$1 name=$kind-sync-$1 r k n
    startServer "$kind"
    makeCards "$collection" 1 "$size"
    commitCards
    vdirsyncerSetUp "$name" "$book"
    ((brisolta)) && brisoltaSetUp "$name" "$book"
    if [ "$kind" = xandikos ]; then
        vdirsyncerFirstSync "$name"
        ((brisolta)) && brisoltaSync "first sync, download $size" "$name"
    else
        both "first sync, download $size" "$name" 0
    fi
    for ((r = 0; r < reps; r++)); do
        both "sync, nothing to do, $size" "$name" "$r"
    done
    for ((r = 0; r < reps; r++)); do
        for ((k = 0; k < 10; k++)); do
            n=$((1 + k * size / 10))
            makeCards "$collection" "$n" "$n" " modificato $r"
        done
        commitCards
        both "sync, ten changes, $size" "$name" "$r"
    done
    # What the program holds for a search alone, on the file the sync filled: the sync's own memory is the rest.
    ((brisolta)) && timed "find zzz, $size/Brisolta" "$program" --file "$work/$name.mdb" --find zzz
    stopServer
}

# The first sync of a contact file of 1,000 into an empty address book.
firstUpload() {
    local r url name source=$work/upload.vcf
    startServer "$kind"
    makeCards "$source" 1 1000
    ((brisolta)) && { "$program" --file "$work/$kind-upload.mdb" --import "$source" >"$work/last.log" 2>&1 || fail "import failed"; }
    for ((r = 0; r < reps; r++)); do
        name=$kind-upload-$r
        url=$(newBook "vdirsyncer-$r")
        vdirsyncerSetUp "$name" "$url"
        makeCards "$work/vdirsyncer-$name/cards" 1 1000
        if ((brisolta)); then
            cp "$work/$kind-upload.mdb" "$work/$name.mdb"
            url=$(newBook "brisolta-$r")
            brisoltaSetUp "$name" "$url"
        fi
        both "first upload, 1000" "$name" "$r"
    done
    stopServer
}

median() { # values...
    (($#)) || { echo n/a; return; }
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { printf "%.0f\n", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# One table row: the two clients' medians of a figure and their ratio. list is wall, cpu or rss.
row() { # label list figure target
    local -n list=$2
    local b v ratio
    # shellcheck disable=SC2086 # the lists are space-separated numbers
    b=$(median ${list[$3/Brisolta]:-}) v=$(median ${list[$3/vdirsyncer]:-})
    ratio=$(awk -v b="$b" -v v="$v" 'BEGIN { if (b == "n/a" || v == "n/a" || v == 0) print "n/a"; else printf "%.2g×", b / v }')
    [ "$2" = rss ] && b=$(awk -v x="$b" 'BEGIN { print x == "n/a" ? x : sprintf("%.1f", x / 1024) }') &&
        v=$(awk -v x="$v" 'BEGIN { print x == "n/a" ? x : sprintf("%.1f", x / 1024) }')
    echo "| $1 | $b | $v | $ratio | $4 |"
}

table() {
    echo
    echo "### $kind: Brisolta against vdirsyncer $(vdirsyncer --version | awk '{ print $NF }'), medians of $reps runs"
    echo
    echo "| measurement | Brisolta | vdirsyncer | ratio | target |"
    echo "|---|---|---|---|---|"
    for size in 1000 10000; do
        row "sync with nothing to do, $size contacts (ms)" wall "sync, nothing to do, $size" "≤ 0.25×"
        row "sync after ten changes on the server, $size contacts (ms)" wall "sync, ten changes, $size" "≤ 0.25×"
    done
    row "first upload of 1000 contacts, wall (ms)" wall "first upload, 1000" "≤ 1×"
    row "first upload of 1000 contacts, CPU user+sys (ms)" cpu "first upload, 1000" "≤ 0.2×"
    row "first sync, download of 1000 contacts (ms, once)" wall "first sync, download 1000" ""
    row "first sync, download of 10000 contacts (ms, once)" wall "first sync, download 10000" ""
    row "peak RSS, first sync of 10000 (MiB)" rss "first sync, download 10000" ""
    row "peak RSS, sync with nothing to do at 10000 (MiB)" rss "sync, nothing to do, 10000" ""
    row "peak RSS, \`--find zzz\` on the file the sync filled (MiB)" rss "find zzz, 10000" ""
    # shellcheck disable=SC2086 # the lists are space-separated numbers
    awk -v find="$(median ${rss[find zzz, 10000/Brisolta]:-})" '{ peak = $1 > peak ? $1 : peak }
        END { above = find == "n/a" ? "n/a" : sprintf("%.1f", (peak - find) / 1024)
              printf "| peak RSS of the sync at 10000 above `--find zzz` (MiB) | %s | | | ≤ 30 |\n", above }' \
        <(printf '%s\n' ${rss[first sync, download 10000/Brisolta]:-} ${rss[sync, nothing to do, 10000/Brisolta]:-} ${rss[sync, ten changes, 10000/Brisolta]:-})
}

for kind in ${BRISOLTA_SYNC_SERVERS:-radicale xandikos}; do
    wall=() cpu=() rss=()
    syncs 1000
    syncs 10000
    firstUpload
    table
done
echo
echo "Load average before: $loadBefore; after: $(cut -d' ' -f1-3 /proc/loadavg). Brisolta: $program$( ((brisolta)) || echo ' (no --sync yet: n/a)')"
