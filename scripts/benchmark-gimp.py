#!/usr/bin/python3
"""Times the real plug-in inside GIMP on generated 12 MP photos and compares it with
GIMP's own Sparkle filter on the same images.

Each case runs in one GIMP process: a load-and-save baseline, then load, filter, save.
The filter's time is the difference, measured by Script-Fu's own clock. The plug-in's
peak memory comes from GIMP's plug-in debug wrapper running it under /usr/bin/time.

    /usr/bin/python3 scripts/benchmark-gimp.py --plugin build-release/orvex
"""

from __future__ import annotations

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness.profile import Profile, blank_profile_template  # noqa: E402

# name, ImageMagick recipe, orvex settings (13 values)
CASES = [
    ("sparse: defaults, ~1% of each channel at 255",
     ["+noise", "Random", "-channel", "RGB", "-fx", "u>0.99?1:u*0.7"],
     "50 250 0 0 2 100 7 0 7 25 25 50 20"),
    ("dense: threshold 128, line type 4, ~50% sources",
     ["+noise", "Random"],
     "50 128 0 10 4 100 7 0 7 25 25 50 20"),
]

# GIMP's Sparkle at its defaults (random spike angle).
SPARKLE = "(plug-in-sparkle RUN-NONINTERACTIVE img drw 0.01 0.5 20 4 -1 1.0 0.0 0.0 0.0 FALSE FALSE FALSE 0)"

TIMED = """
(let* ((t0 (gettimeofday))
       (img (car (gimp-file-load RUN-NONINTERACTIVE "{src}" "in.png")))
       (drw (car (gimp-image-get-active-drawable img))))
  {filter}
  (file-png-save RUN-NONINTERACTIVE img drw "{out}" "out.png" 0 1 0 0 0 0 0)
  (gimp-image-delete img)
  (let* ((t1 (gettimeofday))
         (p (open-output-file "{stamp}")))
    (write (+ (- (car t1) (car t0)) (/ (- (cadr t1) (cadr t0)) 1000000.0)) p)
    (close-output-port p)))
"""


def make_image(path: Path, size: str, recipe: list[str]) -> None:
    if not path.exists():
        subprocess.run(["convert", "-size", size, "xc:black", *recipe, f"PNG24:{path}"], check=True)


def timed_run(profile: Profile, work: Path, src: Path, filter_call: str, tag: str) -> tuple[float, int | None]:
    stamp = work / f"{tag}.seconds"
    scheme = TIMED.format(src=src, out=work / f"{tag}.png", filter=filter_call, stamp=stamp)
    env = dict(profile.env)
    env["GIMP_PLUGIN_DEBUG_WRAP"] = "orvex,run"
    env["GIMP_PLUGIN_DEBUG_WRAPPER"] = "/usr/bin/time -f orvex-peak-kb=%M"
    result = subprocess.run(
        ["timeout", "600", "gimp-console-2.10", "-i", "-d", "-f", "-n", "-c", "--stack-trace-mode=never",
         "-b", scheme, "-b", "(gimp-quit 0)"],
        env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    output = result.stdout + result.stderr
    if "executed successfully" not in output:
        raise RuntimeError(f"GIMP run '{tag}' failed:\n{output}")
    peak = re.search(r"orvex-peak-kb=(\d+)", output)
    return float(stamp.read_text()), int(peak.group(1)) if peak else None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--plugin", type=Path, default=ROOT / "build-release" / "orvex")
    parser.add_argument("--size", default="4000x3000")
    parser.add_argument("--work", type=Path, default=None)
    parser.add_argument("--repeat", type=int, default=2, help="runs per measurement; the best is kept")
    args = parser.parse_args()

    work = args.work or Path(tempfile.mkdtemp(prefix="orvex-bench-"))
    work.mkdir(parents=True, exist_ok=True)
    template = blank_profile_template(work / "cache")
    shutil.rmtree(work / "profile", ignore_errors=True)
    profile = Profile(work / "profile", args.plugin.resolve(), [], template)

    print(f"GIMP plug-in benchmark, {args.size} RGB, {os.cpu_count()} cores; best of {args.repeat}")
    print(f"{'case':50} {'baseline':>9} {'orvex':>8} {'sparkle':>8} {'ratio':>6} {'orvex peak':>11}")
    for index, (name, recipe, settings) in enumerate(CASES):
        src = work / f"case{index}.png"
        make_image(src, args.size, recipe)
        best = {}
        peak_kb = None
        for _ in range(args.repeat):
            for tag, call in (("baseline", ""),
                              ("orvex", f"(plugin-orvex RUN-NONINTERACTIVE img drw {settings})"),
                              ("sparkle", SPARKLE)):
                seconds, peak = timed_run(profile, work, src, call, f"case{index}-{tag}")
                best[tag] = min(best.get(tag, seconds), seconds)
                if tag == "orvex" and peak:
                    peak_kb = max(peak_kb or 0, peak)
        orvex = best["orvex"] - best["baseline"]
        sparkle = best["sparkle"] - best["baseline"]
        ratio = orvex / sparkle if sparkle > 0 else float("nan")
        peak = f"{peak_kb / 1024:.0f} MB" if peak_kb else "n/a"
        print(f"{name:50} {best['baseline']:8.2f}s {orvex:7.2f}s {sparkle:7.2f}s {ratio:6.2f} {peak:>11}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
