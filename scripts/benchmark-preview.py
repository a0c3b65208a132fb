#!/usr/bin/python3
"""Times live-preview updates of the settings dialog in the real GIMP (under Xvfb).

Opens the dialog on a generated 12 MP photo, steps the Threshold slider a few times with
the keyboard (each step re-renders the preview), cancels, and prints the preview render
times that the plug-in reports with ORVEX_TRACE_TIMING set.

    /usr/bin/python3 scripts/benchmark-preview.py --plugin build-release/orvex
"""

from __future__ import annotations

import argparse
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness.gimp_run import GimpRun  # noqa: E402
from harness.profile import Profile, blank_profile_template  # noqa: E402
from harness.virtual_display import VirtualDisplay  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--plugin", type=Path, default=ROOT / "build-release" / "orvex")
    parser.add_argument("--size", default="4000x3000")
    parser.add_argument("--steps", type=int, default=8)
    parser.add_argument("--screen", default="1600x1400x24")
    parser.add_argument("--window", default="700x900", help="dialog size; the preview takes what is left")
    args = parser.parse_args()

    work = Path(tempfile.mkdtemp(prefix="orvex-preview-"))
    image = work / "photo.png"
    subprocess.run(["convert", "-size", args.size, "xc:black", "+noise", "Random", "-channel", "RGB",
                    "-fx", "u>0.99?1:u*0.7", f"PNG24:{image}"], check=True)
    profile = Profile(work / "profile", args.plugin.resolve(), [], blank_profile_template(work / "cache"))
    profile.env["ORVEX_TRACE_TIMING"] = "1"
    scheme = (f'(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE "{image}" "photo.png")))'
              f' (drw (car (gimp-image-get-active-drawable img))))'
              f' (plugin-orvex RUN-INTERACTIVE img drw 50 250 0 0 2 100 7 0 7 25 25 50 20))')
    with VirtualDisplay(args.screen) as display:
        gimp = GimpRun(profile).start_background([scheme], timeout=300, display=display.name)
        display.wait_window("^Orvex 1.0.0$", timeout=120, alive=gimp.running)
        width, height = args.window.split("x")
        display.resize(int(width), int(height))
        time.sleep(3)  # the first preview renders
        # Focus starts on the preview toggle; the fifth Tab reaches the Threshold spin button.
        display.key("Tab Tab Tab Tab Tab")
        for _ in range(args.steps):
            display.key("Down")
            time.sleep(1.0)
        display.key("Escape")
        outcome = gimp.wait()
    times = [(w, h, float(ms)) for w, h, ms in
             re.findall(r"preview render (\d+)x(\d+) took ([\d.]+) ms", outcome.output)]
    shutil.rmtree(work, ignore_errors=True)
    if not times:
        print("no preview renders were reported:\n" + outcome.output)
        return 1
    size = f"{times[-1][0]}x{times[-1][1]}"
    values = [ms for _, _, ms in times[1:]] or [times[0][2]]
    print(f"preview {size} of a {args.size} RGB image: {len(times)} renders, "
          f"median {statistics.median(values):.1f} ms, max {max(values):.1f} ms "
          f"(first render {times[0][2]:.1f} ms)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
