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

# The computation again under the sanitizers, and a bounded fuzzing run.
started=$SECONDS
bash "$root/scripts/sanitizer-tests.sh" "$build-sanitizers"
echo "test: sanitizer and fuzz runs took $((SECONDS - started)) s"
