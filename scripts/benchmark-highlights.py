#!/usr/bin/python3
"""Times the highlight extraction above threshold 254 on a generated 12 MP photo with blown-out lights in
GIMP 2.10: GIMP's own selection steps, as the plug-in took them until the engine did (a scratch image of the
layer, per pass select, shrink, feather, invert, fill), against the engine as the plug-in now runs it. One
GIMP process; the engine runs in the test helper plug-in (tests/e2e/gimp2/test_helper.cpp), which also counts
the samples where its result differs from GIMP's. Seconds on Script-Fu's clock; "engine" is the extraction
alone, "helper call" adds the plug-in's start and the pixels' way between GIMP and it.

    /usr/bin/python3 scripts/benchmark-highlights.py --build build-release
"""

from __future__ import annotations

import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from run_area import GIMPS, environment, profile_template  # noqa: E402

LIGHTS = [(700, 600, 220), (2400, 900, 400), (3300, 2200, 160), (1500, 2300, 90), (3700, 300, 60)]

BATCH = """
{steps}
(define (now) (let ((t (gettimeofday))) (+ (car t) (/ (cadr t) 1000000.0))))
(define port (open-output-file "{out}"))
(define drw (car (gimp-image-get-active-drawable (car (gimp-file-load RUN-NONINTERACTIVE "{src}" "in.png")))))
(for-each (lambda (case)
  (let* ((t0 (now)) (steps (gimp-steps drw (car case) (cadr case))) (t1 (now))
         (r (orvex-test-extract RUN-NONINTERACTIVE drw (car case) (cadr case) steps)) (t2 (now)))
    (write (list (car case) (cadr case) (- t1 t0) (/ (caddr r) 1000) (- t2 t1) (car r)) port)
    (gimp-image-delete (car (gimp-item-get-image steps)))))
  '((255 0) (255 1) (511 0) (511 1)))
(close-output-port port)
"""


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, default=ROOT / "build-release", help="a Release build with tests")
    args = parser.parse_args()
    work = Path(tempfile.mkdtemp(prefix="orvex-highlights-"))
    gimp = GIMPS["2"]
    shutil.copytree(profile_template(work / "cache", gimp) / "profile", work / "profile")
    (work / "profile/plug-ins/orvex-test").mkdir(parents=True)
    shutil.copy(args.build / "tests/e2e/orvex-test", work / "profile/plug-ins/orvex-test/orvex-test")

    src = work / "photo.png"
    lights = [f"-draw 'circle {x},{y} {x},{y - r}'" for x, y, r in LIGHTS]
    subprocess.run(["bash", "-c", f"convert -seed 7 -size 4000x3000 plasma:#203040-#806040 -blur 0x2 "
                    f"\\( -size 4000x3000 xc:black -fill white {' '.join(lights)} -blur 0x60 \\) "
                    f"-compose plus -composite -level 0,75% PNG24:{src}"], check=True)
    # The reference steps are the comparison area's own.
    scheme = (ROOT / "tests/e2e/gimp2/extraction.toml").read_text().split("scheme = '''")[1]
    steps = scheme[:scheme.index("; (samples that differ")]
    batch = BATCH.format(steps=steps, src=src, out=work / "times.txt")
    run = subprocess.run(["timeout", "3600", gimp["console"], *gimp["flags"], "-b", batch, *gimp["end"]],
                         env=environment(work, gimp), stdin=subprocess.DEVNULL, capture_output=True, text=True)
    times = (work / "times.txt").read_text() if (work / "times.txt").exists() else ""
    if not times:
        sys.exit(f"GIMP failed ({run.returncode}):\n{run.stdout}{run.stderr}")
    print(f"4000x3000 RGB 8-bit photo, {os.cpu_count()} cores; seconds")
    print(f"{'threshold':>9} {'type':>4} {'GIMP steps':>10} {'engine':>7} {'helper call':>11} {'faster':>7} "
          f"{'differing samples':>17}")
    for row in times.replace(")(", ")\n(").splitlines():
        threshold, kind, gimp_steps, engine, call, differing = row.strip("()").split()
        print(f"{threshold:>9} {kind:>4} {float(gimp_steps):10.2f} {float(engine):7.2f} {float(call):11.2f} "
              f"{float(gimp_steps) / float(engine):6.1f}x {differing:>17}")
    shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
