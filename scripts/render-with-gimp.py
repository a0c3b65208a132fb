#!/usr/bin/python3
"""Renders a PNG through plugin-orvex in a headless GIMP (RUN-NONINTERACTIVE), with a
throw-away profile that holds only the given plug-in; the user's own profile is not touched.

    /usr/bin/python3 scripts/render-with-gimp.py --plugin build-release/orvex in.png out.png \
        [--set line_type=4 --set angle=30 ...]
"""

from __future__ import annotations

import argparse
import shutil
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests" / "e2e"))

from harness import GimpRun, Profile, blank_profile_template  # noqa: E402

SETTINGS = ("brightness threshold threshold_type angle line_type h0_density h0_extent "
            "h1_density h1_extent s_density s_extent s_amp s_dephasing").split()


def scheme_string(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("input", type=Path)
    parser.add_argument("output", type=Path)
    parser.add_argument("--plugin", type=Path, required=True, help="the built orvex plug-in")
    parser.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                        help=f"a setting other than its default; names: {', '.join(SETTINGS)}")
    parser.add_argument("--timeout", type=float, default=300)
    args = parser.parse_args()

    changes = []
    for item in args.set:
        name, _, value = item.partition("=")
        if name not in SETTINGS or not value:
            parser.error(f"--set {item}: expected NAME=VALUE with NAME one of {', '.join(SETTINGS)}")
        float(value)  # a number, or argparse-style failure below
        changes.append(f"({name} . {value})")

    source = scheme_string(str(args.input.resolve()))
    target = scheme_string(str(args.output.resolve()))
    scheme = (f"(let* ((img (orvex-load {source})) (drw (orvex-drawable img)))"
              f" (orvex-render img drw (orvex-settings '({' '.join(changes)})))"
              f" (orvex-save img drw {target}))")

    scratch = Path(tempfile.mkdtemp(prefix="orvex-render-"))
    try:
        template = blank_profile_template(scratch / "cache")
        profile = Profile(scratch / "profile", args.plugin.resolve(), [], template)
        outcome = GimpRun(profile).run_batch([scheme], args.timeout)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    if outcome.timed_out or len(outcome.results) != 1 or not outcome.results[0].ok:
        print(outcome.output, file=sys.stderr)
        print("render-with-gimp: the render failed" + (" (timed out)" if outcome.timed_out else ""),
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
