#!/usr/bin/env bash
# Draws the program icon (a framed landscape photo) at 16, 32 and 48 pixels.
set -euo pipefail
cd "$(dirname "$0")"
for s in 16 32 48; do
  convert -size ${s}x${s} xc:none \
    -fill '#f4f1e8' -stroke '#505050' -draw "rectangle 0,$((s/8)) $((s-1)),$((s-1-s/8))" \
    -fill '#6fa8dc' -stroke none -draw "rectangle $((s/8)),$((s/4)) $((s-1-s/8)),$((s*5/8))" \
    -fill '#38761d' -draw "polygon $((s/8)),$((s*5/8)) $((s*3/8)),$((s*3/8)) $((s*5/8)),$((s*5/8))" \
    -fill '#ffd966' -draw "circle $((s*3/4)),$((s*3/8)) $((s*3/4+s/12)),$((s*3/8))" \
    -fill '#6aa84f' -draw "rectangle $((s/8)),$((s*5/8)) $((s-1-s/8)),$((s-1-s/4))" \
    PNG32:icon-$s.png
done
convert icon-16.png icon-32.png icon-48.png Velmo.ico
rm -f icon-16.png icon-32.png icon-48.png
