#!/usr/bin/env python3
"""Draws the dialog's 16x16 window icon and writes it as a GdkPixdata stream.

The stream is RGB, 8 bits per sample, run-length encoded the way gdk-pixbuf's own
encoder does it, and must come out at 278 bytes (24 header + 254 pixel bytes); the
picture below is drawn so that it does.

    python3 data/make_window_icon.py            # rewrites data/window-icon.pixdata
    python3 data/make_window_icon.py --ppm out.ppm   # also writes the picture as PPM

gdk-pixbuf's own tool gives the same bytes from that picture:
    convert out.ppm PNG24:out.png && gdk-pixbuf-pixdata --rle out.png check.pixdata
"""

import argparse
import pathlib
import struct
import sys

WIDTH = HEIGHT = 16
STREAM_LENGTH = 278
HEADER_LENGTH = 24
MAGIC = 0x47646B50  # "GdkP"
# colour type RGB | 8 bits per sample | run-length encoded
PIXDATA_TYPE = 0x01 | (0x01 << 16) | (0x02 << 24)

# A bright star of light rays on a night sky: a white core, long horizontal and
# vertical rays, short diagonal ones, all fading outwards, and a small far star
# (which also brings the encoded size to the required 254 bytes).
PALETTE = {
    ".": (14, 16, 40),     # night sky
    "+": (58, 52, 96),     # faint glow
    "r": (150, 86, 40),    # ray tip, amber
    "o": (236, 156, 52),   # ray, orange
    "y": (255, 226, 120),  # ray near the core, yellow
    "W": (255, 255, 255),  # core
}

PICTURE = [
    ".......r........",
    ".......r....+...",
    ".......o...+o+..",
    ".......o....+...",
    "....r.+y+.r.....",
    ".....o+y+o......",
    "....++yyy++.....",
    "rrooyyyWyyyoorr.",
    "....++yyy++.....",
    ".....o+y+o......",
    "....r.+y+.r.....",
    ".......o........",
    ".......o........",
    ".......r........",
    ".......r........",
    "................",
]


def pixels():
    assert len(PICTURE) == HEIGHT and all(len(row) == WIDTH for row in PICTURE)
    return [PALETTE[c] for row in PICTURE for c in row]


def rle_encode(pix):
    """gdk-pixbuf's encoder: a byte n < 128 starts n literal pixels, a byte 128 + n
    repeats the one following pixel n times (n <= 127)."""
    out = bytearray()
    i, n = 0, len(pix)
    last = n - 1

    def differs(k):
        return pix[k] != pix[k + 1]

    while i < n:
        if differs(i):
            start, length = i, 1
            i += 1
            while length < 127 and i < last and differs(i):
                i += 1
                length += 1
            if i == last and length < 127:
                i += 1
                length += 1
            out.append(length)
            for p in pix[start:start + length]:
                out.extend(p)
        else:
            length = 2
            i += 1
            while length < 127 and i < last and not differs(i):
                i += 1
                length += 1
            out.append(128 | length)
            out.extend(pix[i])
            i += 1
        if i == last:
            out.append(1)
            out.extend(pix[i])
            i += 1
    return bytes(out)


def rle_decode(data):
    out = []
    i = 0
    while i < len(data):
        length = data[i]
        i += 1
        if length & 128:
            out.extend([tuple(data[i:i + 3])] * (length & 127))
            i += 3
        else:
            out.extend(tuple(data[i + 3 * k:i + 3 * k + 3]) for k in range(length))
            i += 3 * length
    return out


def pixdata_stream():
    pix = pixels()
    body = rle_encode(pix)
    if rle_decode(body) != pix:
        sys.exit("run-length round trip failed")
    length = HEADER_LENGTH + len(body)
    if length != STREAM_LENGTH:
        sys.exit(f"stream is {length} bytes, not {STREAM_LENGTH}: redraw the picture")
    header = struct.pack(">IIIIII", MAGIC, length, PIXDATA_TYPE, WIDTH * 3, WIDTH, HEIGHT)
    return header + body


def main():
    here = pathlib.Path(__file__).resolve().parent
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", default=here / "window-icon.pixdata", type=pathlib.Path)
    parser.add_argument("--ppm", type=pathlib.Path, help="also write the picture as a PPM")
    args = parser.parse_args()
    args.out.write_bytes(pixdata_stream())
    if args.ppm:
        raw = bytes(v for p in pixels() for v in p)
        args.ppm.write_bytes(b"P6\n%d %d\n255\n" % (WIDTH, HEIGHT) + raw)


if __name__ == "__main__":
    main()
