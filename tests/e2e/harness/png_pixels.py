"""Decodes PNG files to plain pixel bytes, so that images from GIMP, ImageMagick and the
command-line renderer compare by content, whatever chunks or compression each writer chose."""

from __future__ import annotations

import struct
import zlib
from dataclasses import dataclass

_SIGNATURE = b"\x89PNG\r\n\x1a\n"
_CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
_MODE_NAMES = {1: "gray", 2: "gray+alpha", 3: "RGB", 4: "RGBA"}


@dataclass(frozen=True)
class Pixels:
    width: int
    height: int
    channels: int  # 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA; palette images are expanded
    data: bytes  # interleaved, row-major
    palette: bool = False  # the file was a palette (indexed) PNG

    @property
    def mode(self) -> str:
        return _MODE_NAMES[self.channels]

    def pixel(self, x: int, y: int) -> tuple[int, ...]:
        start = (y * self.width + x) * self.channels
        return tuple(self.data[start:start + self.channels])

    def describe(self) -> str:
        return f"{self.width}x{self.height} {self.mode}{' (palette)' if self.palette else ''}"


def _paeth(a: int, b: int, c: int) -> int:
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def _unfilter(raw: bytes, height: int, row_bytes: int, step: int) -> bytearray:
    out = bytearray(height * row_bytes)
    prev = bytearray(row_bytes)
    pos = 0
    for y in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + row_bytes])
        pos += 1 + row_bytes
        if kind == 1:
            for i in range(step, row_bytes):
                line[i] = (line[i] + line[i - step]) & 0xFF
        elif kind == 2:
            for i in range(row_bytes):
                line[i] = (line[i] + prev[i]) & 0xFF
        elif kind == 3:
            for i in range(row_bytes):
                left = line[i - step] if i >= step else 0
                line[i] = (line[i] + ((left + prev[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(row_bytes):
                left = line[i - step] if i >= step else 0
                upper_left = prev[i - step] if i >= step else 0
                line[i] = (line[i] + _paeth(left, prev[i], upper_left)) & 0xFF
        elif kind != 0:
            raise ValueError(f"unknown PNG filter {kind} in row {y}")
        out[y * row_bytes:(y + 1) * row_bytes] = line
        prev = line
    return out


def read_png(path: str) -> Pixels:
    with open(path, "rb") as handle:
        blob = handle.read()
    if not blob.startswith(_SIGNATURE):
        raise ValueError(f"{path}: not a PNG file")
    pos = len(_SIGNATURE)
    header = None
    palette = b""
    transparency = b""
    compressed = bytearray()
    while pos < len(blob):
        (length, kind) = struct.unpack(">I4s", blob[pos:pos + 8])
        body = blob[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = body
        elif kind == b"tRNS":
            transparency = body
        elif kind == b"IDAT":
            compressed += body
        elif kind == b"IEND":
            break
    if header is None:
        raise ValueError(f"{path}: no IHDR chunk")
    width, height, depth, colour_type, _, _, interlace = header
    if interlace:
        raise ValueError(f"{path}: interlaced PNGs are not supported here")
    if depth == 16:
        raise ValueError(f"{path}: 16-bit PNGs are not supported here")
    channels = _CHANNELS[colour_type]
    bits_per_pixel = channels * depth
    row_bytes = (width * bits_per_pixel + 7) // 8
    rows = _unfilter(zlib.decompress(bytes(compressed)), height, row_bytes, max(1, bits_per_pixel // 8))

    if depth < 8:
        samples = bytearray()
        per_byte = 8 // depth
        mask = (1 << depth) - 1
        for y in range(height):
            line = rows[y * row_bytes:(y + 1) * row_bytes]
            for x in range(width):
                byte = line[x // per_byte]
                shift = 8 - depth * (x % per_byte + 1)
                samples.append((byte >> shift) & mask)
        if colour_type == 0:  # scale gray to 0..255 as libpng does
            samples = bytearray(s * 255 // mask for s in samples)
        rows = samples

    if colour_type != 3:
        return Pixels(width, height, channels, bytes(rows))

    has_alpha = bool(transparency)
    expanded = bytearray()
    for index in rows:
        expanded += palette[index * 3:index * 3 + 3]
        if has_alpha:
            expanded.append(transparency[index] if index < len(transparency) else 255)
    return Pixels(width, height, 4 if has_alpha else 3, bytes(expanded), palette=True)
