"""One end-to-end case: a TOML file with inputs, Script-Fu batch commands, command-line renders
and the expected outcome. The format is described in tests/e2e/README.md."""

from __future__ import annotations

import re
import subprocess
import time
import tomllib
from dataclasses import dataclass, field
from pathlib import Path

from .gimp_run import GimpOutcome, GimpRun
from .inputs import make_input
from .png_pixels import Pixels, read_png
from .profile import Profile
from .virtual_display import DisplayError, VirtualDisplay

_PLACEHOLDER = re.compile(r"\$\{(input:[\w.-]+|work|profile|catalogues)\}")


class CaseError(Exception):
    """The case file itself is wrong (not a test failure)."""


@dataclass
class Tools:
    plugin: Path
    renderer: Path
    helper_plugins: dict[str, Path]
    template: Path
    catalogues: Path | None = None  # the build's compiled catalogues, laid out as a locale directory


@dataclass
class CaseRun:
    path: Path
    work: Path
    failures: list[str] = field(default_factory=list)
    outcome: GimpOutcome | None = None


def load_case(path: Path) -> dict:
    with open(path, "rb") as handle:
        case = tomllib.load(handle)
    known = {"summary", "timeout", "display", "gui", "helper_plugins", "inputs", "batch", "renders",
             "expect", "interact", "environment", "same_as_cli"}
    unknown = set(case) - known
    if unknown:
        raise CaseError(f"{path}: unknown keys {sorted(unknown)}")
    if "same_as_cli" in case:
        _expand_same_as_cli(case)
    if not case.get("batch"):
        raise CaseError(f"{path}: a case needs at least one [[batch]] command")
    if not case.get("expect") and not any(b.get("expect") == "error" for b in case["batch"]):
        raise CaseError(f"{path}: a case needs [[expect]] checks")
    return case


def _scheme_settings(args: list[str]) -> str:
    """orvex-render options (--name=value) as an (orvex-settings ...) call."""
    pairs = []
    for arg in args:
        name, _, value = arg.removeprefix("--").partition("=")
        float(value)  # settings are numbers; anything else is a mistake in the case
        pairs.append(f"({name} . {value})")
    return f"(orvex-settings '({' '.join(pairs)}))"


def _expand_same_as_cli(case: dict) -> None:
    """[same_as_cli] inputs = [...], variants = {name = [orvex-render options]}: renders every
    input with every variant in GIMP and with the command-line renderer, and expects the same
    bytes from both."""
    recipe = case["same_as_cli"]
    variants: dict[str, list[str]] = recipe["variants"]
    for name in recipe["inputs"]:
        renders = "\n".join(
            f'  (let* ((img (orvex-load "${{input:{name}}}")) (drw (orvex-drawable img)))\n'
            f'    (orvex-render img drw {_scheme_settings(args)})\n'
            f'    (orvex-save img drw "${{work}}/gimp-{name}-{variant}.png")\n'
            f'    (gimp-image-delete img))'
            for variant, args in variants.items())
        case.setdefault("batch", []).append({"scheme": f"(begin\n{renders})"})
        for variant, args in variants.items():
            case.setdefault("renders", []).append(
                {"input": f"${{input:{name}}}", "output": f"cli-{name}-{variant}.png", "args": args})
            case.setdefault("expect", []).append(
                {"kind": "same-pixels", "name": f"{name}, {variant}",
                 "a": f"gimp-{name}-{variant}.png", "b": f"cli-{name}-{variant}.png"})


class _Substitution:
    def __init__(self, work: Path, profile_dir: Path, inputs: dict[str, Path],
                 catalogues: Path | None = None):
        self.work = work
        self.profile_dir = profile_dir
        self.inputs = inputs
        self.catalogues = catalogues

    def __call__(self, text: str) -> str:
        def replace(match: re.Match) -> str:
            key = match.group(1)
            if key == "work":
                return str(self.work)
            if key == "profile":
                return str(self.profile_dir)
            if key == "catalogues":
                if self.catalogues is None:
                    raise CaseError("${catalogues}: run_case.py was not given --catalogues")
                return str(self.catalogues)
            name = key.split(":", 1)[1]
            if name not in self.inputs:
                raise CaseError(f"${{{key}}}: no input named {name!r}")
            return str(self.inputs[name])
        return _PLACEHOLDER.sub(replace, text)

    def path(self, text: str) -> Path:
        resolved = Path(self(text))
        return resolved if resolved.is_absolute() else self.work / resolved


def run_case(path: Path, work: Path, tools: Tools) -> CaseRun:
    case = load_case(path)
    run = CaseRun(path, work)
    work.mkdir(parents=True, exist_ok=True)

    inputs: dict[str, Path] = {}
    for name, recipe in case.get("inputs", {}).items():
        inputs[name] = work / f"{name}.png"
    subst = _Substitution(work, work / "profile" / "gimp2", inputs, tools.catalogues)
    for name, recipe in case.get("inputs", {}).items():
        make_input(inputs[name], [subst(arg) for arg in recipe["magick"]], recipe.get("format", "PNG24"))

    helpers = []
    for name in case.get("helper_plugins", []):
        if name not in tools.helper_plugins:
            raise CaseError(f"helper plug-in {name!r} was not passed with --helper-plugin")
        helpers.append(tools.helper_plugins[name])
    profile = Profile(work / "profile", tools.plugin, helpers, tools.template)
    # GIMP passes its environment on to the plug-ins it starts.
    for name, value in case.get("environment", {}).items():
        profile.env[name] = subst(str(value))
    gimp = GimpRun(profile, gui=bool(case.get("gui")))

    batches = case["batch"]
    commands = [subst(batch["scheme"]) for batch in batches]
    timeout = float(case.get("timeout", 120))
    if case.get("display") or case.get("gui"):
        run.outcome = _run_with_display(gimp, commands, timeout, case.get("interact", []), subst, run)
    else:
        run.outcome = gimp.run_batch(commands, timeout)
    _check_gimp(run, batches)

    for render in case.get("renders", []):
        _render_with_cli(tools.renderer, subst, render, run)

    for check in case.get("expect", []):
        try:
            _check(check, subst, run)
        except (OSError, ValueError) as error:
            run.failures.append(f"{_label(check)}: {error}")
    return run


def _run_with_display(gimp: GimpRun, commands: list[str], timeout: float, steps: list[dict],
                      subst: _Substitution, run: CaseRun) -> GimpOutcome:
    with VirtualDisplay() as display:
        background = gimp.start_background(commands, timeout, display.name)
        deadline = time.monotonic() + timeout
        try:
            for number, step in enumerate(steps, 1):
                _interact(display, step, subst, max(1.0, deadline - time.monotonic()),
                          background.running)
        except DisplayError as error:
            run.failures.append(f"interact step {number} {step}: {error}")
            background.kill()
        return background.wait()


def _interact(display: VirtualDisplay, step: dict, subst: _Substitution, timeout: float,
              alive) -> None:
    if "wait_window" in step:
        display.wait_window(step["wait_window"], timeout, alive)
    elif "wait_window_gone" in step:
        display.wait_window_gone(timeout, alive)
    elif "wait_file" in step:
        _wait_file(subst.path(step["wait_file"]), timeout, alive)
    elif "touch" in step:
        subst.path(step["touch"]).touch()
    elif "screenshot" in step:
        display.screenshot(subst.path(step["screenshot"]))
    elif "key" in step:
        display.key(step["key"])
    elif "type" in step:
        display.type_text(step["type"])
    elif "click" in step:
        x, y = step["click"]
        display.click(int(x), int(y))
    else:
        raise CaseError(f"unknown interact step {step}")


def _wait_file(path: Path, timeout: float, alive) -> None:
    deadline = time.monotonic() + timeout
    while not path.exists():
        if time.monotonic() > deadline:
            raise DisplayError(f"{path.name} did not appear within {timeout:.0f} s")
        if not alive():
            raise DisplayError(f"GIMP ended before {path.name} appeared")
        time.sleep(0.1)


def _check_gimp(run: CaseRun, batches: list[dict]) -> None:
    outcome = run.outcome
    assert outcome is not None
    if outcome.timed_out:
        run.failures.append(f"GIMP hung: timeout ended it (exit 124) after {len(outcome.results)} "
                            f"of {len(batches)} batch commands")
        return
    if outcome.exit_code != 0:
        run.failures.append(f"GIMP exited with {outcome.exit_code}")
    for fault in outcome.host_faults():
        run.failures.append(f"GIMP reported a plug-in fault: {fault.strip()}")
    if len(outcome.results) != len(batches):
        run.failures.append(f"expected {len(batches)} batch results, GIMP reported "
                            f"{len(outcome.results)}")
    for number, (batch, result) in enumerate(zip(batches, outcome.results), 1):
        wanted = batch.get("expect", "success")
        if wanted not in ("success", "error"):
            raise CaseError(f"batch {number}: expect must be 'success' or 'error'")
        if wanted == "success" and not result.ok:
            run.failures.append(f"batch command {number} failed; GIMP said:\n{result.error}")
        elif wanted == "error" and result.ok:
            run.failures.append(f"batch command {number} succeeded, but an execution error was "
                                "expected")
        elif wanted == "error" and batch.get("error_contains", "") not in result.context:
            run.failures.append(f"batch command {number} failed, but its error lacks "
                                f"{batch['error_contains']!r}; GIMP said:\n{result.context}")


def _render_with_cli(renderer: Path, subst: _Substitution, render: dict, run: CaseRun) -> None:
    argv = [str(renderer), *[subst(arg) for arg in render.get("args", [])],
            str(subst.path(render["input"])), str(subst.path(render["output"]))]
    result = subprocess.run(argv, capture_output=True, text=True, timeout=300)
    if result.returncode != 0:
        run.failures.append(f"{' '.join(argv)} failed ({result.returncode}): "
                            f"{result.stderr.strip()}")


def _label(check: dict) -> str:
    return check.get("name") or f"{check.get('kind')} check"


def _check(check: dict, subst: _Substitution, run: CaseRun) -> None:
    kind = check.get("kind")
    label = _label(check)
    fail = run.failures.append
    if kind == "same-pixels" and _identical_pngs(subst.path(check["a"]), subst.path(check["b"])):
        return
    if kind in ("same-pixels", "different-pixels"):
        a, b = read_png(str(subst.path(check["a"]))), read_png(str(subst.path(check["b"])))
        if (a.width, a.height, a.channels) != (b.width, b.height, b.channels):
            fail(f"{label}: {check['a']} is {a.describe()}, {check['b']} is {b.describe()}")
        elif kind == "same-pixels" and a.data != b.data:
            fail(f"{label}: {check['a']} and {check['b']} differ: {_first_difference(a, b)}")
        elif kind == "different-pixels" and a.data == b.data:
            fail(f"{label}: {check['a']} and {check['b']} are identical")
    elif kind == "region":
        _check_region(check, subst, fail, label)
    elif kind == "text":
        text = subst.path(check["file"]).read_text()
        if "equals" in check and text.rstrip("\n") != subst(check["equals"]).rstrip("\n"):
            fail(f"{label}: {check['file']} holds\n{text}\nexpected\n{check['equals']}")
        if "contains" in check and subst(check["contains"]) not in text:
            fail(f"{label}: {check['file']} lacks {check['contains']!r}; it holds\n{text}")
        if "lines" in check:
            got, wanted = text.rstrip("\n").split("\n"), [subst(line) for line in check["lines"]]
            for number, (g, w) in enumerate(zip(got, wanted), 1):
                if g != w:
                    fail(f"{label}: {check['file']} line {number} is\n  {g}\nexpected\n  {w}")
            if len(got) != len(wanted):
                fail(f"{label}: {check['file']} has {len(got)} lines, expected {len(wanted)}")
    elif kind == "output":
        output = run.outcome.output if run.outcome else ""
        if "contains" in check and check["contains"] not in output:
            fail(f"{label}: GIMP's output lacks {check['contains']!r}")
        if "lacks" in check and check["lacks"] in output:
            fail(f"{label}: GIMP's output contains {check['lacks']!r}")
    elif kind == "file-contains" and "files" in check:
        _check_files_contain(check, subst, fail, label)
    elif kind == "file-contains":
        text = subst.path(check["file"]).read_text(errors="replace")
        if subst(check["contains"]) not in text:
            fail(f"{label}: {check['file']} lacks {check['contains']!r}")
    else:
        raise CaseError(f"unknown check kind {kind!r}")


def _identical_pngs(a: Path, b: Path) -> bool:
    """Byte-identical PNG files hold the same pixels: spares decoding large images in Python."""
    blob = a.read_bytes()
    return blob.startswith(b"\x89PNG\r\n\x1a\n") and blob == b.read_bytes()


def _check_files_contain(check: dict, subst: _Substitution, fail, label: str) -> None:
    """`files` is a glob in the work folder (e.g. one log per plug-in process); every match
    must contain the text, and there must be `count` matches (default: at least one)."""
    pattern = subst(check["files"])
    matches = sorted(subst.work.glob(pattern))
    wanted = check.get("count")
    if wanted is not None and len(matches) != wanted:
        fail(f"{label}: {len(matches)} files match {pattern!r}, expected {wanted}")
    elif not matches:
        fail(f"{label}: no file matches {pattern!r}")
    needle = subst(check["contains"])
    for path in matches:
        if needle not in path.read_text(errors="replace"):
            fail(f"{label}: {path.name} lacks {needle!r}")


def _first_difference(a: Pixels, b: Pixels) -> str:
    count = sum(1 for x, y in zip(a.data, b.data) if x != y)
    for i, (x, y) in enumerate(zip(a.data, b.data)):
        if x != y:
            pixel = i // a.channels
            return (f"{count} bytes differ, first at pixel ({pixel % a.width}, {pixel // a.width}): "
                    f"{a.pixel(pixel % a.width, pixel // a.width)} vs "
                    f"{b.pixel(pixel % a.width, pixel // a.width)}")
    return "no difference"


def _colour_channels(pixels: Pixels) -> int:
    return pixels.channels - 1 if pixels.channels in (2, 4) else pixels.channels


def _check_region(check: dict, subst: _Substitution, fail, label: str) -> None:
    image = read_png(str(subst.path(check["image"])))
    reference = read_png(str(subst.path(check["reference"])))
    if (image.width, image.height, image.channels) != (reference.width, reference.height,
                                                       reference.channels):
        fail(f"{label}: {image.describe()} vs reference {reference.describe()}")
        return
    x0, y0, w, h = check["box"]
    if x0 < 0 or y0 < 0 or w <= 0 or h <= 0 or x0 + w > image.width or y0 + h > image.height:
        raise CaseError(f"{label}: box {check['box']} lies outside {image.describe()}")
    relation = check["relation"]
    colours = _colour_channels(image)
    larger = smaller = changed = 0
    for y in range(y0, y0 + h):
        for x in range(x0, x0 + w):
            got, ref = image.pixel(x, y), reference.pixel(x, y)
            changed += got != ref
            for c in range(colours):
                larger += got[c] > ref[c]
                smaller += got[c] < ref[c]
    where = f"box {check['box']} of {check['image']} against {check['reference']}"
    if relation == "same" and changed:
        fail(f"{label}: {changed} pixels changed in {where}")
    elif relation == "brighter" and (larger == 0 or smaller):
        fail(f"{label}: expected brighter in {where}: {larger} bytes larger, {smaller} smaller")
    elif relation == "not-brighter" and larger:
        fail(f"{label}: {larger} bytes got brighter in {where}")
    elif relation == "darker" and (smaller == 0 or larger):
        fail(f"{label}: expected darker in {where}: {smaller} bytes smaller, {larger} larger")
    elif relation not in ("same", "brighter", "not-brighter", "darker"):
        raise CaseError(f"{label}: unknown relation {relation!r}")
