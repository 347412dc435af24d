#!/usr/bin/env bash
# Installs the Debian packages Zorbrix needs to build, test, benchmark and fuzz. Idempotent: installs only what is
# missing, runs apt-get update only when something is. Works as root, and through sudo otherwise.
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
  # test and benchmark frameworks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # libraries the intro links
  libsdl2-dev libxmp-dev libasound2-dev zlib1g-dev libjpeg62-turbo-dev libfreetype-dev fonts-dejavu-core
  # end-to-end tests in a real X server (the test talks Xlib itself; the message boxes draw with core X fonts)
  xvfb xfonts-base xdotool openbox x11-utils imagemagick libx11-dev
  # independent peers and checks: video streams and quality, sound levels, a second XM player
  ffmpeg sox openmpt123
)

missing=()
for pkg in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$pkg")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo > /dev/null; then
    echo "install-deps: missing packages (${missing[*]}) and no sudo; run this script as root" >&2
    exit 1
  fi
  SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
