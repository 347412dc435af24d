#!/usr/bin/env bash
# Encoder speed against ffmpeg's MPEG-4 encoder, both single-threaded processes on the same YUV4MPEG2 file (ffmpeg's
# moving test pattern) at quantiser 4 with an I-VOP every 12 pictures: RUNS interleaved runs of each, and the
# ratio ours / ffmpeg in pictures a second, as the median with the smallest and largest of the runs. The time is
# the processes' CPU time (user + system), which other work on a shared machine disturbs less than the wall clock;
# CLOCK=wall measures elapsed time instead.
#   usage: bench/encoder/speed_vs_ffmpeg.sh [build/bin] [runs] [extra nvdtool encode options...]
set -euo pipefail
BIN=${1:-build/bin}
RUNS=${2:-5}
shift $(( $# > 2 ? 2 : $# )) || true
EXTRA=("$@")
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT

# Seconds the command took, by CLOCK; its own output is dropped.
seconds() {
  if [ "${CLOCK:-cpu}" = wall ]; then
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1; t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }'
  else
    local TIMEFORMAT='%3U %3S'
    { time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ print $1 + $2 }'
  fi
}

printf "%-9s %6s %10s %10s %8s %8s %8s\n" size frames ours_fps ffmpeg_fps ratio min max
for point in 256x192:500 720x576:100; do
  size=${point%%:*}; frames=${point##*:}
  src="$TMP/src_$size.y4m"
  ffmpeg -v error -y -f lavfi -i "testsrc2=size=$size:rate=25" -frames:v "$frames" -pix_fmt yuv420p "$src"
  ratios=(); ours_all=(); theirs_all=()
  for ((i = 0; i < RUNS; ++i)); do
    t_ours=$(seconds "$BIN/nvdtool" encode "$src" "$TMP/o.nvd" --qp 4 --keyint 12 "${EXTRA[@]}")
    t_theirs=$(seconds ffmpeg -v error -y -threads 1 -i "$src" -c:v mpeg4 -bf 0 -q:v 4 -g 12 -threads 1 -f m4v \
      "$TMP/f.m4v")
    ours=$(awk -v n="$frames" -v t="$t_ours" 'BEGIN { printf "%.1f", n / t }')
    theirs=$(awk -v n="$frames" -v t="$t_theirs" 'BEGIN { printf "%.1f", n / t }')
    ours_all+=("$ours"); theirs_all+=("$theirs")
    ratios+=("$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.3f", a / b }')")
  done
  median() { printf "%s\n" "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
  sorted=$(printf "%s\n" "${ratios[@]}" | sort -g)
  printf "%-9s %6s %10s %10s %8s %8s %8s\n" "$size" "$frames" "$(median "${ours_all[@]}")" \
    "$(median "${theirs_all[@]}")" "$(median "${ratios[@]}")" "$(echo "$sorted" | head -1)" \
    "$(echo "$sorted" | tail -1)"
done
