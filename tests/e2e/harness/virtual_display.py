"""A private Xvfb server and the xdotool / ImageMagick calls that dialog cases drive it with."""

from __future__ import annotations

import os
import re
import subprocess
import time
from pathlib import Path
from typing import Callable, Optional

Alive = Optional[Callable[[], bool]]


class DisplayError(RuntimeError):
    pass


class VirtualDisplay:
    """Xvfb on a display number that the server picks itself (-displayfd), so parallel cases
    never collide. Use as a context manager; the server is stopped on exit."""

    def __init__(self, size: str = "1280x1024x24"):
        self.size = size
        self.process: subprocess.Popen | None = None
        self.name = ""
        self.window: str | None = None  # the current window of interact steps

    def __enter__(self) -> "VirtualDisplay":
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.size, "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:
            number = numbers.readline().strip()
        if not number.isdigit():
            self.__exit__(None, None, None)
            raise DisplayError("Xvfb did not report a display number")
        self.name = f":{number}"
        return self

    def __exit__(self, *exc) -> None:
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()

    def _run(self, argv: list[str], timeout: float = 30) -> str:
        env = dict(os.environ, DISPLAY=self.name)
        try:
            result = subprocess.run(argv, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                    text=True, timeout=timeout)
        except subprocess.TimeoutExpired as error:
            raise DisplayError(f"{' '.join(argv)} did not finish within {timeout:.0f} s") from error
        if result.returncode != 0:
            raise DisplayError(f"{' '.join(argv)} failed ({result.returncode}): {result.stderr.strip()}")
        return result.stdout

    def wait_window(self, name_pattern: str, timeout: float = 60, alive: Alive = None) -> str:
        """Waits for a visible window whose title matches the regexp; makes it current.
        `alive` (e.g. BackgroundGimp.running) ends the wait early once GIMP has exited."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            env = dict(os.environ, DISPLAY=self.name)
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", name_pattern],
                                   env=env, capture_output=True, text=True, timeout=30)
            ids = [line for line in found.stdout.split() if line.isdigit()]
            if ids:
                self.window = ids[0]
                return self.window
            if alive is not None and not alive():
                raise DisplayError(f"GIMP ended before a window named /{name_pattern}/ appeared")
            time.sleep(0.2)
        raise DisplayError(f"no window named /{name_pattern}/ appeared within {timeout:.0f} s")

    def wait_window_gone(self, timeout: float = 60, alive: Alive = None) -> None:
        if self.window is None:
            raise DisplayError("no current window to wait for")
        deadline = time.monotonic() + timeout
        env = dict(os.environ, DISPLAY=self.name)
        while time.monotonic() < deadline:
            alive_window = subprocess.run(["xdotool", "getwindowname", self.window], env=env,
                                   capture_output=True, text=True, timeout=30)
            if alive_window.returncode != 0 or (alive is not None and not alive()):
                self.window = None
                return
            time.sleep(0.2)
        raise DisplayError(f"window {self.window} still open after {timeout:.0f} s")

    def _focus(self) -> None:
        if self.window is None:
            raise DisplayError("no current window: add a wait_window step first")
        self._run(["xdotool", "windowfocus", "--sync", self.window])

    def key(self, keys: str) -> None:
        self._focus()
        self._run(["xdotool", "key", "--clearmodifiers", *keys.split()])

    def type_text(self, text: str) -> None:
        self._focus()
        self._run(["xdotool", "type", "--delay", "20", text])

    def click(self, x: int, y: int, button: int = 1) -> None:
        self._focus()
        self._run(["xdotool", "mousemove", "--window", self.window, str(x), str(y)])
        self._run(["xdotool", "click", str(button)])

    def resize(self, width: int, height: int) -> None:
        """Resizes the current window (no window manager runs, so this is the only way)."""
        self._run(["xdotool", "windowsize", self.window, str(width), str(height)])

    def screenshot(self, path: Path) -> None:
        """The current window, or the whole screen when there is none."""
        target = self.window if self.window is not None else "root"
        self._run(["import", "-window", target, str(path)], timeout=60)

    def window_geometry(self) -> dict[str, int]:
        if self.window is None:
            raise DisplayError("no current window")
        text = self._run(["xdotool", "getwindowgeometry", "--shell", self.window])
        return {key: int(value) for key, value in re.findall(r"(\w+)=(\d+)", text)}
