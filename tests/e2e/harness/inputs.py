"""Test input images made with ImageMagick.

ImageMagick writes a palette PNG for an image with few colours, which GIMP opens as INDEXED,
so the PNG colour type is always forced here. -strip drops gAMA/cHRM, which GIMP could
otherwise act on."""

from __future__ import annotations

import subprocess
from pathlib import Path

# /usr/local/bin may hold a stand-in; the real ImageMagick lives here on Debian.
CONVERT = "/usr/bin/convert"

_FORMATS = {
    "PNG24": ["PNG24:"],
    "PNG32": ["PNG32:"],
    "GRAY": ["-colorspace", "Gray", "-define", "png:color-type=0", "-define", "png:bit-depth=8",
             "PNG:"],
    "GRAYA": ["-colorspace", "Gray", "-define", "png:color-type=4", "-define", "png:bit-depth=8",
              "PNG:"],
    "PNG8": ["PNG8:"],
}


def make_input(path: Path, magick_args: list[str], image_format: str = "PNG24") -> Path:
    if image_format not in _FORMATS:
        raise ValueError(f"unknown input format {image_format!r}; use one of {sorted(_FORMATS)}")
    *options, prefix = _FORMATS[image_format]
    argv = [CONVERT, *magick_args, "-strip", *options, f"{prefix}{path}"]
    result = subprocess.run(argv, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise RuntimeError(f"{' '.join(argv)} failed: {result.stderr.strip()}")
    return path
