#!/usr/bin/env bash
# Builds the computation and its unit tests under AddressSanitizer + UBSan and under
# ThreadSanitizer and runs them, then fuzzes the computation for a bounded time.
#   bash scripts/sanitizer-tests.sh [BUILD_ROOT]     (ORVEX_FUZZ_SECONDS, default 60)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
base=${1:-$root/build-sanitizers}
jobs=${ORVEX_JOBS:-2}
supp=$root/tests/sanitizers
engine_only=(-DORVEX_BUILD_PLUGIN=OFF -DORVEX_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)

configure_and_test() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "${engine_only[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

echo "sanitizers: AddressSanitizer + UndefinedBehaviorSanitizer"
LSAN_OPTIONS="suppressions=$supp/lsan.supp" UBSAN_OPTIONS="print_stacktrace=1" \
  configure_and_test "$base/address" -DORVEX_SANITIZE=address,undefined

echo "sanitizers: ThreadSanitizer"
TSAN_OPTIONS="suppressions=$supp/tsan.supp halt_on_error=1" \
  configure_and_test "$base/thread" -DORVEX_SANITIZE=thread

echo "sanitizers: libFuzzer over the computation for ${ORVEX_FUZZ_SECONDS:-60} s"
CC=clang CXX=clang++ configure_and_test "$base/fuzz" -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_FUZZERS=ON \
  -DORVEX_SANITIZE=address,undefined -DORVEX_FUZZ_SECONDS="${ORVEX_FUZZ_SECONDS:-60}"
