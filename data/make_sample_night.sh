#!/usr/bin/env bash
# Draws data/sample-night.png, the bundled sample photo: a town at night with a moon, lit
# windows and street lamps whose white-hot cores are the light sources the filter picks up.
#   bash data/make_sample_night.sh [OUTPUT.png]
set -euo pipefail
out=${1:-$(dirname "${BASH_SOURCE[0]}")/sample-night.png}
convert=/usr/bin/convert

"$convert" -size 640x427 gradient:'#04081a-#22304e' \
  \( -size 640x427 xc:black -fill '#fff0d8' -draw 'circle 500,78 500,118' -blur 0x16 \) \
  -compose screen -composite \
  -fill '#e8e4cf' -draw 'circle 500,78 500,100' \
  -fill '#d9d4bd' -draw 'circle 507,72 507,77' -draw 'circle 494,88 494,91' \
  -fill '#0a0c14' -draw 'rectangle 0,230 70,427' -draw 'rectangle 70,270 150,427' \
  -draw 'rectangle 150,205 215,427' -draw 'rectangle 215,255 300,427' \
  -draw 'rectangle 300,180 350,427' -draw 'rectangle 350,240 440,427' \
  -draw 'rectangle 440,215 470,427' -draw 'rectangle 470,262 560,427' \
  -draw 'rectangle 560,225 640,427' \
  -fill '#c89848' -draw 'rectangle 15,250 24,262' -draw 'rectangle 40,290 49,302' \
  -draw 'rectangle 165,225 173,236' -draw 'rectangle 190,260 198,271' \
  -draw 'rectangle 312,200 320,211' -draw 'rectangle 330,240 338,251' \
  -draw 'rectangle 370,262 380,273' -draw 'rectangle 405,300 415,311' \
  -draw 'rectangle 580,245 589,256' -draw 'rectangle 610,285 619,296' \
  -fill '#f2d8a4' -draw 'rectangle 235,275 243,284' -draw 'rectangle 490,280 498,289' \
  -fill white -draw 'rectangle 330,206 337,212' \
  -fill '#141720' -draw 'rectangle 0,372 640,427' \
  -fill '#2a2a2e' -draw 'rectangle 119,294 121,372' -draw 'rectangle 329,294 331,372' \
  -draw 'rectangle 539,294 541,372' \
  \( -size 640x427 xc:black -fill '#ffa850' -draw 'circle 120,292 120,312' \
     -draw 'circle 330,292 330,312' -draw 'circle 540,292 540,312' \
     -fill '#ff8a3c' -draw 'circle 212,392 212,400' -draw 'circle 252,392 252,400' \
     -blur 0x10 \) -compose screen -composite \
  -fill white -draw 'circle 120,292 120,295' -draw 'circle 330,292 330,295' \
  -draw 'circle 540,292 540,295' -draw 'circle 212,392 212,394' -draw 'circle 252,392 252,394' \
  -fill '#cdd6f0' -draw 'point 40,40' -draw 'point 130,22' -draw 'point 205,70' \
  -draw 'point 270,35' -draw 'point 395,55' -draw 'point 600,30' -draw 'point 610,140' \
  -draw 'point 75,120' -draw 'point 430,120' \
  -fill white -draw 'rectangle 348,18 349,19' -draw 'rectangle 168,140 169,141' \
  -seed 7 -attenuate 0.08 +noise Gaussian \
  -strip PNG24:"$out"
