#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine. Idempotent: when every
# package is already there it installs nothing and does not touch the network.
set -euo pipefail

packages=(
  cmake ninja-build g++ googletest libgtest-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32:i386 fonts-wine
  xvfb xdotool imagemagick fonts-noto-cjk x11-utils
  icoutils llvm zip python3 python3-pefile procps util-linux
  clang libclang-rt-14-dev clang-tidy cppcheck clang-format
  # The click heard: a General MIDI synthesiser, the smallest GM sound font, the ALSA tools.
  fluidsynth timgm6mb-soundfont alsa-utils
)

# The timing benchmark also plots.
if [ "${1:-}" = --bench ]; then
  packages+=(gnuplot-nox gcc)
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "install-deps: adding the i386 architecture"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  missing+=(--update)
fi
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi
pkgs=()
for p in "${missing[@]}"; do [ "$p" = --update ] || pkgs+=("$p"); done
echo "install-deps: installing ${pkgs[*]:-(package lists only)}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
if [ "${#pkgs[@]}" -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${pkgs[@]}"
fi
