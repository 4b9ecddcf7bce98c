#!/bin/sh
# Runs the picture maker for one file into a temporary directory and checks
# that the result equals the committed file byte for byte; with previews into
# a folder not made yet, which it makes, and into one it cannot make, which
# fails the run.
# Usage: remake_picture.sh QUENRIK_ART DATA_DIR FILE
set -eu
art=$1 data=$2 file=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
stem=${file%.*}
"$art" --preview "$out/previews/new" "$out" "$file"
cmp "$out/$file" "$data/$file"
for png in "$stem.png" "$stem.decoded.png" "$stem.error.png"; do
  [ -s "$out/previews/new/$png" ] || { echo "FAIL: no preview $png"; exit 1; }
done
touch "$out/not-a-folder"
if "$art" --preview "$out/not-a-folder/previews" "$out" "$file" 2>"$out/err"; then
  echo "FAIL: previews that cannot be written reported as success"
  exit 1
fi
grep -q 'not-a-folder/previews: cannot be made' "$out/err" || { cat "$out/err"; exit 1; }
