#!/usr/bin/env python3
"""Makes a large old (Jet 4) archivio.mdb for the conversion benchmark, without Access or Java.

Usage: bench/make_legacy.py COPIES OUT [SOURCE]

Takes SOURCE (by default tests/data/legacy/legacy-many.mdb, 5,000 contacts on 118 data pages) and appends its
table's data pages COPIES - 1 more times at the end of the file, marking each new page in the table's usage map
and raising the table's row count; 20 copies give 100,000 contacts, those of SOURCE over and over in the same order.
Check the result with mdb-export from Debian's mdbtools: `mdb-export OUT Rubrica | wc -l`.
"""

import pathlib
import struct
import sys

PAGE = 4096
DATA_PAGE, TABLE_PAGE = 0x01, 0x02
ROW_COUNT = 16  # in the table definition
USAGE_MAP = 55  # in the table definition: the row holding the table's usage map, (page << 8) | row


def page(data, number):
    return data[number * PAGE:(number + 1) * PAGE]


def row(data, pointer):
    number, index = pointer >> 8, pointer & 0xFF
    offsets = page(data, number)[14:14 + 2 * (index + 1)]
    start = struct.unpack_from("<H", offsets, 2 * index)[0] & 0x1FFF
    end = PAGE if index == 0 else struct.unpack_from("<H", offsets, 2 * (index - 1))[0] & 0x1FFF
    return number * PAGE + start, end - start


def main():
    copies, out = int(sys.argv[1]), pathlib.Path(sys.argv[2])
    source = pathlib.Path(sys.argv[3] if len(sys.argv) > 3 else pathlib.Path(__file__).parent.parent / "tests/data/legacy/legacy-many.mdb")
    data = bytearray(source.read_bytes())
    pages = len(data) // PAGE
    owners = [struct.unpack_from("<I", data, n * PAGE + 4)[0] for n in range(pages) if data[n * PAGE] == DATA_PAGE]
    table = max(set(owners), key=owners.count)  # the table with the most data pages: Rubrica
    assert data[table * PAGE] == TABLE_PAGE
    own = [n for n in range(pages) if data[n * PAGE] == DATA_PAGE and struct.unpack_from("<I", data, n * PAGE + 4)[0] == table]
    at, size = row(data, struct.unpack_from("<I", data, table * PAGE + USAGE_MAP)[0])
    # A reference map (type 1): pointers to bitmap pages, each bitmap covering (PAGE - 4) * 8 pages from 0 up.
    assert data[at] == 1, "only a reference usage map can be extended"
    bitmap = struct.unpack_from("<I", data, at + 1)[0]
    covered = (PAGE - 4) * 8
    for copy in range(1, copies):
        for number in own:
            new = len(data) // PAGE
            assert new < covered, "more pages than the first bitmap page covers"
            data += page(data, number)
            data[bitmap * PAGE + 4 + new // 8] |= 1 << (new % 8)
    rows = struct.unpack_from("<I", data, table * PAGE + ROW_COUNT)[0]
    struct.pack_into("<I", data, table * PAGE + ROW_COUNT, rows * copies)
    out.write_bytes(data)
    print(f"{out}: {rows * copies} contacts, {len(data) // PAGE} pages")


if __name__ == "__main__":
    main()
