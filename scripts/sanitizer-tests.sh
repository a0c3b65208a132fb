#!/usr/bin/env bash
# Builds the computation and its unit tests under AddressSanitizer + UBSan and under
# ThreadSanitizer and runs them, then fuzzes the computation for a bounded time.
#   bash scripts/sanitizer-tests.sh [BUILD_ROOT]     (ORVEX_FUZZ_SECONDS, default 60)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
base=${1:-$root/build-sanitizers}
jobs=${ORVEX_JOBS:-2}
engine_only=(-DORVEX_HOST=none -DORVEX_BUILD_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo)

configure_and_test() {
  local dir=$1; shift
  cmake -S "$root" -B "$dir" "${engine_only[@]}" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # The renderer's own tests cap the address space, which the sanitizers' shadow memory exceeds.
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600 -E '^cli\.'

}

echo "sanitizers: AddressSanitizer + UndefinedBehaviorSanitizer"
UBSAN_OPTIONS="print_stacktrace=1" \
  configure_and_test "$base/address" -DORVEX_SANITIZE=address,undefined

echo "sanitizers: ThreadSanitizer"
TSAN_OPTIONS="halt_on_error=1" \
  configure_and_test "$base/thread" -DORVEX_SANITIZE=thread

echo "sanitizers: libFuzzer over the computation for ${ORVEX_FUZZ_SECONDS:-60} s"
CC=clang CXX=clang++ configure_and_test "$base/fuzz" -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_FUZZERS=ON \
  -DORVEX_SANITIZE=address,undefined -DORVEX_FUZZ_SECONDS="${ORVEX_FUZZ_SECONDS:-60}"
