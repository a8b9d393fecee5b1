#!/bin/sh
# Draws the About box picture (picture1.jpg, 105 x 305): a kestrel hovering over hills at dusk.
# Needs ImageMagick 6. Run from this folder.
set -eu
convert -size 105x305 gradient:'#1b2a4a'-'#f0a45c' \
    -fill '#ffe7a8' -draw 'circle 52,246 52,222' \
    -fill '#2c2436' -draw 'path "M 0,262 C 20,248 40,252 58,262 C 74,270 90,256 105,250 L 105,305 L 0,305 Z"' \
    -fill '#1d1826' -draw 'path "M 0,284 C 28,270 60,292 105,276 L 105,305 L 0,305 Z"' \
    -fill '#1d1826' \
    -draw 'polygon 47,101 38,90 28,78 16,66 6,58 9,66 5,67 12,75 9,77 17,85 15,88 24,95 23,98 33,105 45,114' \
    -draw 'polygon 57,101 66,90 76,78 88,66 98,58 95,66 99,67 92,75 95,77 87,85 89,88 80,95 81,98 71,105 59,114' \
    -draw 'ellipse 52,110 7,17 0,360' \
    -draw 'circle 52,91 52,97' \
    -draw 'polygon 47,122 57,122 66,148 60,151 52,149 44,151 38,148' \
    -fill '#f0a45c' -draw 'polygon 51,95 53,95 52,98' \
    -quality 90 picture1.jpg
