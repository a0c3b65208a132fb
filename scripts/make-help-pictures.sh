#!/usr/bin/env bash
# Remakes the help page's small pictures (data/help/en/images): a corner of the bundled night sample,
# rendered by orvex-render with one setting changed at a time. Needs a build and ImageMagick.
#   bash scripts/make-help-pictures.sh [BUILD]      # BUILD: a build folder (default build-release)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
renderer=${1:-$root/build-release}/tools/orvex-render
out=$root/data/help/en/images
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

convert "$root/data/sample-night.png" -crop 400x250+40+160 +repage -resize 240x150 -strip "PNG24:$scratch/in.png"
picture() {  # name, then orvex-render's settings
  local name=$1; shift
  "$renderer" "$@" "$scratch/in.png" "$scratch/$name.png"
  convert "$scratch/$name.png" -strip -colors 128 "PNG8:$out/$name.png"
}
convert "$scratch/in.png" -strip -colors 128 "PNG8:$out/original.png"
picture defaults
picture brightness-100 --brightness=100
picture threshold-200 --threshold=200
picture threshold-type-2 --threshold=200 --threshold_type=2
picture angle-30 --angle=30
for type in 1 3 4; do picture "line-type-$type" --line_type="$type" --angle=30; done
picture highlight1 --h1_density=60 --h1_extent=30
picture spectrum --s_density=80 --s_extent=40
picture spectrum-amp --s_density=80 --s_amp=100 --s_dephasing=60
ls -l "$out"
