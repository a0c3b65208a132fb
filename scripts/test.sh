#!/usr/bin/env bash
# Installs what is missing, builds (Release) and runs every test: unit tests and the
# end-to-end cases in the real GIMP. Exits non-zero when anything fails.
#   bash scripts/test.sh              # build folder: build-test (ORVEX_BUILD_DIR to change)
set -euo pipefail

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

# The Debian package, installed system-wide for a few seconds: only after the GIMP tests.
started=$SECONDS
if [[ $(id -u) -eq 0 ]]; then
  ORVEX_PACKAGE_BUILD_DIR="$build-package" bash "$root/scripts/check-package.sh"
elif sudo -n true 2>/dev/null; then
  sudo ORVEX_PACKAGE_BUILD_DIR="$build-package" bash "$root/scripts/check-package.sh"
else
  echo "test: package check skipped: it installs the package and needs root (sudo bash scripts/check-package.sh)"
fi
echo "test: package check took $((SECONDS - started)) s"

# The computation again under the sanitizers, and a bounded fuzzing run.
started=$SECONDS
bash "$root/scripts/sanitizer-tests.sh" "$build-sanitizers"
echo "test: sanitizer and fuzz runs took $((SECONDS - started)) s"
