#!/usr/bin/env bash
# Installs what is missing, builds (Release) and runs every test: unit tests and the
# end-to-end cases in the real GIMP 2.10, then the GIMP 3 plug-in's build and tests in a Debian 13
# root with the real GIMP 3 (scripts/gimp3-tests.sh; needs root). Exits non-zero when anything fails,
# and when the GIMP 3 stage cannot run, unless it is skipped on purpose.
#   bash scripts/test.sh              # build folder: build-test (ORVEX_BUILD_DIR to change)
#   bash scripts/test.sh --skip-gimp3 # or ORVEX_SKIP_GIMP3=1: everything but the GIMP 3 stage
set -euo pipefail

skip_gimp3=${ORVEX_SKIP_GIMP3:-0}
[[ ${1:-} == --skip-gimp3 ]] && skip_gimp3=1

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVEX_BUILD_DIR:-$root/build-test}
jobs=${ORVEX_JOBS:-2}

bash "$root/scripts/install-deps.sh"

started=$SECONDS
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$jobs"
echo "test: built in $((SECONDS - started)) s"

started=$SECONDS
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 900
echo "test: tests ran in $((SECONDS - started)) s"

# Runs a command as root: directly, through sudo without a password, or not at all (status 126).
as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"
  elif sudo -n true 2>/dev/null; then sudo "$@"
  else return 126
  fi
}

# The Debian package, installed system-wide for a few seconds: only after the GIMP tests.
started=$SECONDS
rc=0
as_root env ORVEX_PACKAGE_BUILD_DIR="$build-package" bash "$root/scripts/check-package.sh" || rc=$?
if ((rc == 126)); then
  echo "test: the package check was NOT run: it installs the package and needs root" \
       "(sudo bash scripts/test.sh, or sudo bash scripts/check-package.sh)" >&2
  exit 1
fi
((rc == 0)) || exit "$rc"
echo "test: package check took $((SECONDS - started)) s"

# The computation again under the sanitizers, and a bounded fuzzing run.
started=$SECONDS
bash "$root/scripts/sanitizer-tests.sh" "$build-sanitizers"
echo "test: sanitizer and fuzz runs took $((SECONDS - started)) s"

# The GIMP 3 plug-in, built and tested in a Debian 13 root that holds the real GIMP 3.
started=$SECONDS
rc=0
if [[ $skip_gimp3 == 1 ]]; then
  echo "test: the GIMP 3 stage was skipped on request: the GIMP 3 plug-in was NOT built or tested"
else
  as_root env ORVEX_JOBS="$jobs" bash "$root/scripts/gimp3-tests.sh" || rc=$?
fi
if ((rc == 126)); then
  echo "test: the GIMP 3 cases were NOT run: they need root, to make and enter the Debian 13 root" \
       "(sudo bash scripts/gimp3-tests.sh). Skip them knowingly with --skip-gimp3 or ORVEX_SKIP_GIMP3=1." >&2
  exit 1
fi
((rc == 0)) || exit "$rc"
echo "test: the GIMP 3 stage took $((SECONDS - started)) s"
