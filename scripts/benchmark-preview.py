#!/usr/bin/python3
"""Times live-preview updates of the settings dialog in the real GIMP 2.10 (under Xvfb).

Opens the dialog on a generated 12 MP night photo (1% of each channel at full, the rest below
0.7), makes the window large enough for a preview of about 512 x 512, steps the Threshold and
then the Brightness spin button with the keyboard (each step renders the preview again), and
prints the median and worst update per kind of change, from the times the plug-in reports with
ORVEX_TRACE_TIMING set: once with the whole layer fitted into the preview, once at 1:1 (the zoom
the dialog remembers, set beforehand). Fitted, an update that waits for the exact picture prints
how long until it was drawn as well.

    /usr/bin/python3 scripts/benchmark-preview.py --plugin build-release/src/gimp2/orvex

With --drag SECONDS it measures memory instead: on a 12 MP photo of uniform noise, Threshold is
set to 128 (half the pixels are sources: every preview needs the whole layer's FFTs in the
background), then stepped down four times a second for that long, as a drag of its slider does
(GIMP's preview waits 200 ms for the changes to settle). It prints the plug-in process's peak
resident set before the drag and over the drag and the closing right after it (Escape), and how
long closing took.
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
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
from run_area import GIMPS, Display, environment, profile_template  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--plugin", type=Path, required=True)
    parser.add_argument("--size", default="4000x3000")
    parser.add_argument("--steps", type=int, default=10)
    parser.add_argument("--zoom", nargs="+", default=["fit", "1:1"], help="the zooms to time: fit, 1:1, 1:2...")
    parser.add_argument("--drag", type=float, default=0, help="seconds of Threshold changes; memory, not time")
    args = parser.parse_args()
    if args.drag:
        return drag(args)
    return max(measure(args, zoom) for zoom in args.zoom)


def measure(args, zoom: str) -> int:
    work = Path(tempfile.mkdtemp(prefix="orvex-preview-"))
    image = work / "photo.png"
    subprocess.run(["convert", "-size", args.size, "xc:black", "+noise", "Random", "-channel", "RGB",
                    "-fx", "u>0.99?1:u*0.7", f"PNG24:{image}"], check=True)
    gimp = GIMPS["2"]
    shutil.copytree(profile_template(work / "cache", gimp) / "profile", work / "profile")
    install(args.plugin, work, zoom)
    env = dict(environment(work, gimp), ORVEX_TRACE_TIMING="1")
    scheme = (f'(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE "{image}" "photo.png")))'
              f' (drw (car (gimp-image-get-active-drawable img))))'
              f' (plugin-orvex RUN-INTERACTIVE img drw 50 250 0 0 2 100 7 0 7 25 25 50 20))')
    log = work / "gimp.log"
    with Display() as display, open(log, "w") as out:
        env["DISPLAY"] = display.name
        run = subprocess.Popen(["timeout", "600", gimp["console"], *gimp["flags"], "-b", scheme, *gimp["end"]],
                               env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 300
        pause = "sleep 1.2" if zoom != "fit" else "sleep 6"
        steps = ["wait ^Orvex 1.0.0$", "sleep 8", "click 501 669", "sleep 3"]
        steps += ["key Down", pause] * args.steps + ["key shift+Tab shift+Tab", "sleep 1"]
        steps += ["key Down", pause] * args.steps + ["key Escape"]
        for step in steps:
            display.step(step, work, deadline, lambda: run.poll() is None)
        run.wait()
    text = log.read_text()
    renders = re.findall(r"preview render (\d+)x(\d+)\S* \(threshold (\d+), brightness ([\d.]+)\) took ([\d.]+) ms",
                         text)
    exact = [float(ms) for ms in re.findall(r"exact preview drawn ([\d.]+) ms after the change", text)]
    shutil.rmtree(work, ignore_errors=True)
    times: dict[str, list[float]] = {"Threshold": [], "Brightness": []}
    for before, after in zip(renders, renders[1:]):
        if before[:2] == after[:2]:
            kind = "Threshold" if before[2] != after[2] else "Brightness" if before[3] != after[3] else None
            if kind:
                times[kind].append(float(after[4]))
    size = f"{renders[-1][0]}x{renders[-1][1]}" if renders else "?"
    print(f"zoom {zoom}: preview {size} of a {args.size} RGB photo, {len(renders)} renders")
    for kind, values in times.items():
        if not values:
            print(f"{kind}: no update measured")
            return 1
        print(f"{kind} change: {len(values)} updates, median {statistics.median(values):.1f} ms, "
              f"worst {max(values):.1f} ms")
    if exact:
        print(f"exact picture after a change: {len(exact)} times, median {statistics.median(exact):.0f} ms, "
              f"worst {max(exact):.0f} ms")
    return 0


def install(plugin: Path, work: Path, zoom: str) -> Path:
    """The plug-in in the profile, and the dialog's remembered size and zoom (a preview of about 512 x 512)."""
    binary = work / "profile/plug-ins/orvex/orvex"
    binary.parent.mkdir(parents=True)
    shutil.copy(plugin, binary)
    memory = f"size 566 900 zoom {zoom}"
    (work / "profile/parasiterc").write_text(f'(parasite "plugin-orvex-dialog" 1 {len(memory)} "{memory}")\n')
    return binary


def kib(pid: int, field: str) -> int:
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    raise RuntimeError(f"no {field} for {pid}")


def plugin_process(binary: Path) -> int | None:
    for entry in Path("/proc").iterdir():
        try:
            if entry.name.isdigit() and Path(os.readlink(entry / "exe")) == binary:
                return int(entry.name)
        except OSError:
            pass
    return None


def drag(args) -> int:
    work = Path(tempfile.mkdtemp(prefix="orvex-drag-"))
    image = work / "noise.png"
    subprocess.run(["convert", "-size", args.size, "xc:black", "+noise", "Random", f"PNG24:{image}"], check=True)
    gimp = GIMPS["2"]
    shutil.copytree(profile_template(work / "cache", gimp) / "profile", work / "profile")
    binary = install(args.plugin, work, "1:1")
    env = dict(environment(work, gimp), ORVEX_TRACE_TIMING="1")
    scheme = (f'(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE "{image}" "noise.png")))'
              f' (drw (car (gimp-image-get-active-drawable img))))'
              f' (plugin-orvex RUN-INTERACTIVE img drw 50 250 0 0 2 100 7 0 7 25 25 50 20))')
    log = work / "gimp.log"
    with Display() as display, open(log, "w") as out:
        env["DISPLAY"] = display.name
        run = subprocess.Popen(["timeout", "900", gimp["console"], *gimp["flags"], "-b", scheme, *gimp["end"]],
                               env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 600
        alive = lambda: run.poll() is None  # noqa: E731
        # Threshold 128 typed into its spin button, which keeps the focus for the steps.
        for step in ["wait ^Orvex 1.0.0$", "sleep 3", "click 501 669", "key ctrl+a", "type 128", "key Tab",
                     "key shift+Tab", "sleep 15"]:
            display.step(step, work, deadline, alive)
        pid = plugin_process(binary)
        if pid is None:
            print("the plug-in's process was not found")
            return 1
        settled = kib(pid, "VmHWM")
        peak, highest = settled, 0
        end = time.monotonic() + args.drag
        next_key = time.monotonic()
        while time.monotonic() < end:
            if time.monotonic() >= next_key:
                display.step("key Down", work, deadline, alive)
                next_key += 0.25
            peak, highest = kib(pid, "VmHWM"), max(highest, kib(pid, "VmRSS"))
            time.sleep(0.02)
        # Closed at once, as a user who has seen enough does: the peak counts until the process ends.
        closing = time.monotonic()
        display.step("key Escape", work, deadline, alive)
        while time.monotonic() < deadline:
            try:
                peak, highest = kib(pid, "VmHWM"), max(highest, kib(pid, "VmRSS"))
            except (OSError, RuntimeError):
                break
            time.sleep(0.01)
        closed = time.monotonic() - closing
        run.wait()
    renders = re.findall(r"preview render \d+x\d+\S* \(threshold (\d+), .*took ([\d.]+) ms", log.read_text())
    shutil.rmtree(work, ignore_errors=True)
    dragged = [(int(t), float(ms)) for t, ms in renders if int(t) < 128]
    if not dragged:
        print("no preview update during the drag")
        return 1
    print(f"{args.size} RGB noise, threshold 128, then {len(dragged)} preview updates during a {args.drag:g} s "
          f"drag (threshold {dragged[0][0]} down to {dragged[-1][0]}; main thread median "
          f"{statistics.median(ms for _, ms in dragged):.0f} ms per update)")
    print(f"peak RSS of the plug-in: {settled / 1024:.0f} MB before the drag, {peak / 1024:.0f} MB over the drag "
          f"and the closing (highest sample {highest / 1024:.0f} MB); closing took {closed:.2f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
