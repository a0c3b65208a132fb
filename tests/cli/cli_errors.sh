#!/usr/bin/env bash
# The command-line renderer refuses what it cannot do with a clear message and exit 2,
# and renders gray and gray+alpha PNGs without widening them to RGB.
set -uo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

expect_refusal() {  # expected-text args...
  local expected=$1; shift
  local output status
  output=$("$cli" "$@" 2>&1); status=$?
  if [[ $status -ne 2 || "$output" != *"$expected"* ]]; then
    echo "FAIL: orvex-render $* -> exit $status, output: $output (wanted exit 2 and '$expected')"
    failures=$((failures + 1))
  fi
}

convert -size 40x30 xc:'#202020' -fill white -draw 'rectangle 10,10 12,12' \
  -define png:color-type=0 -depth 8 "$work/gray.png"
convert -size 40x30 xc:'#20202080' -fill white -draw 'rectangle 10,10 12,12' \
  -define png:color-type=4 -depth 8 "$work/graya.png"
printf 'not a png' > "$work/broken.png"

expect_refusal "unknown option --glow" --glow=3 "$work/gray.png" "$work/out.png"
expect_refusal "--angle needs a number" --angle=north "$work/gray.png" "$work/out.png"
expect_refusal "--threshold needs a whole number" --threshold=12.5 "$work/gray.png" "$work/out.png"
expect_refusal "--threads must be at least 1" --threads=0 "$work/gray.png" "$work/out.png"
expect_refusal "expected an input and an output file" "$work/gray.png"
expect_refusal "cannot read PNG" "$work/missing.png" "$work/out.png"
expect_refusal "cannot read PNG" "$work/broken.png" "$work/out.png"
expect_refusal "thresholds above 254" --threshold=300 "$work/gray.png" "$work/out.png"

for input in gray graya; do
  if ! "$cli" --line_type=1 "$work/$input.png" "$work/$input-out.png"; then
    echo "FAIL: rendering $input.png"; failures=$((failures + 1)); continue
  fi
  want=$(identify -format '%[channels]' "$work/$input.png")
  got=$(identify -format '%[channels]' "$work/$input-out.png")
  if [[ "$want" != "$got" ]]; then
    echo "FAIL: $input.png has channels '$want' but the render '$got'"; failures=$((failures + 1))
  fi
  if [[ $(compare -metric AE "$work/$input.png" "$work/$input-out.png" null: 2>&1) == 0 ]]; then
    echo "FAIL: rendering $input.png changed nothing"; failures=$((failures + 1))
  fi
done

echo "cli: $failures failure(s)"
exit $((failures > 0))
