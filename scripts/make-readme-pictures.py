#!/usr/bin/python3
"""Makes the README's pictures: the bundled sample photo rendered through plugin-orvex in a
headless GIMP with several settings, written to docs/images/. One GIMP run, with a throw-away
profile; the user's own profile is not touched.

    /usr/bin/python3 scripts/make-readme-pictures.py                 # builds build-release first
    /usr/bin/python3 scripts/make-readme-pictures.py --plugin build-release/src/gimp2/orvex
"""

from __future__ import annotations

import argparse
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from run_area import GIMPS, environment, profile_template  # noqa: E402

SAMPLE = ROOT / "data" / "sample-night.png"
IMAGES = ROOT / "docs" / "images"

# The sample has almost no fully saturated pixel, so thresholds above 254 would find no source
# in it: for those pictures GIMP's Levels first moves the white point to 191 (0.75), which burns
# out the moon and the cores of the street lamps, as an overexposed photo would.
BURN_OUT = "(gimp-drawable-levels drw HISTOGRAM-VALUE 0.0 0.75 FALSE 1.0 0.0 1.0 FALSE)"

# file name, preparation, settings other than the defaults (None: no render)
PICTURES = [
    ("sample-night-orvex.png", "", {}),
    ("line-type-1.png", "", {"line_type": 1}),
    ("line-type-3.png", "", {"line_type": 3}),
    ("line-type-4.png", "", {"line_type": 4}),
    ("spectrum-fringes.png", "",
     {"s_density": 50, "s_extent": 15, "s_amp": 30, "s_dephasing": 50}),
    ("sample-night-burnt-out.png", BURN_OUT, None),
    ("threshold-259.png", BURN_OUT, {"threshold": 259}),
    ("threshold-270.png", BURN_OUT, {"threshold": 270}),
]


def scheme_string(path: Path) -> str:
    return '"' + str(path).replace("\\", "\\\\").replace('"', '\\"') + '"'


SETTINGS = ("brightness threshold threshold_type angle line_type h0_density h0_extent "
            "h1_density h1_extent s_density s_extent s_amp s_dephasing").split()
DEFAULTS = dict(zip(SETTINGS, "50 250 0 0 2 100 7 0 7 25 25 50 20".split()))


def batch(output: Path, preparation: str, settings: dict | None) -> str:
    render = ""
    if settings is not None:
        values = {**DEFAULTS, **{name: str(value) for name, value in settings.items()}}
        render = f"(plugin-orvex RUN-NONINTERACTIVE img drw {' '.join(values[s] for s in SETTINGS)})"
    sample, target = scheme_string(SAMPLE), scheme_string(output)
    return (f"(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE {sample} {sample})))"
            f"       (drw (car (gimp-image-get-active-drawable img))))"
            f" {preparation} {render} (file-png-save RUN-NONINTERACTIVE img drw {target} {target} 0 9 0 0 0 0 0))")


def build_plugin() -> Path:
    build = ROOT / "build-release"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                    "-DORVEX_BUILD_TESTS=OFF", "-DORVEX_BUILD_BENCHMARKS=OFF"], check=True)
    subprocess.run(["cmake", "--build", str(build), "-j", "2", "--target", "orvex"], check=True)
    return build / "src" / "gimp2" / "orvex"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--plugin", type=Path, help="the built orvex plug-in (default: build it)")
    parser.add_argument("--output", type=Path, default=IMAGES, help="folder for the pictures")
    args = parser.parse_args()

    plugin = args.plugin.resolve() if args.plugin else build_plugin()
    args.output.mkdir(parents=True, exist_ok=True)
    commands = [batch(args.output.resolve() / name, preparation, settings)
                for name, preparation, settings in PICTURES]

    gimp = GIMPS["2"]
    scratch = Path(tempfile.mkdtemp(prefix="orvex-pictures-"))
    try:
        shutil.copytree(profile_template(scratch / "cache", gimp) / "profile", scratch / "profile")
        (scratch / "profile/plug-ins/orvex").mkdir(parents=True)
        shutil.copy(plugin, scratch / "profile/plug-ins/orvex/orvex")
        argv = ["timeout", "600", gimp["console"], *gimp["flags"]]
        for command in commands:
            argv += ["-b", command]
        run = subprocess.run(argv + gimp["end"], env=environment(scratch, gimp), stdin=subprocess.DEVNULL,
                             capture_output=True, text=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if (run.stdout + run.stderr).count("batch command executed successfully") != len(PICTURES):
        print(run.stdout + run.stderr, file=sys.stderr)
        print("make-readme-pictures: a render failed", file=sys.stderr)
        return 1
    for name, _, _ in PICTURES:
        print(f"made {args.output / name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
