#!/usr/bin/env bash
# Builds the third-party libraries the release executables link statically, from Debian's own source packages of
# the release this machine runs (versions pinned below):
#
#   scripts/build-thirdparty.sh linux   CACHE_DIR    SDL2 and libxmp for the portable Linux build (SDL2 loads X11,
#                                                     Wayland, ALSA and PulseAudio itself at run time)
#   scripts/build-thirdparty.sh windows CACHE_DIR    SDL2, libxmp and libjpeg-turbo for 64-bit Windows (MinGW-w64)
#
# Sources are fetched once into CACHE_DIR/src; each target installs into CACHE_DIR/<target> and leaves a stamp
# there, so a second run with the same versions and the same script does nothing. zlib, and libjpeg for Linux,
# come from Debian's binary packages (libz-mingw-w64-dev, zlib1g-dev, libjpeg62-turbo-dev) as static archives.
set -euo pipefail

SDL2_VERSION="2.26.5+dfsg-1"
XMP_VERSION="4.5.0-2"
JPEG_VERSION="1:2.1.5-2"

target="${1:?usage: build-thirdparty.sh linux|windows CACHE_DIR}"
cache="${2:?usage: build-thirdparty.sh linux|windows CACHE_DIR}"
jobs="${JOBS:-2}"
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"

case "$target" in
  linux) prefix="$cache/linux-x86_64" ;;
  windows) prefix="$cache/windows-x64" ;;
  *) echo "build-thirdparty: unknown target '$target' (linux or windows)" >&2; exit 2 ;;
esac

stamp_text="$SDL2_VERSION $XMP_VERSION $JPEG_VERSION $(sha256sum "$0" | cut -d' ' -f1)"
if [ -f "$prefix/.stamp" ] && [ "$(cat "$prefix/.stamp")" = "$stamp_text" ]; then
  exit 0
fi

# --- sources: Debian's source packages, unpacked with their patches applied ---------------------------------------
src="$cache/src"
mkdir -p "$src"
fetch() {   # fetch PACKAGE VERSION DIR
  local package="$1" version="$2" dir="$3"
  [ -d "$src/$dir" ] && return 0
  if ! apt-cache showsrc "$package" 2> /dev/null | grep -q -x -F "Version: $version"; then
    echo "build-thirdparty: apt knows no source package $package $version: it needs a deb-src entry" \
         "(scripts/install-deps.sh adds one), or the pinned version above has left the archive" >&2
    exit 1
  fi
  echo "build-thirdparty: fetching the source package $package $version"
  (cd "$src" && apt-get source -qq "$package=$version" > /dev/null)
  [ -d "$src/$dir" ] || { echo "build-thirdparty: $package did not unpack into $dir" >&2; exit 1; }
}
fetch libsdl2 "$SDL2_VERSION" "libsdl2-2.26.5+dfsg"
fetch libxmp "$XMP_VERSION" "libxmp-4.5.0"
[ "$target" = windows ] && fetch libjpeg-turbo "$JPEG_VERSION" "libjpeg-turbo-2.1.5"

rm -rf "$prefix"
work="$cache/work-$target"
rm -rf "$work"
mkdir -p "$work" "$prefix"

# No build paths in the objects, so the executables are the same bytes wherever the tree is checked out.
common_cflags="-O2 -ffile-prefix-map=$cache=/thirdparty -ffile-prefix-map=$root=."
cmake_common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib
              -DCMAKE_C_FLAGS_RELEASE="$common_cflags -DNDEBUG" -DBUILD_SHARED_LIBS=OFF)
if [ "$target" = windows ]; then
  cmake_common+=(-DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake")
  host=x86_64-w64-mingw32
  cc=x86_64-w64-mingw32-gcc-posix
  ar=x86_64-w64-mingw32-gcc-ar-posix
  ranlib=x86_64-w64-mingw32-gcc-ranlib-posix
else
  host=x86_64-linux-gnu
  cc=gcc
  ar=gcc-ar
  ranlib=gcc-ranlib
fi

# --- SDL2 -----------------------------------------------------------------------------------------------------------
# Only what the intro uses: video, audio, events, timers, message boxes. On Linux every system library (X11, Wayland,
# libdecor, ALSA, PulseAudio, D-Bus; PipeWire where its headers are installed) is opened at run time, so the
# executable depends on none of them.
sdl_options=(-DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_TESTS=OFF
             -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF -DSDL_VULKAN=OFF)
if [ "$target" = linux ]; then
  sdl_options+=(-DSDL_STATIC_PIC=ON -DSDL_DEPS_SHARED=ON
                -DSDL_X11_SHARED=ON -DSDL_WAYLAND_SHARED=ON -DSDL_WAYLAND_LIBDECOR_SHARED=ON
                -DSDL_ALSA_SHARED=ON -DSDL_PULSEAUDIO_SHARED=ON -DSDL_PIPEWIRE_SHARED=ON -DSDL_KMSDRM_SHARED=ON
                -DSDL_JACK=OFF -DSDL_SNDIO=OFF -DSDL_LIBSAMPLERATE=OFF -DSDL_LIBUDEV=OFF -DSDL_RPI=OFF
                -DSDL_DIRECTFB=OFF -DSDL_ESD=OFF -DSDL_ARTS=OFF -DSDL_NAS=OFF -DSDL_FUSIONSOUND=OFF)
fi
echo "build-thirdparty: SDL2 for $target"
cmake -S "$src/libsdl2-2.26.5+dfsg" -B "$work/sdl2" "${cmake_common[@]}" "${sdl_options[@]}" > "$work/sdl2.log" 2>&1 \
  || { tail -30 "$work/sdl2.log" >&2; exit 1; }
cmake --build "$work/sdl2" -j "$jobs" >> "$work/sdl2.log" 2>&1 || { tail -30 "$work/sdl2.log" >&2; exit 1; }
cmake --install "$work/sdl2" >> "$work/sdl2.log" 2>&1

# --- libxmp (autotools; built in a copy of the tree, which does not build out of place) ---------------------------
echo "build-thirdparty: libxmp for $target"
cp -a "$src/libxmp-4.5.0" "$work/xmp"
(
  cd "$work/xmp"
  CC="$cc" AR="$ar" RANLIB="$ranlib" CFLAGS="$common_cflags" \
    ./configure --host="$host" --prefix="$prefix" --libdir="$prefix/lib" --enable-static --disable-shared
  make -j "$jobs"
  make install
) > "$work/xmp.log" 2>&1 || { tail -30 "$work/xmp.log" >&2; exit 1; }

# --- libjpeg-turbo (Windows only; Linux uses Debian's static libjpeg.a) --------------------------------------------
# Its install rules take a relative library folder as relative to the current one, hence the absolute one.
if [ "$target" = windows ]; then
  echo "build-thirdparty: libjpeg-turbo for $target"
  cmake -S "$src/libjpeg-turbo-2.1.5" -B "$work/jpeg" "${cmake_common[@]}" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DWITH_JPEG8=OFF \
    -DCMAKE_INSTALL_LIBDIR="$prefix/lib" \
    > "$work/jpeg.log" 2>&1 || { tail -30 "$work/jpeg.log" >&2; exit 1; }
  cmake --build "$work/jpeg" -j "$jobs" >> "$work/jpeg.log" 2>&1 || { tail -30 "$work/jpeg.log" >&2; exit 1; }
  cmake --install "$work/jpeg" >> "$work/jpeg.log" 2>&1
fi

rm -rf "$work"
echo "$stamp_text" > "$prefix/.stamp"
