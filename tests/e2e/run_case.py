#!/usr/bin/python3
"""Runs one end-to-end case file in the real GIMP; exit 0 when every check passed."""

from __future__ import annotations

import argparse
import os
import shutil
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from harness import CaseError, Tools, blank_profile_template, run_case  # noqa: E402


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("case", type=Path)
    parser.add_argument("--plugin", type=Path, required=True, help="the built orvex plug-in")
    parser.add_argument("--renderer", type=Path, required=True, help="the built orvex-render")
    parser.add_argument("--helper-plugin", type=Path, action="append", default=[],
                        help="a test plug-in that cases may ask for by its file name")
    parser.add_argument("--catalogues", type=Path,
                        help="the built message catalogues (<lang>/LC_MESSAGES/*.mo), as ${catalogues}")
    parser.add_argument("--work-root", type=Path, required=True,
                        help="folder for the cases' work folders and the blank profile")
    parser.add_argument("--name", help="the case's name (default: from its path)")
    args = parser.parse_args()

    case = args.case.resolve()
    name = args.name or f"{case.parent.name}.{case.stem}"
    work_root = args.work_root.resolve()
    work = work_root / name
    shutil.rmtree(work, ignore_errors=True)

    started = time.monotonic()
    try:
        tools = Tools(plugin=args.plugin.resolve(), renderer=args.renderer.resolve(),
                      helper_plugins={p.name: p.resolve() for p in args.helper_plugin},
                      template=blank_profile_template(work_root),
                      catalogues=args.catalogues.resolve() if args.catalogues else None)
        run = run_case(case, work, tools)
    except CaseError as error:
        print(f"case file error: {error}")
        return 2
    elapsed = time.monotonic() - started

    if run.failures:
        print(f"FAILED {name} ({elapsed:.1f} s), work folder kept: {work}")
        for failure in run.failures:
            print(f"- {failure}")
        if run.outcome is not None:
            print(f"--- GIMP output (exit {run.outcome.exit_code}) ---")
            print(run.outcome.output.rstrip())
            print("--- end of GIMP output ---")
        return 1
    print(f"passed {name} ({elapsed:.1f} s)")
    if not os.environ.get("ORVEX_E2E_KEEP"):
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
