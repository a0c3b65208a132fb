"""Runs Script-Fu batch commands in gimp-console-2.10 and reads back how each one ended.

GIMP exits 0 even when a batch command failed; what counts is the line it prints per command:
"batch command executed successfully" or "batch command experienced an execution error:"
followed by the error text up to an empty line."""

from __future__ import annotations

import subprocess
import time
from dataclasses import dataclass, field
from pathlib import Path

from .profile import GIMP_CONSOLE, Profile

GIMP_GUI = "gimp-2.10"

PRELUDE = (Path(__file__).with_name("prelude.scm")).read_text()

_SUCCESS = "batch command executed successfully"
_FAILURE = "batch command experienced an execution error:"
# Host reports that mean a plug-in misbehaved, whatever the case expects.
HOST_FAULTS = (
    "left image undo in inconsistent state",
    "crashed",
    "wire read",
    "Plug-in died",
)
TIMED_OUT = 124


@dataclass
class BatchResult:
    ok: bool
    error: str  # GIMP's error text for a failed command
    context: str  # everything GIMP printed since the previous command's result, error included


@dataclass
class GimpOutcome:
    exit_code: int
    output: str
    results: list[BatchResult] = field(default_factory=list)

    @property
    def timed_out(self) -> bool:
        return self.exit_code == TIMED_OUT

    def host_faults(self) -> list[str]:
        return [line for line in self.output.splitlines()
                if any(fault in line for fault in HOST_FAULTS)]


def parse_batch_results(output: str) -> list[BatchResult]:
    results: list[BatchResult] = []
    lines = output.splitlines()
    context: list[str] = []
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.strip() == _SUCCESS:
            results.append(BatchResult(True, "", "\n".join(context)))
            context = []
        elif line.strip() == _FAILURE:
            error: list[str] = []
            i += 1
            while i < len(lines) and lines[i].strip():
                error.append(lines[i])
                i += 1
            text = "\n".join(error)
            results.append(BatchResult(False, text, "\n".join(context + [text])))
            context = []
        else:
            context.append(line)
        i += 1
    return results


def batch_command(scheme: str) -> str:
    """One -b argument: the helpers, then the case's own Scheme."""
    return f"{PRELUDE}\n{scheme}"


class GimpRun:
    """gimp-console-2.10 on a profile; each call is one GIMP process that ends with (gimp-quit 0)."""

    def __init__(self, profile: Profile, gui: bool = False):
        """gui: the full gimp-2.10 with image windows (needs a display), e.g. to press Undo."""
        self.profile = profile
        self.gui = gui

    def command(self, commands: list[str], timeout: float) -> list[str]:
        argv = ["timeout", "--kill-after=10", str(int(timeout))]
        if self.gui:
            argv += [GIMP_GUI, "-s", "-d", "-f", "-n", "--stack-trace-mode=never"]
        else:
            argv += [GIMP_CONSOLE, "-i", "-d", "-f", "-n", "-c", "--stack-trace-mode=never"]
        for scheme in commands:
            argv += ["-b", batch_command(scheme)]
        # The full GIMP would ask about unsaved images before quitting; force it.
        return argv + ["-b", "(gimp-quit 1)" if self.gui else "(gimp-quit 0)"]

    def _environment(self, display: str | None) -> dict[str, str]:
        env = dict(self.profile.env)
        if display:
            env["DISPLAY"] = display
        return env

    def run_batch(self, commands: list[str], timeout: float = 120,
                  display: str | None = None) -> GimpOutcome:
        result = subprocess.run(self.command(commands, timeout), env=self._environment(display),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, errors="replace")
        return GimpOutcome(result.returncode, result.stdout, parse_batch_results(result.stdout))

    def start_background(self, commands: list[str], timeout: float = 120,
                         display: str | None = None) -> "BackgroundGimp":
        log = self.profile.root / "gimp-output.log"
        return BackgroundGimp(self.command(commands, timeout), self._environment(display), log,
                              timeout)


class BackgroundGimp:
    """A GIMP run in progress (e.g. with a dialog open on a virtual display)."""

    def __init__(self, argv: list[str], env: dict[str, str], log: Path, timeout: float):
        self.log_path = log
        self._log = open(log, "w")
        self.deadline = time.monotonic() + timeout + 15
        self.process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=self._log,
                                        stderr=subprocess.STDOUT, start_new_session=True)

    def running(self) -> bool:
        return self.process.poll() is None

    def output(self) -> str:
        self._log.flush()
        return self.log_path.read_text(errors="replace")

    def wait(self) -> GimpOutcome:
        """Waits for GIMP to finish (its own `timeout` ends a hang with 124)."""
        try:
            code = self.process.wait(timeout=max(1.0, self.deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.kill()
            code = TIMED_OUT
        self._log.close()
        text = self.log_path.read_text(errors="replace")
        return GimpOutcome(code, text, parse_batch_results(text))

    def kill(self) -> None:
        import os
        import signal
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait()
