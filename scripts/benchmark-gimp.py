#!/usr/bin/python3
"""Times the whole plug-in call inside GIMP 2.10 against the floor: a reference plug-in that only
reads the layer and writes it back the same way (bench/gimp2_copy_reference.cpp), in the same
GIMP run, on the same generated 12 MP photo, for 8-bit, 16-bit and float layers.

For each case one GIMP process loads the image again and again and times, with Script-Fu's
clock, a load + copy and a load + Orvex (and GIMP's Sparkle on 8-bit), --repeat rounds. Each
call counts over the load just before it (read off the same clock between the two); the table
gives the median over the rounds. ratio = (Orvex - load) / (copy - load). Peak memory is the
plug-in process's maximum resident set, from GIMP's debug wrapper running it under /usr/bin/time.

    /usr/bin/python3 scripts/benchmark-gimp.py --build build-release
"""

from __future__ import annotations

import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from run_area import GIMPS, environment, profile_template  # noqa: E402

CASES = [  # name, ImageMagick recipe, orvex settings
    ("sparse: defaults, ~1% of each channel at full", ["+noise", "Random", "-channel", "RGB", "-fx", "u>0.99?1:u*0.7"],
     "50 250 0 0 2 100 7 0 7 25 25 50 20"),
    ("dense: threshold 128, line type 4, ~50% sources", ["+noise", "Random"], "50 128 0 10 4 100 7 0 7 25 25 50 20"),
]
PRECISIONS = {"8-bit": "PRECISION-U8-GAMMA", "16-bit": "PRECISION-U16-GAMMA", "float": "PRECISION-FLOAT-GAMMA"}
SPARKLE = "(plug-in-sparkle RUN-NONINTERACTIVE img drw 0.01 0.5 20 4 -1 1.0 0.0 0.0 0.0 FALSE FALSE FALSE 0)"

BATCH = """
(define (now) (let ((t (gettimeofday))) (+ (car t) (/ (cadr t) 1000000.0))))
(define port (open-output-file "{out}"))
; Writes (tag load call): the load with its conversion, and the call over it, in seconds.
(define (timed tag call)
  (let* ((t0 (now)) (img (car (gimp-file-load RUN-NONINTERACTIVE "{src}" "in.png")))
         (drw (car (gimp-image-get-active-drawable img))))
    (unless (= (car (gimp-image-get-precision img)) {precision}) (gimp-image-convert-precision img {precision}))
    (let ((t1 (now)))
      (call img drw)
      (write (list tag (- t1 t0) (- (now) t1)) port))
    (gimp-image-delete img)))
(let loop ((i 0))
  (when (< i {repeat})
    (timed 'copy (lambda (img drw) (orvex-copy-reference RUN-NONINTERACTIVE img drw)))
    (timed 'orvex (lambda (img drw) (plugin-orvex RUN-NONINTERACTIVE img drw {settings})))
    {sparkle}
    (loop (+ i 1))))
(close-output-port port)
"""


def gimp_run(work: Path, batch: str, wrapped: str) -> tuple[dict[str, list[tuple[float, float]]], float]:
    """Runs one batch; returns each tag's (load, call) times in order and the wrapped plug-in's peak memory (MB)."""
    gimp = GIMPS["2"]
    env = environment(work, gimp)
    env.update(GIMP_PLUGIN_DEBUG_WRAP=f"{wrapped},run", GIMP_PLUGIN_DEBUG_WRAPPER="/usr/bin/time -f peak-kb=%M")
    run = subprocess.run(["timeout", "1800", gimp["console"], *gimp["flags"], "-b", batch, *gimp["end"]],
                         env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    output = run.stdout + run.stderr
    if "executed successfully" not in output:
        raise RuntimeError(f"GIMP failed:\n{output}")
    times: dict[str, list[tuple[float, float]]] = {}
    for tag, load, call in re.findall(r"\((\w+) ([\d.]+) ([\d.]+)\)", (work / "times.txt").read_text()):
        times.setdefault(tag, []).append((float(load), float(call)))
    return times, max((int(kb) for kb in re.findall(r"peak-kb=(\d+)", output)), default=0) / 1024


def over_load(times: dict[str, list[tuple[float, float]]], tag: str) -> float:
    """The median over the rounds of a call's time over the load just before it. Subtracting a load timed
    in another round instead adds that load's spread (a tenth of a second and more) to every call."""
    return statistics.median(call for _, call in times[tag])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, default=ROOT / "build-release", help="a Release build with tests")
    parser.add_argument("--size", default="4000x3000")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--only", default="", help="run the cases whose name contains this text")
    args = parser.parse_args()

    work = Path(tempfile.mkdtemp(prefix="orvex-bench-"))
    gimp = GIMPS["2"]
    shutil.copytree(profile_template(work / "cache", gimp) / "profile", work / "profile")
    for name, built in (("orvex", "src/gimp2/orvex"), ("orvex-copy-reference", "bench/orvex-copy-reference")):
        (work / "profile/plug-ins" / name).mkdir(parents=True)
        shutil.copy(args.build / built, work / "profile/plug-ins" / name / name)

    print(f"{args.size} RGB, {os.cpu_count()} cores, median of {args.repeat} rounds; seconds over loading the image")
    print(f"{'case':50} {'layer':7} {'load':>6} {'copy':>6} {'orvex':>6} {'ratio':>6} {'peak':>8} {'copy peak':>9} "
          f"{'sparkle':>7}")
    for index, (name, recipe, settings) in enumerate(CASES):
        if args.only not in name:
            continue
        src = work / f"case{index}.png"
        subprocess.run(["convert", "-size", args.size, "xc:black", *recipe, "-depth", "16", f"PNG48:{src}"], check=True)
        for precision, constant in PRECISIONS.items():
            batch = BATCH.format(src=src, precision=constant, out=work / "times.txt", repeat=args.repeat,
                                 settings=settings,
                                 sparkle=f"(timed 'sparkle (lambda (img drw) {SPARKLE}))"
                                 if precision == "8-bit" else "")
            # The copy's own run first: GIMP leaves babl's cache of conversions behind, as a user's GIMP
            # always has, before the timed run.
            _, copy_peak = gimp_run(work, BATCH.format(src=src, precision=constant, out=work / "times.txt", repeat=1,
                                                       settings=settings, sparkle=""), "orvex-copy-reference")
            times, peak = gimp_run(work, batch, "orvex")
            copy, orvex = over_load(times, "copy"), over_load(times, "orvex")
            sparkle = f"{over_load(times, 'sparkle'):6.2f}s" if "sparkle" in times else ""
            load = statistics.median(load for tag in times.values() for load, _ in tag)
            print(f"{name:50} {precision:7} {load:5.2f}s {copy:5.2f}s {orvex:5.2f}s {orvex / copy:6.2f} "
                  f"{peak:5.0f} MB {copy_peak:6.0f} MB {sparkle:>7}", flush=True)
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
