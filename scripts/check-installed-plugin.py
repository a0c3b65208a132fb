#!/usr/bin/python3
"""Checks a plug-in installed for all users (by the Debian package, or `cmake --install` with
ORVEX_SYSTEM_INSTALL): GIMP must find plugin-orvex in its own plug-ins folder, since the
throw-away profile used here holds no copy of it.

1. A render of the sample photo through plugin-orvex in gimp-console gives the same pixels as
   the command-line renderer, and the profile's plug-in registry names the system location.
2. Under LANGUAGE=de in the full GIMP (only it passes progress on), the progress texts come
   translated from the catalogue installed in GIMP's locale directory.

    /usr/bin/python3 scripts/check-installed-plugin.py --renderer build-package/orvex-render \
        --progress-helper build-package/tests/e2e/orvex-test-progress-texts \
        --plugin /usr/lib/gimp/2.0/plug-ins/orvex/orvex --locale-dir /usr/share/locale
"""

from __future__ import annotations

import argparse
import gettext
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from harness import GimpRun, VirtualDisplay, read_png  # noqa: E402
from harness.profile import profile_environment  # noqa: E402

SAMPLE = ROOT / "data" / "sample-night.png"
TEXT_DOMAIN = "gimp20-orvex"
PROGRESS_TEXTS = ("Rendering ...", "Drawing Orvex Lines ...")


class BareProfile:
    """A fresh GIMP profile with no copy of orvex: GIMP creates it on its first start."""

    def __init__(self, root: Path, helper_plugins: list[Path]):
        self.root = root
        self.gimp_dir = root / "gimp2"
        self.env = profile_environment(root)
        # Nothing may redirect GIMP from its own folders.
        for name in ("GIMP2_LOCALEDIR", "GIMP2_PLUGINDIR", "LANGUAGE"):
            self.env.pop(name, None)
        for helper in helper_plugins:
            target = self.gimp_dir / "plug-ins" / helper.name / helper.name
            target.parent.mkdir(parents=True, exist_ok=True)
            shutil.copyfile(helper, target)
            os.chmod(target, 0o755)


def scheme_string(path: Path) -> str:
    return '"' + str(path).replace("\\", "\\\\").replace('"', '\\"') + '"'


def registry_name(plugin: Path) -> str:
    """How GIMP's plug-in registry (pluginrc) writes a path in its own plug-ins folder."""
    libdir = subprocess.run(["pkg-config", "--variable=gimplibdir", "gimp-2.0"],
                            capture_output=True, text=True).stdout.strip()
    if libdir and str(plugin).startswith(libdir + "/"):
        return "${gimp_plug_in_dir}" + str(plugin)[len(libdir):]
    return str(plugin)


def check_outcome(outcome, what: str, commands: int = 1) -> list[str]:
    if outcome.timed_out:
        return [f"{what}: GIMP hung (timeout)"]
    problems = [f"{what}: {fault.strip()}" for fault in outcome.host_faults()]
    if len(outcome.results) != commands or not all(result.ok for result in outcome.results):
        problems.append(f"{what}: the batch command failed; GIMP said:\n{outcome.output}")
    return problems


def check_render(work: Path, renderer: Path, plugin: Path) -> list[str]:
    profile = BareProfile(work / "render", [])
    gimp_png, cli_png = work / "gimp.png", work / "cli.png"
    scheme = (f"(let* ((img (orvex-load {scheme_string(SAMPLE)})) (drw (orvex-drawable img)))"
              f" (orvex-render img drw (orvex-defaults))"
              f" (orvex-save img drw {scheme_string(gimp_png)}))")
    problems = check_outcome(GimpRun(profile).run_batch([scheme], 300), "render")
    if problems:
        return problems

    own_copy = profile.gimp_dir / "plug-ins" / "orvex"
    if own_copy.exists():
        problems.append(f"the profile holds a plug-in of its own: {own_copy}")
    registered = [line.split('"')[1] for line in
                  (profile.gimp_dir / "pluginrc").read_text(errors="replace").splitlines()
                  if line.startswith("(plug-in-def ") and line.split('"')[1].endswith("/orvex")]
    if registered != [registry_name(plugin)]:
        problems.append(f"GIMP registered {registered}, expected only {plugin}")

    rendered = subprocess.run([str(renderer), str(SAMPLE), str(cli_png)], capture_output=True,
                              text=True, timeout=300)
    if rendered.returncode != 0:
        return problems + [f"orvex-render failed: {rendered.stderr.strip()}"]
    gimp, cli = read_png(str(gimp_png)), read_png(str(cli_png))
    source = read_png(str(SAMPLE))
    if gimp.data == source.data:
        problems.append("the render through GIMP left the sample unchanged")
    if (gimp.width, gimp.height, gimp.channels, gimp.data) != (cli.width, cli.height,
                                                               cli.channels, cli.data):
        problems.append(f"GIMP's render ({gimp.describe()}) differs from orvex-render's "
                        f"({cli.describe()})")
    return problems


def check_german(work: Path, helper: Path, locale_dir: Path) -> list[str]:
    catalogue = gettext.translation(TEXT_DOMAIN, str(locale_dir), languages=["de"], fallback=True)
    expected = [catalogue.gettext(text) for text in PROGRESS_TEXTS]
    if expected == list(PROGRESS_TEXTS):
        return [f"no German catalogue of {TEXT_DOMAIN} in {locale_dir}"]

    profile = BareProfile(work / "german", [helper])
    profile.env["LANGUAGE"] = "de"
    texts_file = work / "progress.txt"
    scheme = (f"(let* ((img (orvex-load {scheme_string(SAMPLE)})) (drw (orvex-drawable img))"
              f"       (reply (orvex-test-progress-texts RUN-NONINTERACTIVE img drw)))"
              f"  (let ((port (open-output-file {scheme_string(texts_file)})))"
              f"    (display (car reply) port) (newline port) (display (cadr reply) port)"
              f"    (close-output-port port)))")
    with VirtualDisplay() as display:
        outcome = GimpRun(profile, gui=True).run_batch([scheme], 300, display.name)
    problems = check_outcome(outcome, "German run")
    if problems:
        return problems
    status, *texts = texts_file.read_text().rstrip("\n").split("\n")
    if status != "3":
        problems.append(f"plugin-orvex ended with status {status}, not success (3)")
    if texts != expected:
        problems.append(f"progress texts under LANGUAGE=de: {texts}, expected {expected}")
    else:
        print(f"check-installed-plugin: German progress texts: {texts}")
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--renderer", type=Path, required=True, help="the built orvex-render")
    parser.add_argument("--progress-helper", type=Path, required=True,
                        help="the built test plug-in orvex-test-progress-texts")
    parser.add_argument("--plugin", type=Path, required=True,
                        help="where the plug-in is installed, which GIMP must find")
    parser.add_argument("--locale-dir", type=Path, required=True,
                        help="GIMP's locale directory, where the catalogues are installed")
    args = parser.parse_args()

    if not os.access(args.plugin, os.X_OK):
        print(f"check-installed-plugin: {args.plugin} is not installed", file=sys.stderr)
        return 1
    work = Path(tempfile.mkdtemp(prefix="orvex-installed-"))
    try:
        problems = check_render(work, args.renderer.resolve(), args.plugin)
        problems += check_german(work, args.progress_helper.resolve(), args.locale_dir)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for problem in problems:
        print(f"check-installed-plugin: {problem}", file=sys.stderr)
    if not problems:
        print(f"check-installed-plugin: GIMP ran {args.plugin}; its render matches orvex-render")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
