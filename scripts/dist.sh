#!/usr/bin/env bash
# `make dist`: the release artefacts in dist/, from a normal build in BUILD (which made the data, kftool and the
# capture tool):
#
#   dist/zorbrix-linux-x86_64.tar.gz   zorbrix/{zorbrix, zorbrix.kf, readme.txt}, needs only the C library
#   dist/zorbrix-windows-x64.zip       zorbrix/{zorbrix.exe, zorbrix.kf, readme.txt}, needs only Windows' DLLs
#   dist/zorbrix.mp4                   the whole intro at 60 fps, 1920 x 1080, H.264 + AAC
#
# The archives are reproducible: SOURCE_DATE_EPOCH (default: the date of the last commit) fixes every date, names
# are sorted, owners fixed, and the executables carry no build paths or link dates.
# usage: scripts/dist.sh BUILD [linux|windows|video]...   (default: all three)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
build="$(cd "${1:?usage: dist.sh BUILD [linux|windows|video]...}" && pwd)"
shift
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(linux windows video)
jobs="${JOBS:-$(nproc)}"
export LC_ALL=C TZ=UTC

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH="$(git -C "$root" log -1 --format=%ct 2> /dev/null || echo 0)"
fi
export SOURCE_DATE_EPOCH

out="$root/dist"
work="$build/dist"
mkdir -p "$out" "$work"

for tool in kftool zorbrix-capture; do
  [ -x "$build/bin/$tool" ] || { echo "dist: $build/bin/$tool is missing; run make build first" >&2; exit 1; }
done
[ -f "$build/data/ambient3.xm" ] || { echo "dist: no generated data in $build/data; run make build first" >&2; exit 1; }

# The data archive, packed again with the fixed date so its bytes depend on the commit only.
archive="$work/zorbrix.kf"
rm -f "$archive"
(cd "$build/data" && "$build/bin/kftool" create "$archive" --lzw *.tga --zlib ambient3.xm --store zorbrix.nvd > /dev/null)

# stage NAME EXE: the folder zorbrix/ with the program, the data and the readme, every date fixed.
stage() {
  local dir="$work/stage-$1" exe="$2" exe_name="$3" newline="$4"
  rm -rf "$dir"
  mkdir -p "$dir/zorbrix"
  install -m 755 "$exe" "$dir/zorbrix/$exe_name"
  install -m 644 "$archive" "$dir/zorbrix/zorbrix.kf"
  if [ "$newline" = crlf ]; then
    sed 's/$/\r/' "$root/docs/readme.txt" > "$dir/zorbrix/readme.txt"
  else
    cp "$root/docs/readme.txt" "$dir/zorbrix/readme.txt"
  fi
  chmod 644 "$dir/zorbrix/readme.txt"
  chmod 755 "$dir/zorbrix"
  find "$dir" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  echo "$dir"
}

# release_build TARGET DIR [CMAKE ARGS...]: the intro alone, statically linked against the third-party builds.
release_build() {
  local target="$1" dir="$2"
  shift 2
  JOBS="$jobs" bash "$root/scripts/build-thirdparty.sh" "$target" "$build/thirdparty"
  cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZORBRIX_DIST=ON "$@" > /dev/null
  cmake --build "$dir" -j "$jobs" --target zorbrix > "$dir/build.log" 2>&1 || { tail -40 "$dir/build.log" >&2; exit 1; }
}

linux() {
  echo "dist: Linux build"
  release_build linux "$build/dist-linux" -DZORBRIX_THIRDPARTY_PREFIX="$build/thirdparty/linux-x86_64"
  local dir
  dir="$(stage linux "$build/dist-linux/bin/zorbrix" zorbrix lf)"
  tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" --format=gnu \
      -C "$dir" -cf - zorbrix | gzip -9n > "$out/zorbrix-linux-x86_64.tar.gz.part"
  mv "$out/zorbrix-linux-x86_64.tar.gz.part" "$out/zorbrix-linux-x86_64.tar.gz"
  echo "dist: $(du -h "$out/zorbrix-linux-x86_64.tar.gz" | cut -f1)  dist/zorbrix-linux-x86_64.tar.gz"
}

windows() {
  echo "dist: Windows build"
  release_build windows "$build/dist-windows" -DZORBRIX_THIRDPARTY_PREFIX="$build/thirdparty/windows-x64" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake"
  local dir
  dir="$(stage windows "$build/dist-windows/bin/zorbrix.exe" zorbrix.exe crlf)"
  rm -f "$out/zorbrix-windows-x64.zip.part"
  (cd "$dir" && zip -X -9 -q -D "$out/zorbrix-windows-x64.zip.part" \
     zorbrix/readme.txt zorbrix/zorbrix.exe zorbrix/zorbrix.kf)
  mv "$out/zorbrix-windows-x64.zip.part" "$out/zorbrix-windows-x64.zip"
  echo "dist: $(du -h "$out/zorbrix-windows-x64.zip" | cut -f1)  dist/zorbrix-windows-x64.zip"
}

# The video: the capture tool renders every frame at 60 fps with the soundtrack; the 512 x 384 picture is enlarged
# 3x with hard pixel edges and brought to the full 1080 height with an area filter (even pixel sizes, no blur inside
# a pixel), pillarboxed to 1920 x 1080, and converted to the HD colour matrix. The video goes through an mp4 of its
# own (its time base holds 1/60 s exactly) before the sound is added. Rendered again only when the data, the
# capture tool or this recipe changed.
video() {
  local stamp="$work/video.stamp" text
  # The data files, not the archive, whose date stamps follow the commit.
  text="$( (cat "$build"/data/* "$build/bin/zorbrix-capture"; declare -f video) | sha256sum | cut -d' ' -f1)"
  if [ -f "$out/zorbrix.mp4" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$text" ]; then
    echo "dist: dist/zorbrix.mp4 is up to date"
    return 0
  fi
  echo "dist: rendering the intro at 60 fps for dist/zorbrix.mp4"
  rm -f "$stamp"
  local tmp="$work/video"
  rm -rf "$tmp"
  mkdir -p "$tmp/run"
  cp "$archive" "$tmp/run/zorbrix.kf"
  (cd "$tmp/run" && "$build/bin/zorbrix-capture" - --fps 60 --wav "$tmp/intro.wav" --log "$tmp/capture.log") |
    ffmpeg -nostdin -hide_banner -loglevel error -y -f yuv4mpegpipe -i - \
      -vf "scale=iw*3:ih*3:flags=neighbor,scale=1440:1080:flags=area:in_color_matrix=bt601:out_color_matrix=bt709,pad=1920:1080:240:0:black,setsar=1" \
      -c:v libx264 -preset veryfast -crf 18 -pix_fmt yuv420p \
      -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv "$tmp/video.mp4"
  ffmpeg -nostdin -hide_banner -loglevel error -y -i "$tmp/video.mp4" -i "$tmp/intro.wav" -map 0:v -map 1:a \
    -c:v copy -c:a aac -b:a 192k -movflags +faststart -map_metadata -1 "$tmp/zorbrix.mp4"
  mv "$tmp/zorbrix.mp4" "$out/zorbrix.mp4"
  # The frame count (the log's lines less its comments), for the check that the video is as long as the capture.
  grep -c -v '^#' "$tmp/capture.log" > "$out/.zorbrix.mp4.frames"
  rm -rf "$tmp"
  echo "$text" > "$stamp"
  echo "dist: $(du -h "$out/zorbrix.mp4" | cut -f1)  dist/zorbrix.mp4"
}

for part in "${parts[@]}"; do
  case "$part" in
    linux | windows | video) "$part" ;;
    *) echo "dist: unknown part '$part' (linux, windows or video)" >&2; exit 2 ;;
  esac
done
