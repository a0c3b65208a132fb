#!/usr/bin/python3
"""Runs one area of end-to-end cases in one real GIMP (2.10 or 3.0), throw-away profile; 0 when all passed (docs/testing.md)."""

import argparse
import ctypes
import fcntl
import os
import re
import shlex
import shutil
import subprocess
import sys
import time
import tomllib
from contextlib import nullcontext
from pathlib import Path

HERE = Path(__file__).resolve().parent
GIMPS = {
    "2": {"console": "gimp-console-2.10", "gui": "gimp-2.10", "dir": "GIMP2_DIRECTORY",
          "flags": ["-i", "-d", "-f", "-n", "--stack-trace-mode=never"], "end": ["-b", "(gimp-quit 1)"],
          "prelude": "prelude.scm", "done": "(orvex-done)"},
    # GIMP 3's batches are Python-Fu: Script-Fu 3.0 cannot read a registration or pixels beyond 8 bits.
    "3": {"console": "gimp-console-3.0", "gui": "gimp-3.0", "dir": "GIMP3_DIRECTORY",
          "flags": ["-i", "-n", "--quit", "--batch-interpreter=python-fu-eval"], "end": [],
          "prelude": "prelude.py", "done": "orvex_done()"},
}
# ImageMagick writes colour types by content; GIMP must open these as gray.
GRAY_PNG = {k: ["-colorspace", "Gray", "-define", f"png:color-type={t}", "-define", "png:bit-depth=8", "PNG:"]
            for k, t in (("GRAY:", 0), ("GRAYA:", 4))}
HOST_FAULTS = ("left image undo in inconsistent state", "crashed", "wire read", "Plug-in died")
# GLib's log lines name the program: "(orvex:123): LibGimp-CRITICAL **: ...". GIMP 3 may close a plug-in's pipe as
# soon as it has the answer; the failed last flush that the plug-in then reports (in the user's language) is GIMP's doing.
PLUGIN_WARNING = re.compile(r"\((orvex|orvex-test):\d+\): [\w-]+-(CRITICAL|WARNING)(?!.*gimp_flush\(\): error:)")


def environment(root: Path, gimp: dict) -> dict[str, str]:
    home = root / "home"
    dirs = dict(HOME=home, XDG_CONFIG_HOME=home / ".config", XDG_CACHE_HOME=home / ".cache",
                XDG_DATA_HOME=home / ".local/share", XDG_RUNTIME_DIR=home / ".runtime")
    for folder in dirs.values():
        folder.mkdir(parents=True, exist_ok=True)
    os.chmod(home / ".runtime", 0o700)
    return {**{k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")},
            **{k: str(v) for k, v in dirs.items()}, "LANG": "C.UTF-8", "LC_ALL": "C.UTF-8", gimp["dir"]: str(root / "profile")}


def profile_template(cache: Path, gimp: dict) -> Path:
    """GIMP's first run makes the whole profile: once per GIMP, shared by the areas."""
    template = cache / f"profile-{gimp['console']}"
    cache.mkdir(parents=True, exist_ok=True)
    with open(cache / "profile.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (template / "profile").is_dir():
            staging = cache / f"staging-{os.getpid()}"
            shutil.rmtree(staging, ignore_errors=True)
            run = subprocess.run(["timeout", "180", gimp["console"], *gimp["flags"], "-b", "1", *gimp["end"]],
                                 env=environment(staging, gimp), stdin=subprocess.DEVNULL, capture_output=True, text=True)
            if not (staging / "profile").is_dir():
                sys.exit(f"making a GIMP profile failed ({run.returncode}):\n{run.stdout}{run.stderr}")
            staging.rename(template)
    return template


def pin_babl_paths(cache: Path, pins: list[str]) -> None:
    """babl times the paths a format pair has when it first needs one and keeps the fastest, and they round
    differently: GIMP's bytes vary from run to run. Its cache then holds these: "from > to: step | step"."""
    os.environ["XDG_CACHE_HOME"] = str(cache)  # for the header this babl writes
    babl = ctypes.CDLL("libbabl-0.1.so.0")
    babl.babl_init(), babl.babl_exit()
    lines = [(cache / "babl/babl-fishes").read_text().splitlines()[0]]
    folder = next(Path("/usr/lib").glob("*/babl-0.1"))
    for pair, steps in (pin.split(": ", 1) for pin in pins):
        lines += [*pair.split(" > "), "\tpixels=1000 cost=1 error=0"]
        lines += [f"\t{'' if s.startswith('BablBase') else f'{folder}/'}{s}" for s in steps.split(" | ")]
        lines.append("----")
    (cache / "babl/babl-fishes").write_text("\n".join(lines) + "\n")


class Display:
    """A private Xvfb and the xdotool / ImageMagick steps that dialog cases take."""

    def __enter__(self):
        read, write = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                                        "-nolisten", "tcp", "-noreset"], pass_fds=(write,),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as numbers:
            self.name = ":" + numbers.readline().strip()
        self.window = None
        return self

    def __exit__(self, *exc):
        self.server.terminate()
        self.server.wait()

    def run(self, *argv: str, check: bool = True) -> str | None:  # the output; None for a failure not checked
        out = subprocess.run(argv, env=dict(os.environ, DISPLAY=self.name), capture_output=True, text=True, timeout=60)
        if out.returncode and check:
            raise RuntimeError(f"{' '.join(argv)}: {out.stderr.strip()}")
        return None if out.returncode else out.stdout

    def step(self, step: str, work: Path, deadline: float, alive) -> None:
        verb, _, arg = step.partition(" ")
        while verb in ("wait", "gone", "file"):
            if time.monotonic() > deadline or not alive():
                raise RuntimeError(f"step '{step}' never came true")
            if verb == "wait" and (found := self.run("xdotool", "search", "--onlyvisible", "--name", arg, check=False)):
                self.window = found.split()[0]
                return
            if (verb == "gone" and self.run("xdotool", "getwindowname", self.window, check=False) is None
                    or verb == "file" and (work / arg).exists()):
                return
            time.sleep(0.2)
        xdotool = {"key": ["key", "--clearmodifiers", *arg.split()], "type": ["type", "--delay", "20", arg],
                   "click": ["mousemove", "--window", self.window, *arg.split(), "click", "1"],
                   "hover": ["mousemove", "--window", self.window, *arg.split()]}
        if verb in xdotool:
            self.run("xdotool", "windowfocus", "--sync", self.window)
            self.run("xdotool", *xdotool[verb])
        elif verb == "resize":
            self.run("xdotool", "windowsize", self.window, *arg.split())
        elif verb == "size":  # size W H: the window has that size
            shell = dict(line.split("=", 1) for line in self.run("xdotool", "getwindowgeometry", "--shell",
                                                                self.window).split())
            if [shell["WIDTH"], shell["HEIGHT"]] != arg.split():
                raise RuntimeError(f"the window is {shell['WIDTH']} x {shell['HEIGHT']}, not {arg}")
        elif verb == "shot":  # the current window
            self.run("import", "-window", self.window, str(work / arg))
        elif verb == "ocr":  # ocr TEXT X Y W H: the text must be read in that part of the screen
            text, *box = arg.split()
            shot = work / f"ocr-{text}.png"
            self.run("import", "-window", "root", str(shot))
            self.run("convert", str(shot), "-crop", "{}x{}+{}+{}".format(*box[2:], *box[:2]), "+repage", "-resize", "300%",
                     "-negate", str(shot))
            read = subprocess.run(["tesseract", str(shot), "-"], capture_output=True, text=True).stdout
            if text not in read:
                raise RuntimeError(f"'{text}' not on the screen at {box}; read: {read.strip()!r}")
        elif verb == "touch":
            (work / arg).touch()
        elif verb == "sleep":
            time.sleep(float(arg))
        else:
            raise RuntimeError(f"unknown step '{step}'")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("area", type=Path)
    parser.add_argument("--gimp", choices=GIMPS, required=True)
    for flag in ("--plugin", "--renderer", "--work-root"):
        parser.add_argument(flag, type=Path, required=True)
    parser.add_argument("--helper", type=Path, help="a test plug-in beside orvex (GIMP 3: a program)")
    parser.add_argument("--catalogues", type=Path, default=Path("/nonexistent"))
    parser.add_argument("--installed", action="store_true", help="use the plug-in GIMP has installed, not --plugin")
    args = parser.parse_args()
    gimp, area, started = GIMPS[args.gimp], tomllib.loads(args.area.read_text()), time.monotonic()
    if "inputs_from" in area:  # the inputs and babl pins of another area
        shared = tomllib.loads((args.area.parent / area["inputs_from"]).read_text())
        area = {**{key: shared[key] for key in ("inputs", "babl") if key in shared}, **area}
    work = (args.work_root / f"gimp{args.gimp}-{args.area.stem}").resolve()
    shutil.rmtree(work, ignore_errors=True)
    (work / "results").mkdir(parents=True)

    subst = {"work": str(work), "catalogues": str(args.catalogues.resolve()), "plugin": str(args.plugin),
             "helpers": str(args.helper.resolve().parent) if args.helper else "",
             "helper": str(args.helper.resolve()) if args.helper else "",
             "cli": "\n".join(f"{name} {line}" for name, line in area.get("cli", {}).items())}
    def make(name: str, recipe: str) -> None:  # may start from an earlier ${input:name} or ${cli:name}
        filled = re.sub(r"\$\{((?:input|cli):[\w-]+)\}", lambda m: subst[m.group(1)], recipe)
        *words, kind = shlex.split(filled)
        kind, subst[f"input:{name}"] = GRAY_PNG.get(kind, [kind]), str(work / f"{name}.png")
        made = subprocess.run(["/usr/bin/convert", *words, "-strip", *kind[:-1], kind[-1] + subst[f"input:{name}"]],
                              capture_output=True, text=True)
        if made.returncode or made.stderr:
            sys.exit(f"making input {name} failed: {made.stderr}")
    for name, recipe in area.get("inputs", {}).items():
        make(name, recipe)
    failures: list[str] = []
    for name, line in area.get("cli", {}).items():
        words, subst[f"cli:{name}"] = shlex.split(line), str(work / f"cli-{name}.png")
        out = subprocess.run([str(args.renderer), *words[1:], subst[f"input:{words[0]}"], subst[f"cli:{name}"]],
                             capture_output=True, text=True)
        if out.returncode:
            failures.append(f"orvex-render {line}: {out.stderr.strip()}")
    for name, recipe in area.get("from-cli", {}).items():
        make(name, recipe)
    fill = lambda text, batch=0: re.sub(r"\$\{([\w:.-]+)\}", lambda m: {**subst, "batch": str(batch)}[m.group(1)], text)

    shutil.copytree(profile_template(args.work_root.resolve() / "cache", gimp) / "profile", work / "profile")
    for name, executable in (*((("orvex-test", args.helper),) if args.helper and args.gimp == "2" else ()),
                             *(() if args.installed else (("orvex", args.plugin),))):
        (work / "profile/plug-ins" / name).mkdir(parents=True, exist_ok=True)
        shutil.copy(executable, work / "profile/plug-ins" / name / name)
    if not args.installed:  # the help pages lie beside the plug-in, as installed
        shutil.copytree(args.plugin.parent / "help", work / "profile/plug-ins/orvex/help")
    if args.gimp == "3" and not args.installed and args.catalogues.is_dir():  # GIMP 3 reads them beside the plug-in
        shutil.copytree(args.catalogues, work / "profile/plug-ins/orvex/locale")
    env = environment(work, gimp)
    if "babl" in area:
        pin_babl_paths(work / "home/.cache", area["babl"])
    env.update({k: fill(v) for k, v in area.get("env", {}).items()})
    for name, text in area.get("files", {}).items():  # relative to the work folder, e.g. the profile's gimprc
        (work / name).parent.mkdir(parents=True, exist_ok=True)
        (work / name).write_text(fill(text))
    if "wrap" in area:
        env.update(GIMP_PLUGIN_DEBUG_WRAP="orvex,run", GIMP_PLUGIN_DEBUG_WRAPPER=fill(area["wrap"]))

    # A batch passes only if it reaches its end: unbalanced parentheses run nothing.
    prelude, batches, gui = (HERE / f"gimp{args.gimp}" / gimp["prelude"]).read_text(), area["batch"], area.get("gui")
    argv = ["timeout", "--kill-after=10", str(area.get("timeout", 300)), gimp["gui" if gui else "console"],
            *(["-s", *gimp["flags"][1:]] if gui else gimp["flags"])]  # the full GIMP: no splash (-s), not no interface (-i)
    for number, batch in enumerate(batches, 1):
        argv += ["-b", fill(f"{prelude}\n{batch.get('scheme') or batch['python']}\n{gimp['done']}", number)]
    argv += gimp["end"]
    with open(work / "gimp.log", "w") as out, Display() if area.get("display") or gui else nullcontext() as display:
        if display:
            env["DISPLAY"] = display.name
        gimp_run = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + area.get("timeout", 300)
        try:
            for step in area.get("interact", []):
                display.step(fill(step), work, deadline, lambda: gimp_run.poll() is None)
        except RuntimeError as error:
            failures.append(str(error))
            gimp_run.terminate()
        code = gimp_run.wait()
    output = (work / "gimp.log").read_text(errors="replace")

    if code:
        failures.append(f"GIMP exited with {code}" + (" (hung)" if code == 124 else ""))
    failures += [f"GIMP reported: {line.strip()}" for line in output.splitlines()
                 if any(f in line for f in HOST_FAULTS) or PLUGIN_WARNING.search(line)]
    failures += [f"GIMP's output lacks /{pattern}/" for pattern in area.get("output", []) if not re.search(pattern, output)]
    notes = {p.name: p.read_text().strip() for p in (work / "results").iterdir()}
    failures += [f"batch {number} did not run to its end" for number in range(1, len(batches) + 1)
                 if "DONE" not in (v for k, v in notes.items() if k.startswith(f"{number}-"))]
    failures += [v for v in notes.values() if v.startswith("FAIL")]
    passed = sum(v.startswith("PASS") for v in notes.values())

    name = f"gimp{args.gimp}/{args.area.stem}"
    if failures or not passed:
        print(f"FAILED {name} ({time.monotonic() - started:.0f} s), work folder kept: {work}", *(f"- {f}" for f in failures
              or ["no check passed"]), f"--- GIMP output ---\n{output}--- end ---", sep="\n")
        return 1
    print(f"passed {name}: {passed} checks ({time.monotonic() - started:.0f} s)")
    if not os.environ.get("ORVEX_E2E_KEEP"):
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
