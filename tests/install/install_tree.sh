#!/usr/bin/env bash
# `cmake --install` of this build into a temporary prefix, then the installed
# programs run from folders that hold no data/:
#   install_tree.sh BUILD_DIR REPO_DATA VERSION
# Checks the layout (programs, data, desktop entry, icons, man pages, docs),
# the desktop entry and man pages with their validators, `hwl info` on an
# installed picture, a short capture written where it was asked for, a data/
# of the user's taking precedence for the capture, and the installed show
# with damaged or missing installed data giving the built show's error boxes
# and exit codes.
set -uo pipefail
BUILD=$(realpath "$1") REPO_DATA=$(realpath "$2") VERSION=$3
HERE=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# TMP, PIDS, Fail, Step, StartXSession, MakeWorkDir, WaitForWindow,
# WaitForExit; everything started and TMP go when the script ends.
source "$HERE/../support/x_session.sh"
FailDetails() { [ -f "$TMP/stderr" ] && sed 's/^/  stderr: /' "$TMP/stderr" >&2; }
for tool in desktop-file-validate groff ffprobe Xvfb xdotool openbox identify; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit $SKIP; }
done

PREFIX="$TMP/installed prefix"

cmake --install "$BUILD" --prefix "$PREFIX" >"$TMP/install.log" || { cat "$TMP/install.log"; Fail "cmake --install failed"; }

# The layout.
expected=(bin/quenrik bin/quenrik-capture bin/hwl share/applications/quenrik.desktop
          share/man/man1/quenrik.1.gz share/man/man1/quenrik-capture.1.gz share/man/man1/hwl.1.gz
          share/doc/quenrik/README.md share/doc/quenrik/copyright share/doc/quenrik/changelog.gz)
for file in "$REPO_DATA"/*; do expected+=("share/quenrik/data/$(basename "$file")"); done
for size in 16 22 24 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x$size/apps/quenrik.png"); done
for file in "${expected[@]}"; do [ -f "$PREFIX/$file" ] || Fail "not installed: $file"; done
for program in quenrik quenrik-capture hwl; do [ -x "$PREFIX/bin/$program" ] || Fail "bin/$program is not executable"; done
for file in "$REPO_DATA"/*; do
  cmp -s "$file" "$PREFIX/share/quenrik/data/$(basename "$file")" || Fail "installed $(basename "$file") differs"
done
for size in 16 22 24 32 48 64 128 256; do
  got=$(identify -format '%wx%h' "$PREFIX/share/icons/hicolor/${size}x$size/apps/quenrik.png")
  [ "$got" = "${size}x$size" ] || Fail "the ${size}x$size icon is $got"
done
Step "layout: ${#expected[@]} files"

desktop-file-validate "$PREFIX/share/applications/quenrik.desktop" || Fail "the desktop entry is not valid"
for page in quenrik quenrik-capture hwl; do
  text=$(zcat "$PREFIX/share/man/man1/$page.1.gz")
  grep -q "\"quenrik $VERSION\"" <<<"$text" || Fail "$page.1 does not name version $VERSION"
  ! grep -q '@' <<<"$text" || Fail "$page.1 has an unreplaced @...@"
  warnings=$(groff -man -ww -z -Tutf8 <<<"$text" 2>&1)
  [ -z "$warnings" ] || Fail "$page.1: $warnings"
done
zcat "$PREFIX/share/doc/quenrik/changelog.gz" | head -1 | grep -q "^quenrik ($VERSION) " ||
  Fail "the changelog's newest entry is not $VERSION"

# hwl on an installed picture, from elsewhere.
mkdir -p "$TMP/elsewhere"
cd "$TMP/elsewhere" || Fail "no folder"
info=$("$PREFIX/bin/hwl" info "$PREFIX/share/quenrik/data/zem_logo.hwl") || Fail "hwl info failed"
grep -qx 'width: 512' <<<"$info" || Fail "hwl info says: $info"

# The capture from a folder without data/: the installed data, the files
# where they were named.
"$PREFIX/bin/quenrik-capture" clip.mp4 --size 160x120 --to 500 --frames-log frames.txt 2>"$TMP/stderr" ||
  Fail "the installed capture failed"
[ -s clip.mp4 ] && [ "$(wc -l <frames.txt)" = 30 ] || Fail "no clip.mp4 or no 30-line frames.txt in the start folder"
frames=$(ffprobe -v error -select_streams v -count_frames -show_entries stream=nb_read_frames -of csv=p=0 clip.mp4)
[ "$frames" = 30 ] || Fail "clip.mp4 has $frames frames, expected 30"
[ ! -e "$PREFIX/share/quenrik/clip.mp4" ] || Fail "the capture wrote into the installed folder"
# A data/ where it runs is the one it reads: here one without music.
mkdir -p "$TMP/own/data"
cd "$TMP/own" || Fail "no folder"
"$PREFIX/bin/quenrik-capture" clip.mp4 --size 160x120 --to 500 2>"$TMP/stderr" && Fail "a capture without music succeeded"
grep -q 'cannot read the music' "$TMP/stderr" || Fail "the capture did not read the data/ of its folder"
[ ! -e clip.mp4 ] || Fail "a failed capture left clip.mp4"
Step "hwl and capture"

# The installed show with damaged installed data, under Xvfb with openbox
# (the default full screen 640 x 480 is the screen's own mode).
StartXSession 640x480x24

# Runs the installed show in folder $1, accepts the dialog and dismisses the
# error box; its exit code is in RC.
ShowError() {
  local i pid dialog
  (cd "$1" && exec env SDL_AUDIODRIVER=dummy "$PREFIX/bin/quenrik") >/dev/null 2>"$TMP/stderr" &
  pid=$!
  PIDS+=($pid)
  dialog=$(WaitForWindow Config 15) || Fail "the configuration dialog did not appear"
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
  xdotool key Return
  for i in $(seq 300); do
    kill -0 $pid 2>/dev/null || break
    if grep -q '^Error: ' "$TMP/stderr"; then
      sleep 0.3
      xdotool key Return
    fi
    sleep 0.1
  done
  WaitForExit $pid 1 || Fail "quenrik did not end after its error box"
  RC=$WAITED_RC
}

# A truncated installed picture, started beside a complete data/ of the
# user's: the installed one is read, and fails as the built show does.
mkdir -p "$TMP/work"
MakeWorkDir
head -c 1000 "$REPO_DATA/text_5.hwl" >"$PREFIX/share/quenrik/data/text_5.hwl"
ShowError "$TMP/work"
[ "$RC" = 100 ] || Fail "exit code $RC with a truncated installed picture, expected 100"
grep -qE '^Error: Runtime error 100 at 0x[0-9A-F]{8}$' "$TMP/stderr" || Fail "no run-time error report"
grep -q 'text_5.hwl' "$TMP/stderr" || Fail "stderr does not name text_5.hwl"
# No installed data/ at all: the show reads data/ where it runs, here none.
rm -r "$PREFIX/share/quenrik/data"
ShowError "$TMP/elsewhere"
[ "$RC" = 2 ] || Fail "exit code $RC without installed data, expected 2"
grep -qE '^Error: Runtime error 2 at 0x[0-9A-F]{8}$' "$TMP/stderr" || Fail "no run-time error report"
echo "PASS: installed tree"
