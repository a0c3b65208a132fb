"""End-to-end test harness: the real gimp-console-2.10 on a throw-away profile."""

from .case_file import CaseError, Tools, load_case, run_case
from .gimp_run import BackgroundGimp, GimpOutcome, GimpRun, batch_command, parse_batch_results
from .inputs import make_input
from .png_pixels import Pixels, read_png
from .profile import Profile, blank_profile_template
from .virtual_display import DisplayError, VirtualDisplay

__all__ = [
    "BackgroundGimp", "CaseError", "DisplayError", "GimpOutcome", "GimpRun", "Pixels", "Profile",
    "Tools", "VirtualDisplay", "batch_command", "blank_profile_template", "load_case",
    "make_input", "parse_batch_results", "read_png", "run_case",
]
