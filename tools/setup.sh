#!/usr/bin/env bash
# Installs everything quenrik needs to build, run and test on Debian 12.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
packages=(
  # build
  build-essential cmake ninja-build pkg-config
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
  # images: PNG in and out, JPEG for the speed comparison, fonts for the cards
  libpng-dev libturbojpeg0-dev libfreetype-dev fonts-dejavu-core
  # music: decoding and encoding MP3
  libmpg123-dev libmp3lame-dev sox libsox-fmt-mp3
  # window, GL (desktop, and GLES2 for the fixed-function layer), sound output (a sound server, ALSA, SDL)
  libpulse-dev libasound2-dev libsdl2-dev libgl1-mesa-dri libglu1-mesa-dev libegl-dev libgl-dev libgles-dev mesa-common-dev
  # dialog; the display guardian (X11, XRandR)
  libgtk-3-dev libx11-dev libxrandr-dev
  # video capture
  libavcodec-dev libavformat-dev libswscale-dev libavutil-dev ffmpeg
  # headless displays and driving them in tests
  xvfb xauth xdotool imagemagick x11-utils x11-xserver-utils
  xserver-xorg-core xserver-xorg-video-dummy openbox
  # packages (tools/package.sh) and their install tests: a fresh Debian root, checks
  dpkg-dev lintian mmdebstrap desktop-file-utils unzip
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q -o DPkg::Lock::Timeout=600 "${missing[@]}"
fi

# --- Windows build and its Wine tests (tests/windows), sound server tests ---
# Cross compiler, 64-bit Wine, a sound server for waveOut and the music clock's
# tests (with pactl and ALSA's plugin to reach it), and the X libraries Wine's
# display driver loads at run time (only recommendations of wine, so named
# here: these packages go in without their recommendations).
windows_packages=(
  g++-mingw-w64-x86-64 wine wine64 pulseaudio pulseaudio-utils libasound2-plugins
  libxrandr2 libxxf86vm1 libxrender1 libxi6 libgl1 libgl1-mesa-dri
)
missing=()
for p in "${windows_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 \
    "${missing[@]}"
fi

# --- The image codec for ARM64, its tests run under qemu (tools/test-hwl-portable.sh) ---
# The cross compiler, and libpng and GoogleTest built for arm64 from Debian's
# arm64 architecture (linked statically into the test programs).
arm64_packages=(g++-aarch64-linux-gnu qemu-user libpng-dev:arm64 libgtest-dev:arm64)
missing=()
for p in "${arm64_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx arm64 || $SUDO dpkg --add-architecture arm64
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 \
    "${missing[@]}"
fi
