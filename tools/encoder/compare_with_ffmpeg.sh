#!/usr/bin/env bash
# Coding efficiency against ffmpeg's MPEG-4 encoder at equal quantiser: file size and PSNR (all planes, against the
# source) for quantisers 2, 4 and 8 on a few of ffmpeg's moving test sources, and our size interpolated at
# ffmpeg's PSNR. Both streams are decoded by ffmpeg for the PSNR.
#   usage: tools/encoder/compare_with_ffmpeg.sh [build/bin] [frames] [extra nvdtool encode options...]
set -euo pipefail
BIN=${1:-build/bin}
FRAMES=${2:-100}
shift $(( $# > 2 ? 2 : $# )) || true
EXTRA=("$@")
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

psnr() {  # raw yuv420p decoded, source y4m, WxH
  ffmpeg -v info -f rawvideo -pix_fmt yuv420p -s "$3" -i "$1" -i "$2" -lavfi psnr -f null - 2>&1 |
    sed -n 's/.*average:\([0-9.]*\).*/\1/p' | tail -1
}

printf "%-22s %3s %10s %8s %10s %8s %9s\n" source q ffmpeg_B ffmpeg_dB ours_B ours_dB ours@same
for source in "testsrc2=size=256x192:rate=25" "mandelbrot=size=256x192:rate=25" "gradients=size=256x192:rate=25:speed=0.03" \
            "testsrc2=size=720x576:rate=25"; do
  name=${source%%=*}; size=$(echo "$source" | sed 's/.*size=\([0-9x]*\).*/\1/')
  src="$TMP/src.y4m"
  ffmpeg -v error -y -f lavfi -i "$source" -frames:v "$FRAMES" -pix_fmt yuv420p "$src"
  declare -A OB OP
  for q in 1 2 3 4 5 6 8 10; do
    "$BIN/nvdtool" encode "$src" "$TMP/o.nvd" --qp $q --keyint 12 "${EXTRA[@]}" 2>/dev/null
    "$BIN/nvdtool" export "$TMP/o.nvd" "$TMP/o.m4v" >/dev/null
    ffmpeg -v error -y -i "$TMP/o.m4v" -f rawvideo -pix_fmt yuv420p "$TMP/o.yuv"
    OB[$q]=$(stat -c %s "$TMP/o.m4v"); OP[$q]=$(psnr "$TMP/o.yuv" "$src" "$size")
  done
  for q in 2 4 8; do
    ffmpeg -v error -y -i "$src" -c:v mpeg4 -bf 0 -q:v $q -threads 1 -f m4v "$TMP/f.m4v"
    ffmpeg -v error -y -i "$TMP/f.m4v" -f rawvideo -pix_fmt yuv420p "$TMP/f.yuv"
    fb=$(stat -c %s "$TMP/f.m4v"); fp=$(psnr "$TMP/f.yuv" "$src" "$size")
    # Our size at ffmpeg's PSNR: log-linear interpolation between our two nearest quantisers.
    same=$(for k in 1 2 3 4 5 6 8 10; do echo "${OP[$k]} ${OB[$k]}"; done | sort -n | awk -v t="$fp" '
      { p[NR]=$1; b[NR]=$2 } END { for (i=1;i<NR;i++) if (p[i] <= t && t <= p[i+1]) {
        f=(t-p[i])/(p[i+1]-p[i]); printf "%.0f", exp(log(b[i])+f*(log(b[i+1])-log(b[i]))); exit } print "n/a" }')
    ratio=$(awk -v a="$same" -v b="$fb" 'BEGIN { if (a=="n/a") print "n/a"; else printf "%+.1f%%", 100*(a/b-1) }')
    printf "%-22s %3s %10s %8s %10s %8s %9s %s\n" "$name $size" $q $fb $fp ${OB[$q]} ${OP[$q]} "$same" "$ratio"
  done
  unset OB OP
done
