#!/usr/bin/env python3
"""Draw Brisolta's icons and logo.

Every picture is pixel art kept below as ASCII grids, one character per
colour.  The script writes the .ico files, PNG copies for the Linux desktop
and the JPEG logo (via ImageMagick's `convert`), then reads every file back
and checks it.  Run from anywhere:

    python3 app/resources/make_images.py
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# --------------------------------------------------------------------------
# Palettes
# --------------------------------------------------------------------------

# The standard 16-colour Windows (VGA) palette, in index order.
VGA16 = [
    (0, 0, 0),        # 0  black
    (128, 0, 0),      # 1  maroon
    (0, 128, 0),      # 2  green
    (128, 128, 0),    # 3  olive
    (0, 0, 128),      # 4  navy
    (128, 0, 128),    # 5  purple
    (0, 128, 128),    # 6  teal
    (192, 192, 192),  # 7  silver
    (128, 128, 128),  # 8  grey
    (255, 0, 0),      # 9  red
    (0, 255, 0),      # 10 lime
    (255, 255, 0),    # 11 yellow
    (0, 0, 255),      # 12 blue
    (255, 0, 255),    # 13 magenta
    (0, 255, 255),    # 14 cyan
    (255, 255, 255),  # 15 white
]

# Grid character -> VGA16 index.  '.' is the mask colour (light grey in the
# drawing): those pixels are transparent.  Silver itself is not used inside
# the pictures so that it never gets confused with the mask colour.
VGA16_KEYS = {
    "k": 0, "r": 1, "g": 2, "o": 3, "n": 4, "p": 5, "t": 6, "s": 7,
    "d": 8, "R": 9, "G": 10, "Y": 11, "B": 12, "M": 13, "C": 14, "w": 15,
}

MONO = [(0, 0, 0), (255, 255, 255)]
MONO_KEYS = {"k": 0, "w": 1}

TRANSPARENT = "."

# --------------------------------------------------------------------------
# Drawings
# --------------------------------------------------------------------------

# Contact list row: a white address card with a navy title strip, a blue
# head-and-shoulders on the left and four grey text lines on the right.
LIST_ICON = [
    "................",
    "................",
    "kkkkkkkkkkkkkkkk",
    "knnnnnnnnnnnnnnk",
    "kwwwwwwwwwwwwwwk",
    "kwwwBBwwwwwwwwwk",
    "kwwBBBBwwdddddwk",
    "kwwBBBBwwwwwwwwk",
    "kwwwBBwwwdddddwk",
    "kwwwwwwwwwwwwwwk",
    "kwwBBBBwwdddddwk",
    "kwBBBBBBwwwwwwwk",
    "kwBBBBBBwdddwwwk",
    "kwwwwwwwwwwwwwwk",
    "kkkkkkkkkkkkkkkk",
    "................",
]

# Find dialog: black binoculars seen from the front: eyepieces on top, a
# hinge between the barrels, white glints down the left of each barrel and
# white rims round the big front lenses.
FIND_ICON = [
    "................",
    "..kkkk....kkkk..",
    "..kwkk....kwkk..",
    "..kwkk....kwkk..",
    ".kkkkkk..kkkkkk.",
    ".kwkkkkkkkwkkkk.",
    ".kwkkkkwwkwkkkk.",
    ".kwkkkkkkkwkkkk.",
    "kkkkkkk..kkkkkkk",
    "kkwwwkk..kkwwwkk",
    "kwkkkwk..kwkkkwk",
    "kwkkkwk..kwkkkwk",
    "kkwwwkk..kkwwwkk",
    ".kkkkk....kkkkk.",
    "................",
    "................",
]

# Application icon, 32x32: a blue ring-bound address book with a big white
# "B" on the cover, page edges on the right and bottom, and coloured index
# tabs (red, yellow, green, cyan) sticking out of the pages.
APP_ICON_32 = [
    "................................",
    ".....kkkkkkkkkkkkkkkkkkkkk......",
    ".....kBBBBBBBBBBBBBBBBBBnkk.....",
    "....kkkkBBBBBBBBBBBBBBBBnkwk....",
    "...kwwddkBBBBBBBBBBBBBBBnkwkk...",
    "....kkkkBBBBBBBBBBBBBBBBnkwRRk..",
    ".....kBBBBBBBBBBBBBBBBBBnkwRRk..",
    "....kkkkBBkkkkkkkkkkBBBBnkwRRk..",
    "...kwwddkBkwwwwwwwwwkBBBnkwkk...",
    "....kkkkBBkwwwwwwwwwwkBBnkwk....",
    ".....kBBBBkwwwkkkkwwwkBBnkwkk...",
    "....kkkkBBkwwwkBBkwwwkBBnkwYYk..",
    "...kwwddkBkwwwkkkkwwwkBBnkwYYk..",
    "....kkkkBBkwwwwwwwwwkBBBnkwYYk..",
    ".....kBBBBkwwwwwwwwwkBBBnkwkk...",
    "....kkkkBBkwwwkkkkwwwkBBnkwk....",
    "...kwwddkBkwwwkBBkwwwkBBnkwkk...",
    "....kkkkBBkwwwkBBkwwwkBBnkwGGk..",
    ".....kBBBBkwwwkkkkwwwkBBnkwGGk..",
    "....kkkkBBkwwwwwwwwwwkBBnkwGGk..",
    "...kwwddkBkwwwwwwwwwkBBBnkwkk...",
    "....kkkkBBkkkkkkkkkkBBBBnkwk....",
    ".....kBBBBBBBBBBBBBBBBBBnkwkk...",
    "....kkkkBBBBBBBBBBBBBBBBnkwCCk..",
    "...kwwddkBBBBBBBBBBBBBBBnkwCCk..",
    "....kkkkBBBBBBBBBBBBBBBBnkwCCk..",
    ".....knnnnnnnnnnnnnnnnnnnkwkk...",
    ".....kkkkkkkkkkkkkkkkkkkkkwk....",
    "......kwwwwwwwwwwwwwwwwwwwwk....",
    ".......kkkkkkkkkkkkkkkkkkkk.....",
    "................................",
    "................................",
]

# Application icon, 16x16: the same book with four rings and two tabs.
APP_ICON_16 = [
    "................",
    "...kkkkkkkkkk...",
    ".kwwkBBBBBBnkk..",
    "...kBBBBBBBnkwk.",
    "...kBBwwwwBnkwRk",
    ".kwwkBwwBwwnkwRk",
    "...kBBwwBwwnkwk.",
    "...kBBwwwwBnkwk.",
    ".kwwkBwwBwwnkwYk",
    "...kBBwwBwwnkwYk",
    "...kBBwwwwBnkwk.",
    ".kwwkBBBBBBnkwk.",
    "...knnnnnnnnkwk.",
    "...kkkkkkkkkkwk.",
    "....kwwwwwwwwwk.",
    ".....kkkkkkkkk..",
]


# How the 16-colour drawings map to black and white: the cover, outlines and
# shading go black; paper, rings and the bright index tabs go white.
MONO_FROM_VGA16 = {
    "k": "k", "n": "k", "B": "k", "d": "k", "r": "k", "g": "k", "o": "k",
    "p": "k", "t": "k",
    "w": "w", "s": "w", "R": "w", "G": "w", "Y": "w", "C": "w", "M": "w",
}


def mono_from(grid):
    """Monochrome version of a 16-colour drawing; transparency is kept."""
    return ["".join(c if c == TRANSPARENT else MONO_FROM_VGA16[c] for c in row)
            for row in grid]


# --------------------------------------------------------------------------
# Pixel helpers
# --------------------------------------------------------------------------

def check_grid(name, grid, keys, size):
    w, h = size
    if len(grid) != h:
        raise SystemExit("%s: %d rows, want %d" % (name, len(grid), h))
    for y, row in enumerate(grid):
        if len(row) != w:
            raise SystemExit("%s row %d: %d columns, want %d"
                             % (name, y, len(row), w))
        for c in row:
            if c != TRANSPARENT and c not in keys:
                raise SystemExit("%s row %d: unknown colour %r" % (name, y, c))


def grid_rgba(grid, keys, palette):
    """Grid -> rows of (r, g, b, a)."""
    return [[(0, 0, 0, 0) if c == TRANSPARENT
             else palette[keys[c]] + (255,) for c in row] for row in grid]


def scale_nearest(rows, factor):
    out = []
    for row in rows:
        wide = [px for px in row for _ in range(factor)]
        out.extend(list(wide) for _ in range(factor))
    return out


def scale_area(rows, new_w, new_h):
    """Box-filter resize (premultiplied alpha), for sizes that are not a
    whole multiple of the drawing."""
    h, w = len(rows), len(rows[0])
    sx, sy = w / new_w, h / new_h
    out = []
    for oy in range(new_h):
        y0, y1 = oy * sy, (oy + 1) * sy
        line = []
        for ox in range(new_w):
            x0, x1 = ox * sx, (ox + 1) * sx
            acc = [0.0, 0.0, 0.0, 0.0]
            area = 0.0
            for y in range(int(y0), min(h, int(y1 + 0.999999))):
                wy = min(y + 1, y1) - max(y, y0)
                if wy <= 0:
                    continue
                for x in range(int(x0), min(w, int(x1 + 0.999999))):
                    wx = min(x + 1, x1) - max(x, x0)
                    if wx <= 0:
                        continue
                    r, g, b, a = rows[y][x]
                    f = wx * wy
                    acc[0] += r * a * f
                    acc[1] += g * a * f
                    acc[2] += b * a * f
                    acc[3] += a * f
                    area += f
            alpha = acc[3] / area
            if acc[3] > 0:
                px = tuple(int(round(acc[i] / acc[3])) for i in range(3))
            else:
                px = (0, 0, 0)
            line.append(px + (int(round(alpha)),))
        out.append(line)
    return out


# --------------------------------------------------------------------------
# ICO
# --------------------------------------------------------------------------

def ico_image(grid, keys, palette, bpp):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap, AND mask.

    Masked pixels get colour index 0 (black) in the XOR bitmap, so Windows'
    (screen AND mask) XOR colour leaves the screen untouched there."""
    h, w = len(grid), len(grid[0])
    xor_stride = (w * bpp + 31) // 32 * 4
    and_stride = (w + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(grid):          # bitmaps are stored bottom-up
        bits = 0
        nbits = 0
        line = bytearray()
        mline = bytearray(and_stride)
        for x, c in enumerate(row):
            idx = 0 if c == TRANSPARENT else keys[c]
            bits = (bits << bpp) | idx
            nbits += bpp
            if nbits == 8:
                line.append(bits)
                bits = nbits = 0
            if c == TRANSPARENT:
                mline[x // 8] |= 0x80 >> (x % 8)
        if nbits:
            line.append(bits << (8 - nbits))
        line.extend(b"\0" * (xor_stride - len(line)))
        xor += line
        mask += mline
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b"".join(struct.pack("BBBB", b, g, r, 0)
                       for (r, g, b) in palette)
    assert len(palette) == 1 << bpp
    return header + colours + bytes(xor) + bytes(mask)


def write_ico(path, images):
    """images: list of (grid, keys, palette, bpp)."""
    blobs = [ico_image(*img) for img in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for (grid, _keys, palette, bpp), blob in zip(images, blobs):
        w, h = len(grid[0]), len(grid)
        out += struct.pack("<BBBBHHII", w % 256, h % 256,
                           len(palette) if bpp < 8 else 0, 0, 1, bpp,
                           len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    with open(path, "wb") as f:
        f.write(out)


def read_ico(path):
    """Parse an .ico back into [(bpp, colour count, rows of RGBA)],
    validating the structure on the way."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert reserved == 0 and kind == 1, "%s: not an icon file" % path
    images = []
    end = 6 + 16 * count
    for i in range(count):
        (w, h, ncol, res, planes, bpp, size,
         offset) = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        w, h = w or 256, h or 256
        assert res == 0 and planes == 1, "%s #%d: bad entry" % (path, i)
        assert offset == end, "%s #%d: image not where expected" % (path, i)
        end = offset + size
        (bsize, bw, bh, bplanes, bbpp, comp, simage, _xp, _yp, used,
         _imp) = struct.unpack_from("<IiiHHIIiiII", data, offset)
        assert bsize == 40 and comp == 0 and bplanes == 1
        assert (bw, bh, bbpp) == (w, 2 * h, bpp), "%s #%d: header" % (path, i)
        ncolours = used or (1 << bpp)
        assert ncol == (ncolours if ncolours < 256 else 0)
        xor_stride = (w * bpp + 31) // 32 * 4
        and_stride = (w + 31) // 32 * 4
        assert simage == (xor_stride + and_stride) * h
        assert size == 40 + 4 * ncolours + simage, "%s #%d: size" % (path, i)
        pal_at = offset + 40
        pal = [struct.unpack_from("BBBB", data, pal_at + 4 * j)
               for j in range(ncolours)]
        xor_at = pal_at + 4 * ncolours
        and_at = xor_at + xor_stride * h
        rows = []
        for y in range(h):
            src = h - 1 - y
            xline = data[xor_at + src * xor_stride:]
            mline = data[and_at + src * and_stride:]
            row = []
            for x in range(w):
                bit = x * bpp
                idx = (xline[bit // 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1)
                masked = mline[x // 8] & (0x80 >> (x % 8))
                if masked:
                    assert idx == 0, "%s #%d: masked pixel not black" % (path, i)
                    row.append((0, 0, 0, 0))
                else:
                    b, g, r, _ = pal[idx]
                    row.append((r, g, b, 255))
            rows.append(row)
        images.append((bpp, ncol, rows))
    assert end == len(data), "%s: %d trailing bytes" % (path, len(data) - end)
    return images


# --------------------------------------------------------------------------
# PNG
# --------------------------------------------------------------------------

def _chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body
            + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def write_png(path, rows):
    h, w = len(rows), len(rows[0])
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for px in row:
            raw.extend(px)
    data = (b"\x89PNG\r\n\x1a\n"
            + _chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
            + _chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + _chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(data)


def read_png(path):
    """Read back a PNG written by write_png (8-bit RGBA, filter 0)."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", path
    pos, idat, ihdr = 8, b"", None
    while pos < len(data):
        n, = struct.unpack_from(">I", data, pos)
        kind = data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + n]
        crc, = struct.unpack_from(">I", data, pos + 8 + n)
        assert crc == zlib.crc32(kind + body) & 0xFFFFFFFF, "%s: CRC" % path
        if kind == b"IHDR":
            ihdr = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + n
    w, h, depth, ctype, _c, _f, interlace = ihdr
    assert (depth, ctype, interlace) == (8, 6, 0), path
    raw = zlib.decompress(idat)
    stride = 1 + 4 * w
    assert len(raw) == stride * h, path
    rows = []
    for y in range(h):
        line = raw[y * stride:(y + 1) * stride]
        assert line[0] == 0, path
        rows.append([tuple(line[1 + 4 * x:5 + 4 * x]) for x in range(w)])
    return rows


# --------------------------------------------------------------------------
# Logo (JPEG)
# --------------------------------------------------------------------------

LOGO_W, LOGO_H = 66, 30

# Proportional bold font, cap height 9, x-height 6; '#' is ink.
FONT = {
    "B": ["#####.",
          "##..##",
          "##..##",
          "##..##",
          "#####.",
          "##..##",
          "##..##",
          "##..##",
          "#####."],
    "r": [".....",
          ".....",
          ".....",
          "##.##",
          "#####",
          "##...",
          "##...",
          "##...",
          "##..."],
    "i": ["..",
          "##",
          "..",
          "##",
          "##",
          "##",
          "##",
          "##",
          "##"],
    "s": [".....",
          ".....",
          ".....",
          ".####",
          "##...",
          ".###.",
          "...##",
          "...##",
          "####."],
    "o": [".....",
          ".....",
          ".....",
          ".###.",
          "##.##",
          "##.##",
          "##.##",
          "##.##",
          ".###."],
    "l": ["##",
          "##",
          "##",
          "##",
          "##",
          "##",
          "##",
          "##",
          "##"],
    "t": ["....",
          "##..",
          "##..",
          "####",
          "##..",
          "##..",
          "##..",
          "##..",
          ".###"],
    "a": [".....",
          ".....",
          ".....",
          "####.",
          "...##",
          ".####",
          "##.##",
          "##.##",
          ".####"],
}

# A little letter: 'e' edge, 'p' paper.
ENVELOPE = [
    "eeeeeeeeeeeee",
    "eepppppppppee",
    "epepppppppepe",
    "eppepppppeppe",
    "epppepppepppe",
    "eppppepeppppe",
    "epppppepppppe",
    "epppppppppppe",
    "eeeeeeeeeeeee",
]

LOGO_OUTSIDE = (240, 240, 240)     # behind the rounded corners
LOGO_BORDER = (18, 44, 96)
LOGO_TOP = (104, 164, 230)
LOGO_BOTTOM = (26, 76, 156)
LOGO_SHINE = (176, 210, 248)
LOGO_INK = (255, 255, 255)
LOGO_SHADOW = (12, 32, 76)
LOGO_EDGE = (18, 44, 96)
LOGO_PAPER = (255, 250, 236)


def _mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def _rounded_cover(x, y, left, top, right, bottom, radius, ss=4):
    """Fraction of pixel (x, y) inside a rounded rectangle."""
    inside = 0
    for j in range(ss):
        for i in range(ss):
            px, py = x + (i + 0.5) / ss, y + (j + 0.5) / ss
            if not (left <= px <= right and top <= py <= bottom):
                continue
            cx = min(max(px, left + radius), right - radius)
            cy = min(max(py, top + radius), bottom - radius)
            if (px - cx) ** 2 + (py - cy) ** 2 <= radius * radius:
                inside += 1
    return inside / (ss * ss)


def draw_logo():
    w, h = LOGO_W, LOGO_H
    img = []
    for y in range(h):
        row = []
        fill = _mix(LOGO_TOP, LOGO_BOTTOM, y / (h - 1))
        if y == 1:
            fill = _mix(fill, LOGO_SHINE, 0.7)
        for x in range(w):
            outer = _rounded_cover(x, y, 0, 0, w, h, 4)
            inner = _rounded_cover(x, y, 1, 1, w - 1, h - 1, 3)
            px = _mix(LOGO_OUTSIDE, LOGO_BORDER, outer)
            px = _mix(px, fill, inner)
            row.append(px)
        img.append(row)

    def plot(x, y, colour):
        if 0 <= x < w and 0 <= y < h:
            img[y][x] = colour

    top = 10
    env_x = 5
    for j, line in enumerate(ENVELOPE):
        for i, c in enumerate(line):
            plot(env_x + i, top + j, LOGO_EDGE if c == "e" else LOGO_PAPER)

    text = "Brisolta"
    x = env_x + len(ENVELOPE[0]) + 3
    for colour, dx, dy in ((LOGO_SHADOW, 1, 1), (LOGO_INK, 0, 0)):
        cx = x
        for ch in text:
            glyph = FONT[ch]
            for j, line in enumerate(glyph):
                for i, c in enumerate(line):
                    if c == "#":
                        plot(cx + i + dx, top + j + dy, colour)
            cx += len(glyph[0]) + 1
    return [[tuple(int(round(v)) for v in px) for px in row] for row in img]


def write_logo(path):
    convert = shutil.which("convert")
    if not convert:
        raise SystemExit("ImageMagick's convert is needed for the logo")
    img = draw_logo()
    with tempfile.TemporaryDirectory() as tmp:
        ppm = os.path.join(tmp, "logo.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (LOGO_W, LOGO_H))
            for row in img:
                for px in row:
                    f.write(bytes(px))
        # No -strip: a PPM carries no profiles anyway, and -strip would
        # also drop the JFIF APP0 marker.
        subprocess.run([convert, ppm, "-interlace", "none",
                        "-quality", "85", "-sampling-factor", "2x2",
                        "-colorspace", "sRGB", "-type", "TrueColor",
                        path], check=True)


def check_jpeg(path):
    with open(path, "rb") as f:
        data = f.read()
    assert data[:2] == b"\xff\xd8", "%s: no SOI" % path
    pos = 2
    seen_app0 = False
    frame = None
    while pos < len(data):
        assert data[pos] == 0xFF, "%s: lost marker sync" % path
        marker = data[pos + 1]
        if marker == 0xDA:
            break
        n, = struct.unpack_from(">H", data, pos + 2)
        body = data[pos + 4:pos + 2 + n]
        if marker == 0xE0 and body[:5] == b"JFIF\0":
            assert pos == 2, "%s: JFIF APP0 must follow SOI" % path
            seen_app0 = True
        if marker in (0xC1, 0xC2, 0xC3, 0xC9, 0xCA, 0xCB):
            raise AssertionError("%s: not a baseline JPEG" % path)
        if marker == 0xC0:
            frame = struct.unpack_from(">BHHB", body)
        pos += 2 + n
    assert seen_app0, "%s: no JFIF APP0 marker" % path
    assert frame == (8, LOGO_H, LOGO_W, 3), "%s: frame %r" % (path, frame)
    return len(data)


# --------------------------------------------------------------------------
# Main
# --------------------------------------------------------------------------

def main():
    check_grid("LIST_ICON", LIST_ICON, VGA16_KEYS, (16, 16))
    check_grid("FIND_ICON", FIND_ICON, VGA16_KEYS, (16, 16))
    check_grid("APP_ICON_32", APP_ICON_32, VGA16_KEYS, (32, 32))
    check_grid("APP_ICON_16", APP_ICON_16, VGA16_KEYS, (16, 16))
    app_mono = mono_from(APP_ICON_32)

    out = lambda name: os.path.join(HERE, name)

    icons = {
        "list.ico": [(LIST_ICON, VGA16_KEYS, VGA16, 4)],
        "find.ico": [(FIND_ICON, VGA16_KEYS, VGA16, 4)],
        "brisolta.ico": [(app_mono, MONO_KEYS, MONO, 1),
                         (APP_ICON_32, VGA16_KEYS, VGA16, 4),
                         (APP_ICON_16, VGA16_KEYS, VGA16, 4)],
    }
    for name, images in icons.items():
        write_ico(out(name), images)

    app32 = grid_rgba(APP_ICON_32, VGA16_KEYS, VGA16)
    pngs = {
        "list.png": grid_rgba(LIST_ICON, VGA16_KEYS, VGA16),
        "find.png": grid_rgba(FIND_ICON, VGA16_KEYS, VGA16),
        "brisolta-16.png": grid_rgba(APP_ICON_16, VGA16_KEYS, VGA16),
        "brisolta-32.png": app32,
        # 1.5x nearest-neighbour would double every other pixel row, so the
        # 48 px copy is box-filtered instead; 64 px is a clean 2x.
        "brisolta-48.png": scale_area(app32, 48, 48),
        "brisolta-64.png": scale_nearest(app32, 2),
    }
    for name, rows in pngs.items():
        write_png(out(name), rows)

    write_logo(out("logo.jpg"))

    # Read everything back.
    for name, images in icons.items():
        back = read_ico(out(name))
        assert len(back) == len(images), name
        for (grid, keys, palette, bpp), (rbpp, ncol, rows) in zip(images, back):
            assert rbpp == bpp and ncol == len(palette), name
            assert rows == grid_rgba(grid, keys, palette), \
                "%s: %dbpp image does not match its drawing" % (name, bpp)
    for name in ("list.ico", "find.ico"):
        size = os.path.getsize(out(name))
        assert size == 318, "%s is %d bytes, want 318" % (name, size)
    for name, rows in pngs.items():
        assert read_png(out(name)) == rows, "%s does not read back" % name
    jpeg_size = check_jpeg(out("logo.jpg"))

    for name in sorted(list(icons) + list(pngs) + ["logo.jpg"]):
        print("%-16s %5d bytes" % (name, os.path.getsize(out(name))))
    if not 800 <= jpeg_size <= 2500:
        print("warning: logo.jpg is %d bytes" % jpeg_size, file=sys.stderr)


if __name__ == "__main__":
    main()
