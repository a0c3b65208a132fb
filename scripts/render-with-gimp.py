#!/usr/bin/python3
"""Renders a PNG through plugin-orvex in a headless GIMP 2.10 (RUN-NONINTERACTIVE), with a
throw-away profile that holds only the given plug-in; the user's own profile is not touched.

    /usr/bin/python3 scripts/render-with-gimp.py --plugin build-release/src/gimp2/orvex in.png out.png \
        [--set line_type=4 --set angle=30 ...]
"""

from __future__ import annotations

import argparse
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))
from run_area import GIMPS, environment, profile_template  # noqa: E402

SETTINGS = ("brightness threshold threshold_type angle line_type h0_density h0_extent "
            "h1_density h1_extent s_density s_extent s_amp s_dephasing").split()
DEFAULTS = "50 250 0 0 2 100 7 0 7 25 25 50 20".split()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("input", type=Path)
    parser.add_argument("output", type=Path)
    parser.add_argument("--plugin", type=Path, required=True, help="the built orvex plug-in")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                        help=f"a setting other than its default; names: {', '.join(SETTINGS)}")
    args = parser.parse_args()
    values = dict(zip(SETTINGS, DEFAULTS))
    for item in args.set:
        name, _, value = item.partition("=")
        if name not in SETTINGS:
            parser.error(f"--set {item}: NAME must be one of {', '.join(SETTINGS)}")
        values[name] = str(float(value)) if "." in value else str(int(value))
    source, target = (str(p.resolve()).replace('"', '\\"') for p in (args.input, args.output))
    scheme = (f'(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE "{source}" "{source}")))'
              f'       (drw (car (gimp-image-get-active-drawable img))))'
              f'  (plugin-orvex RUN-NONINTERACTIVE img drw {" ".join(values[s] for s in SETTINGS)})'
              f'  (file-png-save RUN-NONINTERACTIVE img drw "{target}" "{target}" 0 9 0 0 0 0 0))')
    gimp = GIMPS["2"]
    scratch = Path(tempfile.mkdtemp(prefix="orvex-render-"))
    try:
        shutil.copytree(profile_template(scratch / "cache", gimp) / "profile", scratch / "profile")
        (scratch / "profile/plug-ins/orvex").mkdir(parents=True, exist_ok=True)
        shutil.copy(args.plugin, scratch / "profile/plug-ins/orvex/orvex")
        run = subprocess.run(["timeout", "600", gimp["console"], *gimp["flags"], "-b", scheme, *gimp["end"]],
                             env=environment(scratch, gimp), stdin=subprocess.DEVNULL, capture_output=True, text=True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if "batch command executed successfully" not in run.stdout + run.stderr:
        print(run.stdout + run.stderr, file=sys.stderr)
        print("render-with-gimp: the render failed", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
