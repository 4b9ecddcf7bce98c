#!/usr/bin/env bash
# Makes quenrik's packages with cpack (cmake/install.cmake, cmake/package.cmake):
#   out/quenrik_VERSION_amd64.deb            the Debian package (Depends from dpkg-shlibdeps)
#   out/quenrik-VERSION-linux-x86_64.tar.gz  the installed tree, for other Linux systems
#   out/quenrik-VERSION-win64.zip            quenrik.exe, data\ and README.txt (MinGW build)
#
#   bash tools/package.sh [--out DIR] [--build DIR] [--windows-build DIR] [--no-windows]
#
# Builds into build-package/ (Release with Debian's hardening flags) and
# build-windows/ (tools/build-windows.sh), then checks the Debian package with
# lintian. A missing tool stops it before anything is built. The packages are
# made in a hidden folder inside the output folder and moved in only when all
# of them are made and checked: a failure leaves nothing new there.
set -euo pipefail
cd "$(dirname "$0")/.."
out=out build=build-package windows_build=build-windows windows=1
while [ $# -gt 0 ]; do
  case $1 in
    --out) out=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --windows-build) windows_build=$2; shift 2 ;;
    --no-windows) windows=0; shift ;;
    *) echo "usage: bash tools/package.sh [--out DIR] [--build DIR] [--windows-build DIR] [--no-windows]" >&2
       exit 64 ;;
  esac
done
jobs=${JOBS:-$(nproc)}
Fail() {
  echo "package: $*" >&2
  exit 1
}

# Every tool the packages need, with the Debian package that has it.
tools=(
  "cmake cmake" "cpack cmake" "ninja ninja-build" "c++ g++" "pkg-config pkg-config"
  "dpkg-buildflags dpkg-dev" "dpkg-shlibdeps dpkg-dev" "dpkg-deb dpkg" "lintian lintian"
  "convert imagemagick" "gzip gzip"
)
[ $windows = 1 ] && tools+=("x86_64-w64-mingw32-g++-posix g++-mingw-w64-x86-64" "x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64")
missing=()
for entry in "${tools[@]}"; do
  read -r tool package <<<"$entry"
  command -v "$tool" >/dev/null || missing+=("$tool (apt-get install $package)")
done
if [ ${#missing[@]} -gt 0 ]; then
  printf 'package: missing %s\n' "${missing[@]}" >&2
  Fail "cannot make the packages without these tools (bash tools/setup.sh installs them all); nothing was made"
fi

mkdir -p "$out"
out=$(realpath "$out")
partial=$(mktemp -d "$out/.package-partial-XXXXXX")
trap 'rm -rf "$partial"' EXIT

# Linux: optimised, hardened the way Debian builds its packages.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUENRIK_TESTS=OFF -DQUENRIK_BENCH=OFF \
  -DQUENRIK_PACKAGE=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
  -DCMAKE_C_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null || Fail "configuring $build failed"
cmake --build "$build" -j "$jobs" --target quenrik_install_parts || Fail "the Linux build failed"
(cd "$build" && cpack -G "DEB;TGZ" -B "$partial") || Fail "cpack could not make the Debian package and tarball"

deb=$(find "$partial" -maxdepth 1 -name 'quenrik_*.deb')
[ -n "$deb" ] || Fail "cpack made no .deb"
# dpkg-shlibdeps found the libraries (cpack only warns when it cannot run).
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || Fail "the .deb has no Depends from dpkg-shlibdeps"
echo "package: lintian $(basename "$deb")"
lintian --fail-on error,warning --display-info "$deb" || Fail "lintian rejects $(basename "$deb")"

if [ $windows = 1 ]; then
  JOBS=$jobs bash tools/build-windows.sh "$windows_build" || Fail "the Windows build failed"
  (cd "$windows_build" && cpack -G ZIP -B "$partial") || Fail "cpack could not make the Windows zip"
fi

mapfile -t made < <(find "$partial" -maxdepth 1 -type f \( -name '*.deb' -o -name '*.tar.gz' -o -name '*.zip' \))
[ ${#made[@]} = $((2 + windows)) ] || Fail "expected $((2 + windows)) packages, cpack made ${#made[@]}"
for file in "${made[@]}"; do
  name=$(basename "$file")
  mv -f "$file" "$out/$name"
  echo "package: $out/$name ($(stat -c %s "$out/$name") bytes)"
done
