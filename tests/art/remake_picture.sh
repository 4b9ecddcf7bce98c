#!/bin/sh
# Runs the picture maker for one file into a temporary directory and checks
# that the result equals the committed file byte for byte.
# Usage: remake_picture.sh QUENRIK_ART DATA_DIR FILE
set -eu
art=$1 data=$2 file=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$art" "$out" "$file"
cmp "$out/$file" "$data/$file"
