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
# Installs those of the given packages that are missing; after
# --no-install-recommends, without their recommendations.
InstallMissing() {
  local options=() missing=() p
  if [ "$1" = --no-install-recommends ]; then options+=("$1"); shift; fi
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q "${options[@]}" -o DPkg::Lock::Timeout=600 \
      "${missing[@]}"
  fi
}
InstallMissing "${packages[@]}"

# --- Windows build and its Wine tests (tests/windows), sound server tests ---
# Cross compiler, 64-bit Wine, a sound server for waveOut and the music clock's
# tests (with pactl and ALSA's plugin to reach it), and the X libraries Wine's
# display driver loads at run time (only recommendations of wine, so named
# here: these packages go in without their recommendations).
windows_packages=(
  g++-mingw-w64-x86-64 wine wine64 pulseaudio pulseaudio-utils libasound2-plugins
  libxrandr2 libxxf86vm1 libxrender1 libxi6 libgl1 libgl1-mesa-dri
)
InstallMissing --no-install-recommends "${windows_packages[@]}"

# --- The browser build and its tests (tools/build-web.sh, tests/web) ---
# Emscripten (its optimizer needs Debian's acorn), Chromium for the tests
# (headless, SwiftShader's WebGL); no recommendations (they pull in a desktop).
web_packages=(emscripten node-acorn chromium dpkg-dev)
InstallMissing --no-install-recommends "${web_packages[@]}"

# libmpg123 for WebAssembly is built from Debian's source of the installed
# libmpg123 (same version, Debian's patches applied), unpacked once into
# /usr/local/src/quenrik/mpg123. apt fetches it with a private source list, so
# the system's apt configuration stays as it is.
mpg123_version=$(dpkg-query -W -f='${Version}' libmpg123-dev)
mpg123_dir=/usr/local/src/quenrik/mpg123
if [ "$(cat "$mpg123_dir/.debian-version" 2>/dev/null)" != "$mpg123_version" ]; then
  echo "setup: fetching the source of mpg123 $mpg123_version"
  apt_dir=$(mktemp -d)
  trap 'rm -rf "$apt_dir"' EXIT
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/source"
  printf 'deb-src http://deb.debian.org/debian bookworm main\ndeb-src http://deb.debian.org/debian-security bookworm-security main\n' \
    > "$apt_dir/sources.list"
  apt_options=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
               -o Dir::State::Lists="$apt_dir/lists" -o APT::Sandbox::User=root)
  $SUDO apt-get "${apt_options[@]}" update -qq
  # The upstream signature (.asc) the .dsc names is not on the mirror; the
  # tarballs are checked below against the .dsc, which apt has verified.
  (cd "$apt_dir/source" &&
    $SUDO apt-get "${apt_options[@]}" source --download-only "mpg123=$mpg123_version" >"$apt_dir/log" 2>&1 || true)
  dsc=$(ls "$apt_dir"/source/*.dsc 2>/dev/null) || { cat "$apt_dir/log"; exit 1; }
  awk '/^Checksums-Sha256:/ {on = 1; next} /^[^ ]/ {on = 0} on && $3 !~ /\.asc$/ {print $1 "  " $3}' "$dsc" \
    | (cd "$apt_dir/source" && sha256sum --check --quiet)
  $SUDO rm -rf "$mpg123_dir"
  $SUDO mkdir -p "$mpg123_dir"
  $SUDO tar -xf "$apt_dir"/source/*.orig.tar.* -C "$mpg123_dir" --strip-components=1
  $SUDO tar -xf "$apt_dir"/source/*.debian.tar.* -C "$mpg123_dir"
  for patch in $(cat "$mpg123_dir/debian/patches/series" 2>/dev/null); do
    $SUDO patch -s -p1 -d "$mpg123_dir" < "$mpg123_dir/debian/patches/$patch"
  done
  echo "$mpg123_version" | $SUDO tee "$mpg123_dir/.debian-version" >/dev/null
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
