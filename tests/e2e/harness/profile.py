"""A throw-away GIMP profile that holds only the plug-ins under test."""

from __future__ import annotations

import fcntl
import os
import shutil
import subprocess
from pathlib import Path

GIMP_CONSOLE = "gimp-console-2.10"


def gimp_version() -> str:
    out = subprocess.run([GIMP_CONSOLE, "--version"], capture_output=True, text=True, timeout=60)
    return out.stdout.strip().rsplit(" ", 1)[-1] or "unknown"


def profile_environment(root: Path) -> dict[str, str]:
    """Environment that makes GIMP, GTK and GEGL read and write only below `root`."""
    home = root / "home"
    env = dict(os.environ)
    env.update({
        "HOME": str(home),
        "XDG_CONFIG_HOME": str(home / ".config"),
        "XDG_CACHE_HOME": str(home / ".cache"),
        "XDG_DATA_HOME": str(home / ".local" / "share"),
        "XDG_RUNTIME_DIR": str(home / ".runtime"),
        "GIMP2_DIRECTORY": str(root / "gimp2"),
        "LANG": "C.UTF-8",
        "LC_ALL": "C.UTF-8",
    })
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    for name in ("home", "home/.config", "home/.cache", "home/.local/share", "home/.runtime"):
        (root / name).mkdir(parents=True, exist_ok=True)
    os.chmod(root / "home/.runtime", 0o700)
    return env


def _create_blank(root: Path, timeout: float) -> None:
    env = profile_environment(root)
    result = subprocess.run(
        ["timeout", "--kill-after=10", str(timeout), GIMP_CONSOLE, "-i", "-d", "-f", "-n",
         "--stack-trace-mode=never", "-b", "(gimp-quit 0)"],
        env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True)
    if result.returncode != 0 or not (root / "gimp2" / "pluginrc").exists():
        raise RuntimeError(f"creating a GIMP profile failed (exit {result.returncode}):\n"
                           f"{result.stdout}{result.stderr}")


def blank_profile_template(cache_root: Path, timeout: float = 180) -> Path:
    """The profile that GIMP's first run makes, created once per GIMP version and shared by
    all cases (read-only); a lock keeps parallel cases from creating it twice."""
    cache_root.mkdir(parents=True, exist_ok=True)
    template = cache_root / f"profile-template-{gimp_version()}"
    with open(cache_root / "profile-template.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not (template / "gimp2" / "pluginrc").exists():
            shutil.rmtree(template, ignore_errors=True)
            staging = cache_root / f".staging-{os.getpid()}"
            shutil.rmtree(staging, ignore_errors=True)
            _create_blank(staging, timeout)
            staging.rename(template)
    return template


class Profile:
    """A fresh profile in `root`, copied from the blank template, with `plugin` installed as
    plug-ins/orvex/orvex and each helper plug-in in a folder named like its executable."""

    def __init__(self, root: Path, plugin: Path, helper_plugins: list[Path], template: Path):
        self.root = root
        shutil.copytree(template / "gimp2", root / "gimp2", symlinks=True)
        self.gimp_dir = root / "gimp2"
        self.env = profile_environment(root)
        self.install_plugin(plugin, "orvex")
        for helper in helper_plugins:
            self.install_plugin(helper, helper.name)

    def install_plugin(self, executable: Path, name: str) -> None:
        target = self.gimp_dir / "plug-ins" / name / name
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(executable, target)
        os.chmod(target, 0o755)

    @property
    def pluginrc(self) -> Path:
        return self.gimp_dir / "pluginrc"
