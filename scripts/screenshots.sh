#!/usr/bin/env bash
# Makes docs/screenshots.png, the README's contact sheet: stills of the five scenes and the end scroller, taken by
# zorbrix-capture from the intro rendered offline (the moments are picked from its log, so they follow the music).
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build; the intro and its data must be built)
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
OUT="$ROOT/docs/screenshots.png"
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

command -v montage > /dev/null || { echo "screenshots: ImageMagick's montage is needed (make deps)" >&2; exit 1; }

# 20 frames per second and a still every 0.5 s: still k is frame 10k exactly.
(cd "$BUILD/bin" && ./zorbrix-capture /dev/null --fps 20 --png "$TMP/stills" --every 0.5 --log "$TMP/intro.log")

# The first still (frame a multiple of 10) that meets a condition on the log's columns:
# $1 frame, $2 seconds, $3 order, $4 row, $5 scene, $6 scroll offset, $7 clock, $8 caption, $9 fade, $10 effect.
pick() {
    local frame
    frame=$(awk -v cond="$1" 'BEGIN { } !/^#/ && $1 % 10 == 0 && '"$1"' { print $1; exit }' "$TMP/intro.log")
    if [ -z "$frame" ]; then
        echo "screenshots: no frame where $1" >&2
        exit 1
    fi
    printf '%s/stills/still_%04d.png' "$TMP" $((frame / 10))
}

S1=$(pick '$5 == 1 && $2 >= 6')
S2=$(pick '$5 == 2 && $4 >= 10')
S3=$(pick '$5 == 3 && $4 >= 10')
S4=$(pick '$5 == 4 && $3 == 6 && $10 == "B" && $4 % 32 >= 2')
S5=$(pick '$5 == 5 && $9 == 1 && $4 >= 30')
S6=$(pick '$5 == 6 && $6 == 384')

mkdir -p "$ROOT/docs"
montage -background '#10131c' -fill '#e8d6b0' -font DejaVu-Sans -pointsize 15 \
    -label '1  countdown' "$S1" -label '2  who presents' "$S2" -label '3  what and when' "$S3" \
    -label '4  effects and captions' "$S4" -label '5  the logo' "$S5" -label 'end scroller' "$S6" \
    -tile 3x2 -geometry 340x255+6+6 -depth 8 "$OUT"
echo "screenshots: wrote $OUT ($(du -k "$OUT" | cut -f1) KiB)"
