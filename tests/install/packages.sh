#!/usr/bin/env bash
# tools/package.sh end to end:
#   packages.sh SOURCE_DIR OUT_DIR PACKAGE_BUILD WINDOWS_BUILD VERSION
# First the refusals: without dpkg-shlibdeps it stops before building; when
# the Windows build fails after the Debian package was made, nothing new is
# left in OUT_DIR. Then the packages themselves, which later tests install:
# names, Depends, contents, the tarball run from where it was unpacked, the
# zip's folder.
set -uo pipefail
SOURCE=$(realpath "$1") OUT=$(realpath -m "$2") BUILD=$(realpath -m "$3") WINDOWS_BUILD=$(realpath -m "$4") VERSION=$5
SKIP=77
command -v x86_64-w64-mingw32-g++-posix >/dev/null || { echo "SKIP: MinGW-w64 is not installed"; exit $SKIP; }
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
Fail() {
  echo "FAIL: $*" >&2
  exit 1
}
DEB=quenrik_${VERSION}_amd64.deb TARBALL=quenrik-$VERSION-linux-x86_64.tar.gz ZIP=quenrik-$VERSION-win64.zip

# OUT_DIR holds only an older package, which must survive the failures.
rm -rf "$OUT"
mkdir -p "$OUT"
echo old >"$OUT/quenrik_0.9.0_amd64.deb"
OnlyTheOldPackage() {
  [ "$(ls -A "$OUT")" = quenrik_0.9.0_amd64.deb ] || Fail "$1 left in $OUT: $(ls -A "$OUT" | tr '\n' ' ')"
  [ "$(cat "$OUT/quenrik_0.9.0_amd64.deb")" = old ] || Fail "$1 changed the older package"
}

# A PATH that has every command but dpkg-shlibdeps.
mkdir "$TMP/path"
for dir in /usr/local/bin /usr/bin /bin /usr/sbin /sbin; do
  for tool in "$dir"/*; do
    name=$(basename "$tool")
    [ "$name" = dpkg-shlibdeps ] || [ -e "$TMP/path/$name" ] || ln -s "$tool" "$TMP/path/$name"
  done
done
start=$SECONDS
PATH=$TMP/path bash "$SOURCE/tools/package.sh" --out "$OUT" --build "$BUILD" --windows-build "$WINDOWS_BUILD" \
  >"$TMP/log" 2>&1 && Fail "packaging without dpkg-shlibdeps succeeded"
grep -q 'missing dpkg-shlibdeps (apt-get install dpkg-dev)' "$TMP/log" || { cat "$TMP/log"; Fail "no clear message"; }
! grep -v '^package: ' "$TMP/log" || Fail "it ran more than the check of the tools"
OnlyTheOldPackage "a missing tool"
echo "missing tool: refused in $((SECONDS - start)) s"

# The Windows build fails (its folder is a file) after the Linux packages
# were made and checked.
start=$SECONDS
touch "$TMP/not-a-folder"
JOBS=2 bash "$SOURCE/tools/package.sh" --out "$OUT" --build "$BUILD" --windows-build "$TMP/not-a-folder" \
  >"$TMP/log" 2>&1 && Fail "packaging with a broken Windows build succeeded"
grep -q 'package: lintian' "$TMP/log" || { cat "$TMP/log"; Fail "it failed before the Debian package was made"; }
grep -q 'package: the Windows build failed' "$TMP/log" || { cat "$TMP/log"; Fail "no clear message"; }
OnlyTheOldPackage "a failure midway"
echo "failure midway: refused after $((SECONDS - start)) s (the Linux build included)"

start=$SECONDS
JOBS=2 bash "$SOURCE/tools/package.sh" --out "$OUT" --build "$BUILD" --windows-build "$WINDOWS_BUILD" \
  >"$TMP/log" 2>&1 || { cat "$TMP/log"; Fail "packaging failed"; }
grep '^package: ' "$TMP/log"
rm "$OUT/quenrik_0.9.0_amd64.deb"
[ "$(ls -A "$OUT" | sort | tr '\n' ' ')" = "$TARBALL $ZIP $DEB " ] || Fail "made: $(ls -A "$OUT" | tr '\n' ' ')"
echo "packages: made in $((SECONDS - start)) s"

# The Debian package.
for field in "Package quenrik" "Version $VERSION" "Architecture amd64"; do
  read -r name value <<<"$field"
  [ "$(dpkg-deb -f "$OUT/$DEB" "$name")" = "$value" ] || Fail "$name is $(dpkg-deb -f "$OUT/$DEB" "$name")"
done
depends=$(dpkg-deb -f "$OUT/$DEB" Depends)
names=$(sed 's/ ([^)]*)//g; s/ | /\n/g; s/, /\n/g' <<<"$depends")
for library in libc6 libstdc++6 libsdl2-2.0-0 libgtk-3-0 libmpg123-0 libavcodec59 libavformat59 libswscale6 \
               libpng16-16 libegl1 libgl1 libglu1-mesa; do
  grep -qxF "$library" <<<"$names" || Fail "Depends lacks $library: $depends"
done
dpkg-deb -c "$OUT/$DEB" >"$TMP/deb.txt"
for file in usr/bin/quenrik usr/bin/quenrik-capture usr/bin/hwl usr/share/quenrik/data/run_away.mp3 \
            usr/share/applications/quenrik.desktop usr/share/doc/quenrik/copyright; do
  grep -q " \./$file$" "$TMP/deb.txt" || Fail "the .deb lacks /$file"
done
! grep -qv ' root/root ' "$TMP/deb.txt" || Fail "the .deb has files not owned by root"
dpkg-deb --fsys-tarfile "$OUT/$DEB" | tar -xO ./usr/bin/quenrik >"$TMP/quenrik"
! readelf -S "$TMP/quenrik" | grep -q '\.symtab' || Fail "the packaged quenrik is not stripped"

# The tarball: one folder, run from wherever it was unpacked.
top=quenrik-$VERSION-linux-x86_64
tar -tzf "$OUT/$TARBALL" | grep -v "^$top/" && Fail "the tarball has files outside $top/"
mkdir -p "$TMP/un packed" "$TMP/elsewhere"
tar -xzf "$OUT/$TARBALL" -C "$TMP/un packed" || Fail "cannot unpack the tarball"
cd "$TMP/elsewhere" || Fail "no folder"
"$TMP/un packed/$top/bin/quenrik-capture" --render-only --size 64x48 --to 200 2>"$TMP/log" ||
  { cat "$TMP/log"; Fail "the unpacked capture cannot find its data"; }

# The zip: one folder with quenrik.exe, data\ and a README.txt with CRLF.
unzip -Z1 "$OUT/$ZIP" >"$TMP/zip.txt" || Fail "cannot list the zip"
for file in quenrik.exe README.txt data/zem_logo.hwl data/run_away.mp3; do
  grep -qx "quenrik-$VERSION-win64/$file" "$TMP/zip.txt" || Fail "the zip lacks $file"
done
[ "$(grep -cv "^quenrik-$VERSION-win64/" "$TMP/zip.txt")" = 0 ] || Fail "the zip has files outside its folder"
unzip -p "$OUT/$ZIP" "quenrik-$VERSION-win64/README.txt" | head -1 | grep -q $'\r$' ||
  Fail "README.txt has no Windows line ends"
echo "sizes: $(stat -c '%n %s' "$OUT"/* | sed "s|$OUT/||" | tr '\n' ' ')"
echo "PASS: packages"
