#!/usr/bin/python3
"""Writes the seed corpus of the render fuzz target: settings records (defaults, edge
values, NaN and infinities) followed by small images of each channel count."""

import math
import random
import struct
import sys
from pathlib import Path

DEFAULTS = dict(brightness=50.0, threshold=250, threshold_type=0, angle=0.0, line_type=2,
                h0_density=100.0, h0_extent=7.0, h1_density=0.0, h1_extent=7.0, s_density=25.0,
                s_extent=25.0, s_amp=50.0, s_dephasing=20.0)


def record(**changes):
    s = {**DEFAULTS, **changes}
    return struct.pack("<diidii8d", s["brightness"], s["threshold"], s["threshold_type"], s["angle"],
                       s["line_type"], 0, s["h0_density"], s["h0_extent"], s["h1_density"],
                       s["h1_extent"], s["s_density"], s["s_extent"], s["s_amp"], s["s_dephasing"])


def image(rng, bpp, width, height, masked):
    header = bytes([bpp - 1, width, height, 1 if masked else 0])
    pixels = bytes(rng.choice([0, 12, 90, 200, 250, 255]) for _ in range(width * height * bpp))
    mask = bytes(rng.choice([0, 128, 255]) for _ in range(width * height)) if masked else b""
    return header + pixels + mask


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    rng = random.Random(7)
    settings = [record(), record(threshold=0, line_type=4, angle=300.0),
                record(threshold=511), record(threshold=-5, line_type=0, threshold_type=3),
                record(brightness=math.nan, angle=math.inf, s_amp=0.0, s_extent=-math.inf),
                record(threshold=128, threshold_type=2, s_dephasing=100.0, h1_density=80.0)]
    shapes = [(1, 9, 7, False), (2, 1, 12, True), (3, 16, 16, False), (4, 12, 1, True), (3, 0, 5, False)]
    for i, s in enumerate(settings):
        for j, shape in enumerate(shapes):
            (out / f"seed-{i}-{j}").write_bytes(s + image(rng, *shape))


if __name__ == "__main__":
    main()
