#!/usr/bin/env bash
# Installs the Debian packages Zorbrix needs to build, test, benchmark and fuzz. Idempotent: installs only what is
# missing, runs apt-get update only when something is. Works as root, and through sudo otherwise.
set -euo pipefail

PACKAGES=(
  # toolchain
  cmake ninja-build pkg-config g++ clang libclang-rt-14-dev clang-format
  # test and benchmark frameworks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # libraries the intro links
  libsdl2-dev libxmp-dev libasound2-dev zlib1g-dev libjpeg62-turbo-dev libfreetype-dev fonts-dejavu-core
  # end-to-end tests in a real X server (the test talks Xlib itself; the message boxes draw with core X fonts)
  xvfb xfonts-base xdotool openbox x11-utils imagemagick libx11-dev
  # independent peers and checks: video streams and quality, sound levels, a second XM player
  ffmpeg sox openmpt123
  # the release (make dist): the Windows cross toolchain and zlib for it, Debian's source packages of SDL2, libxmp
  # and libjpeg-turbo (dpkg-dev unpacks them), the archivers, and Wine and a window manager for the release tests
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev zip unzip wine64 openbox
)

SUDO=()
if [ "$(id -u)" -ne 0 ] && command -v sudo > /dev/null; then
  SUDO=(sudo)
fi

# The release builds SDL2, libxmp and libjpeg-turbo from Debian's own source packages: apt needs a deb-src entry
# for the release this machine runs.
if ! apt-cache showsrc libsdl2 2> /dev/null | grep -q '^Package:'; then
  codename="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  echo "install-deps: adding a deb-src entry for $codename"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$codename" "$codename" | "${SUDO[@]}" tee /etc/apt/sources.list.d/zorbrix-deb-src.sources > /dev/null
  "${SUDO[@]}" apt-get update -qq
fi

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
