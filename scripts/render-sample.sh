#!/usr/bin/env bash
# The main job: installs what is missing, builds the plug-in (Release), installs it into a
# throw-away GIMP profile and renders the bundled sample photo with the default settings
# through plugin-orvex in a headless GIMP.
#   bash scripts/render-sample.sh [INPUT.png [OUTPUT.png]]   # default: data/sample-night.png -> out/sample-orvex.png
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${ORVEX_BUILD_DIR:-$root/build-release}
input=$(realpath "${1:-$root/data/sample-night.png}")
output=$(realpath -m "${2:-$root/out/sample-orvex.png}")

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DORVEX_BUILD_TESTS=OFF -DORVEX_BUILD_BENCHMARKS=OFF
cmake --build "$build" -j "${ORVEX_JOBS:-2}" --target orvex

mkdir -p "$(dirname "$output")"
/usr/bin/python3 "$root/scripts/render-with-gimp.py" --plugin "$build/src/gimp2/orvex" "$input" "$output"
echo "Rendered $input"
echo "     ->  $output"
