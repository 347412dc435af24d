#!/usr/bin/env bash
# Checks the release artefacts that `make dist` wrote into dist/ (`make dist-test`; .ci/run calls it after
# `make dist`):
#
#   linux    the tarball unpacks to zorbrix/{readme.txt, zorbrix, zorbrix.kf}; ldd lists only the C library's own
#            objects; played from the unpacked folder in Xvfb with openbox and a minimal environment
#   windows  the zip holds zorbrix/{readme.txt, zorbrix.exe, zorbrix.kf}; the exe imports only Windows' DLLs; played
#            under Wine in Xvfb with openbox
#   video    ffprobe: H.264 + AAC, 1920 x 1080, 60 fps, as long as the capture, audio as long as the video
#
# Each play: "Question" answered with Escape gives a 512 x 384 window titled "Zorbrix::LAN Invitation Intro" showing
# a moving picture; a key brings "Credits"; Return ends the program with status 1. A second run answers Return and
# the picture must fill the screen's height at 4:3, centred. Screenshots land in BUILD/test-output/dist_*.png.
# usage: tests/dist/run.sh BUILD [linux|windows|video]...   (default: all three)
set -uo pipefail

root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:?usage: run.sh BUILD [linux|windows|video]...}" && pwd)"
shift
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(linux windows video)
dist="$root/dist"
shots="$build/test-output"
mkdir -p "$shots"
export LC_ALL=C

TITLE="Zorbrix::LAN Invitation Intro"
SCREEN_W=1280
SCREEN_H=720
failures=0
checks=0

pass() { checks=$((checks + 1)); echo "  ok    $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "  FAIL  $*"; }
expect() {   # expect DESCRIPTION COMMAND...: passes when the command succeeds
  local what="$1"
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

tmp="$(mktemp -d)"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2> /dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# --- the X server, the window manager and the helpers that drive them ---------------------------------------------
display=""
start_x() {
  exec 3> "$tmp/displayfd"
  Xvfb -displayfd 3 -screen 0 "${SCREEN_W}x${SCREEN_H}x24" -nolisten tcp -noreset > "$tmp/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  local i
  for i in $(seq 1 150); do
    [ -s "$tmp/displayfd" ] && break
    sleep 0.1
  done
  display=":$(head -n1 "$tmp/displayfd")"
  [ "$display" != ":" ] || { echo "Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
  DISPLAY="$display" openbox > "$tmp/openbox.log" 2>&1 &
  pids+=($!)
  sleep 1
}

# The id of the mapped top-level window with exactly this title, if there is one. xwininfo lists windows by title
# whatever names Wine and SDL give them otherwise.
window_titled() {
  DISPLAY="$display" xwininfo -root -tree 2> /dev/null |
    awk -v t="\"$1\"" 'index($0, t) { print $1; exit }'
}

# wait_window TITLE SECONDS PID: prints the window's id once it is mapped and viewable; fails if the program ends or
# the time runs out.
wait_window() {
  local title="$1" seconds="$2" pid="$3" id i
  for i in $(seq 1 $((seconds * 5))); do
    id="$(window_titled "$title")"
    if [ -n "$id" ] && DISPLAY="$display" xwininfo -id "$id" 2> /dev/null | grep -q 'IsViewable'; then
      echo "$id"
      return 0
    fi
    kill -0 "$pid" 2> /dev/null || return 1
    sleep 0.2
  done
  return 1
}

# press WINDOW KEY: focus the window, then type the key through XTEST.
press() {
  DISPLAY="$display" timeout 15 xdotool windowactivate --sync "$1" > /dev/null 2>&1 ||
    DISPLAY="$display" timeout 15 xdotool windowfocus --sync "$1" > /dev/null 2>&1
  sleep 0.3
  DISPLAY="$display" timeout 15 xdotool key "$2"
}

# shot WINDOW FILE: the window's pixels, cut from a picture of the whole screen (grabbing the window itself can wait
# forever on some windows).
shot() {
  local geometry
  geometry="$(DISPLAY="$display" xwininfo -id "$1" |
    awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 } /Width:/ { w = $2 }
         /Height:/ { h = $2 } END { print w "x" h "+" x "+" y }')"
  DISPLAY="$display" timeout 30 import -window root -crop "$geometry" +repage "$2"
}

size_of() { DISPLAY="$display" xwininfo -id "$1" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }'; }

# wait_exit PID SECONDS: the program's exit status, or 124 when it did not end in time (then it is killed).
wait_exit() {
  local pid="$1" seconds="$2" i
  for i in $(seq 1 $((seconds * 10))); do
    if ! kill -0 "$pid" 2> /dev/null; then
      wait "$pid"
      return $?
    fi
    sleep 0.1
  done
  kill -9 "$pid" 2> /dev/null
  wait "$pid" 2> /dev/null
  return 124
}

# The standard deviation of a picture's brightness, 0 to 100: a flat or black picture is near 0.
spread() { convert "$1" -colorspace gray -format '%[fx:int(100*standard_deviation)]' info:; }
# The part of the screen that is not black: WIDTHxHEIGHT+X+Y.
lit_box() { convert "$1" -bordercolor black -border 1 -fuzz "${2:-0}" -trim -format '%wx%h+%[fx:page.x-1]+%[fx:page.y-1]' info:; }

# box_near BOX W H X Y TOLERANCE: the box's size and place are each within TOLERANCE pixels of the given ones.
box_near() {
  local w h x y
  IFS='x+' read -r w h x y <<< "$1"
  [ -n "$y" ] || return 1
  local d
  for d in $((w - $2)) $((h - $3)) $((x - $4)) $((y - $5)); do
    [ "${d#-}" -le "$6" ] || return 1
  done
}

# play NAME DIR COMMAND...: the two runs described above; COMMAND starts the program from DIR.
play() {
  local name="$1" dir="$2"
  shift 2
  local pid id size status

  echo "  ($name: windowed run)"
  (cd "$dir" && exec "$@") > "$tmp/$name-1.out" 2> "$tmp/$name-1.err" &
  pid=$!
  pids+=($pid)
  if id="$(wait_window Question 60 $pid)"; then
    pass "$name: \"Question\" box shown"
    press "$id" Escape
  else
    fail "$name: no \"Question\" box"; kill -9 $pid 2> /dev/null; cat "$tmp/$name-1.err"; return
  fi
  if id="$(wait_window "$TITLE" 60 $pid)"; then
    pass "$name: window \"$TITLE\""
    size="$(size_of "$id")"
    expect "$name: window is 512x384 (it is $size)" test "$size" = 512x384
    sleep 5
    shot "$id" "$shots/dist_${name}_window_1.png"
    sleep 1
    shot "$id" "$shots/dist_${name}_window_2.png"
    expect "$name: the window shows a picture (spread $(spread "$shots/dist_${name}_window_1.png"))" \
      test "$(spread "$shots/dist_${name}_window_1.png")" -ge 3
    expect "$name: the picture moves" \
      test "$(compare -metric AE "$shots/dist_${name}_window_1.png" "$shots/dist_${name}_window_2.png" null: 2>&1 |
              cut -d' ' -f1)" -gt 1000
    press "$id" space
  else
    fail "$name: no window \"$TITLE\""; kill -9 $pid 2> /dev/null; cat "$tmp/$name-1.err"; return
  fi
  if id="$(wait_window Credits 30 $pid)"; then
    pass "$name: \"Credits\" box shown"
    press "$id" Return
  else
    fail "$name: no \"Credits\" box"
  fi
  wait_exit $pid 30
  status=$?
  expect "$name: exit status 1 (it is $status)" test $status -eq 1

  echo "  ($name: full-screen run)"
  (cd "$dir" && exec "$@") > "$tmp/$name-2.out" 2> "$tmp/$name-2.err" &
  pid=$!
  pids+=($pid)
  if id="$(wait_window Question 60 $pid)"; then
    press "$id" Return
  else
    fail "$name: no \"Question\" box (second run)"; kill -9 $pid 2> /dev/null; return
  fi
  if id="$(wait_window "$TITLE" 60 $pid)"; then
    sleep 5
    DISPLAY="$display" timeout 30 import -window root "$shots/dist_${name}_fullscreen.png"
    local box want_w=$((SCREEN_H * 4 / 3))
    box="$(lit_box "$shots/dist_${name}_fullscreen.png")"
    # The picture's outermost pixel or two are black themselves (video edge, ornaments' margins): allow two picture
    # pixels, 4 screen pixels at this scale, on each side.
    expect "$name: full-screen picture $box is ${want_w}x${SCREEN_H}+$(((SCREEN_W - want_w) / 2))+0 within 4 pixels" \
      box_near "$box" "$want_w" "$SCREEN_H" $(((SCREEN_W - want_w) / 2)) 0 4
    press "$id" space
    if id="$(wait_window Credits 30 $pid)"; then press "$id" Return; fi
  else
    fail "$name: no full-screen window"
  fi
  wait_exit $pid 30
  status=$?
  expect "$name: exit status 1 after full screen (it is $status)" test $status -eq 1
}

# --- the Linux tarball --------------------------------------------------------------------------------------------
test_linux() {
  echo "linux: dist/zorbrix-linux-x86_64.tar.gz"
  local tarball="$dist/zorbrix-linux-x86_64.tar.gz"
  [ -f "$tarball" ] || { fail "linux: $tarball is missing (make dist)"; return; }
  mkdir -p "$tmp/linux"
  tar -xzf "$tarball" -C "$tmp/linux"
  expect "linux: the tarball holds zorbrix/{readme.txt,zorbrix,zorbrix.kf}" \
    test "$(tar -tzf "$tarball" | sort | tr '\n' ' ')" = "zorbrix/ zorbrix/readme.txt zorbrix/zorbrix zorbrix/zorbrix.kf "
  expect "linux: every entry owned by 0/0 and dated alike" \
    test "$(tar -tvzf "$tarball" | awk '{ print $2, $4, $5 }' | sort -u | wc -l)" -eq 1 -a \
    "$(tar -tvzf "$tarball" | awk '{ print $2 }' | sort -u)" = "0/0"
  local exe="$tmp/linux/zorbrix/zorbrix" libs
  libs="$(ldd "$exe" | awk '{ print $1 }' | sed 's/\.so.*//' | sort | tr '\n' ' ')"
  echo "  ldd: $libs"
  local unexpected
  unexpected="$(ldd "$exe" | awk '{ print $1 }' |
    grep -v -E '^(linux-vdso\.so\.1|/lib64/ld-linux-x86-64\.so\.2|lib(c|m|pthread|dl|rt)\.so\.[0-9]+)$')"
  expect "linux: ldd lists only the C library's own objects${unexpected:+ (also: $(echo $unexpected))}" \
    test -z "$unexpected"
  start_x
  play linux "$tmp/linux/zorbrix" env -i DISPLAY="$display" HOME="$tmp" ./zorbrix
}

# --- the Windows zip ----------------------------------------------------------------------------------------------
test_windows() {
  echo "windows: dist/zorbrix-windows-x64.zip"
  local zipfile="$dist/zorbrix-windows-x64.zip"
  [ -f "$zipfile" ] || { fail "windows: $zipfile is missing (make dist)"; return; }
  mkdir -p "$tmp/windows"
  unzip -q "$zipfile" -d "$tmp/windows"
  expect "windows: the zip holds zorbrix/{readme.txt,zorbrix.exe,zorbrix.kf}" \
    test "$(unzip -Z1 "$zipfile" | sort | tr '\n' ' ')" = "zorbrix/readme.txt zorbrix/zorbrix.exe zorbrix/zorbrix.kf "
  expect "windows: every entry dated alike" test "$(zipinfo -T "$zipfile" | awk '/^-/ { print $7 }' | sort -u | wc -l)" -eq 1
  local dlls unexpected
  dlls="$(x86_64-w64-mingw32-objdump -p "$tmp/windows/zorbrix/zorbrix.exe" | awk '/DLL Name:/ { print $3 }' | sort)"
  echo "  imports: $(echo $dlls)"
  # Windows' own system DLLs; anything from a compiler or a third-party library (SDL2, libstdc++, libgcc,
  # winpthread, zlib) would have to ship beside the exe.
  unexpected="$(echo "$dlls" | grep -v -i -x -E '(kernel32|user32|gdi32|winmm|imm32|ole32|oleaut32|shell32|setupapi|version|advapi32|msvcrt|cfgmgr32|dinput8|dxguid|uuid|ws2_32|api-ms-win-[a-z0-9-]+)\.dll')"
  expect "windows: the exe imports only Windows' own DLLs${unexpected:+ (also: $(echo $unexpected))}" \
    test -z "$unexpected"
  # Debian's wine64 package installs its programs there, without the wrappers of the wine package.
  local wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
  # A prefix of its own, kept in the build folder: making one takes Wine a while.
  export WINEPREFIX="$build/dist-wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  start_x
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "  (making a Wine prefix)"
    DISPLAY="$display" "$wine" wineboot --init > "$tmp/wineboot.log" 2>&1
    "$wineserver" -w
  fi
  play windows "$tmp/windows/zorbrix" env DISPLAY="$display" "$wine" ./zorbrix.exe
  "$wineserver" -k > /dev/null 2>&1
}

# --- the video ----------------------------------------------------------------------------------------------------
test_video() {
  echo "video: dist/zorbrix.mp4"
  local mp4="$dist/zorbrix.mp4"
  [ -f "$mp4" ] || { fail "video: $mp4 is missing (make dist)"; return; }
  probe() { ffprobe -v error -select_streams "$1" -show_entries "$2" -of default=nw=1:nk=1 "$mp4" | head -n1; }
  expect "video: H.264 video" test "$(probe v:0 stream=codec_name)" = h264
  expect "video: AAC audio" test "$(probe a:0 stream=codec_name)" = aac
  expect "video: 1920x1080" test "$(probe v:0 stream=width)x$(probe v:0 stream=height)" = 1920x1080
  expect "video: 60 fps" test "$(probe v:0 stream=avg_frame_rate)" = 60/1
  local frames vdur adur
  frames="$(cat "$dist/.zorbrix.mp4.frames" 2> /dev/null)"
  vdur="$(probe v:0 stream=duration)"
  adur="$(probe a:0 stream=duration)"
  echo "  capture: ${frames:-?} frames; video ${vdur} s, audio ${adur} s"
  expect "video: as long as the capture, within one frame" \
    awk -v f="${frames:-0}" -v d="$vdur" 'BEGIN { exit !(f > 0 && (d - f / 60) ^ 2 <= (1 / 60) ^ 2) }'
  expect "video: audio as long as the video, within one frame" \
    awk -v a="$adur" -v d="$vdur" 'BEGIN { exit !(a > 0 && (a - d) ^ 2 <= (1 / 60) ^ 2) }'
  # The picture's outermost pixel or two are dark themselves: allow two picture pixels (6 at this scale).
  local box
  box="$(ffmpeg -v error -ss 5 -i "$mp4" -frames:v 1 -f image2 -c:v png - | lit_box - 1%)"
  expect "video: the picture $box is 1440x1080+240+0 (pillarboxed 4:3) within 6 pixels" \
    box_near "$box" 1440 1080 240 0 6
}

for part in "${parts[@]}"; do
  case "$part" in
    linux | windows | video) "test_$part" ;;
    *) echo "run.sh: unknown part '$part' (linux, windows or video)" >&2; exit 2 ;;
  esac
  # One X server per part.
  for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null; done
  pids=()
done

echo "dist tests: $((checks - failures)) of $checks checks passed"
[ $failures -eq 0 ]
