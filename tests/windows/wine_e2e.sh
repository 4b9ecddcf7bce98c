#!/usr/bin/env bash
# End-to-end runs of the cross-built quenrik.exe under 64-bit Wine, in a
# private Xvfb with openbox, Wine's virtual desktop (so that display modes can
# change) and a PulseAudio null sink (so that waveOut has a device).
#   wine_e2e.sh prefix PREFIX
#       makes the Wine prefix the other cases share (virtual desktop 1024x768)
#   wine_e2e.sh CASE PREFIX WINDOWS_BUILD LINUX_PROBE MAKE_SHOW_DATA REPO_DATA [ZIP]
# Cases: decode clock cancel windowed fullscreen32 fullscreen16 missing-file
#        no-audio no-glu, and zip (needs ZIP: the packaged quenrik.exe)
# Every case needs the program itself to answer (its dialog, its stderr), so
# an exe that Wine cannot load (which exits 0) never passes.
set -u  # no pipefail: "grep -q" ends pipelines early on purpose
CASE=$1
PREFIX=$(realpath -m "$2")
DesktopSize=1024x768
source "$(dirname "${BASH_SOURCE[0]}")/../support/x_session.sh"

StopWine() { [ -d "$PREFIX" ] && WINEPREFIX=$PREFIX wineserver -k >/dev/null 2>&1; }
XSESSION_CLEANUP=StopWine
FailDetails() {
  [ -f "$TMP/stderr" ] && tr -d '\r' <"$TMP/stderr" | sed 's/^/  stderr: /' >&2
  [ -f "$TMP/shot.png" ] && cp "$TMP/shot.png" "${QUENRIK_WINE_SHOT_DIR:-/tmp}/quenrik-wine-$CASE-failed.png" 2>/dev/null
}
Elapsed() { echo "$CASE: $1 after $SECONDS s"; }

export WINEPREFIX=$PREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
command -v wine >/dev/null && command -v Xvfb >/dev/null && command -v xdotool >/dev/null ||
  { echo "SKIP: wine, Xvfb or xdotool is not installed"; exit $SKIP; }

if [ "$CASE" = prefix ]; then
  rm -rf "$PREFIX"
  wineboot --init >/dev/null 2>&1 || Fail "wineboot failed"
  cat >"$TMP/desktop.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]
"Desktop"="Default"

[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]
"Default"="$DesktopSize"
EOF
  wine regedit /S "$TMP/desktop.reg" >/dev/null 2>&1 || Fail "regedit failed"
  wineserver -w
  [ -f "$PREFIX/user.reg" ] && grep -q '"Desktop"="Default"' "$PREFIX/user.reg" || Fail "the prefix has no virtual desktop"
  Elapsed "prefix ready"
  exit 0
fi

WINDOWS_BUILD=$(realpath "$3") LINUX_PROBE=$(realpath "$4") MAKE_SHOW_DATA=$(realpath "$5") REPO_DATA=$(realpath -m "$6")
ZIP=${7:+$(realpath -m "$7")}
QUENRIK=$WINDOWS_BUILD/shell/quenrik.exe
PROBE=$WINDOWS_BUILD/tests/windows/sound_probe.exe
[ -f "$PREFIX/user.reg" ] || Fail "no Wine prefix at $PREFIX"
[ -f "$QUENRIK" ] && [ -f "$PROBE" ] || Fail "no Windows build in $WINDOWS_BUILD"

# Xvfb as large as the virtual desktop, with openbox.
StartX() { StartXSession ${DesktopSize}x24; }

# A PulseAudio server of our own with one null sink: waveOut's device.
StartPulse() {
  local i
  export HOME=$TMP/home XDG_RUNTIME_DIR=$TMP/run
  mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes -L module-native-protocol-unix \
    -L "module-null-sink sink_name=ci rate=44100" >"$TMP/pulse.log" 2>&1 &
  PIDS+=($!)
  for i in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && return 0
    sleep 0.05
  done
  Fail "pulseaudio did not start: $(tail -3 "$TMP/pulse.log")"
}

# The keys go to whatever has the focus in the virtual desktop.
Key() {
  xdotool mousemove 300 250 key "$1"
  sleep 0.3
}

# Keeps Wine's virtual desktop (and its display mode) up after quenrik ends.
KeepDesktop() {
  wine "$PROBE" wait 120 >/dev/null 2>&1 &
  PIDS+=($!)
}

# quenrik in the work directory; its exit code goes to a file once it ends.
StartShow() {
  (cd "${WORK:-$TMP/work}" && wine "$QUENRIK" >"$TMP/stdout" 2>"$TMP/stderr"; echo $? >"$TMP/rc") &
  PIDS+=($!)
}
Running() { [ ! -s "$TMP/rc" ]; }

WaitForDialog() {
  local i id
  for i in $(seq 600); do
    id=$(xdotool search --name '^Config$' 2>/dev/null | head -1)
    [ -n "$id" ] && { Elapsed "dialog up"; sleep 0.5; return 0; }
    Running || Fail "quenrik ended (exit code $(cat "$TMP/rc")) before its dialog appeared"
    sleep 0.1
  done
  Fail "the configuration dialog did not appear"
}

# Waits up to $1 seconds for quenrik to end; its exit code is then in RC.
WaitForEnd() {
  local i
  for i in $(seq $(($1 * 10))); do
    if ! Running; then
      RC=$(cat "$TMP/rc")
      Elapsed "quenrik ended with $RC"
      return 0
    fi
    sleep 0.1
  done
  Fail "quenrik did not end within $1 s"
}

# What the program wrote to stderr, without the CRs of Windows line ends.
Stderr() { tr -d '\r' <"$TMP/stderr"; }
WaitForStderr() {
  local i
  for i in $(seq $(($2 * 10))); do
    Stderr | grep -qE -- "$1" && return 0
    Running || { Stderr | grep -qE -- "$1" && return 0; Fail "quenrik ended without \"$1\" on stderr"; }
    sleep 0.1
  done
  Fail "no \"$1\" on stderr within $2 s"
}
ExpectStderr() { Stderr | grep -qE -- "$1" || Fail "stderr lacks \"$1\""; }
RejectStderr() { ! Stderr | grep -qE -- "$1" || Fail "stderr has \"$1\""; }

# The size of Wine's virtual desktop window, which follows the display mode.
DesktopGeometry() {
  local id
  id=$(xdotool search --name 'Wine desktop$' 2>/dev/null | head -1)
  [ -n "$id" ] && xwininfo -id "$id" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'
}
WaitForDesktop() {
  local i
  for i in $(seq 100); do
    [ "$(DesktopGeometry)" = "$1" ] && return 0
    sleep 0.1
  done
  Fail "the virtual desktop is $(DesktopGeometry), expected $1"
}

# An error box: once the error is on stderr, press Return on the box.
DismissErrorBox() {
  local i
  WaitForStderr '^Error: ' 60
  for i in $(seq 100); do
    xdotool search --name '^Error$' >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 0.5
  import -window root "$TMP/shot.png" 2>/dev/null
  for i in $(seq 20); do
    Running || break
    # Now and then the box comes up without the keyboard focus (the show's
    # window has just gone): a click inside it, at the desktop's centre where
    # the box is centred, gives it the focus (or presses its button).
    [ "$i" -gt 2 ] && xdotool mousemove $((${DesktopSize%x*} / 2)) $((${DesktopSize#*x} / 2)) click 1
    Key Return
    sleep 0.5
  done
  WaitForEnd 10
}

# Plays for a few seconds, checks the screen, then ends the show with a key.
PlayAndEnd() {
  local levels frames
  WaitForStderr '^quenrik: window ' 30
  sleep 5
  Running || Fail "quenrik ended during the show"
  import -window root "$TMP/shot.png" || Fail "no screenshot"
  [ -n "${QUENRIK_WINE_SHOT_DIR:-}" ] && cp "$TMP/shot.png" "$QUENRIK_WINE_SHOT_DIR/quenrik-wine-$CASE.png"
  # Inside the show's picture (below any frame and caption): mostly dark, as
  # the show is, with something bright in it; not the desktop, not black.
  levels=$(convert "$TMP/shot.png" -crop 560x380+40+70 -colorspace Gray -format '%[fx:mean] %[fx:maxima]' info:)
  awk -v l="$levels" 'BEGIN{split(l, v, " "); exit !(v[1] > 0.002 && v[1] < 0.3 && v[2] > 0.5)}' ||
    Fail "the screen does not show the show (mean and brightest: $levels)"
  Key space
  WaitForEnd 20
  [ "$RC" = 0 ] || Fail "exit code $RC after a key, expected 0"
  frames=$(Stderr | sed -n 's/^quenrik: \([0-9]*\) frames presented$/\1/p')
  [ "${frames:-0}" -ge 20 ] || Fail "only ${frames:-0} frames presented in 5 s"
  echo "$CASE: $frames frames, screen mean and brightest $levels"
}

case $CASE in
  decode)
    # The same files through both builds' decoders: the same length and the
    # same first audible sample (sample 0 = "0 ms" on both).
    "$LINUX_PROBE" make "$TMP" || Fail "cannot make the test MP3s"
    for name in stereo44 mono44 stereo22; do
      wine "$PROBE" decode "$TMP/$name.mp3" "$TMP/$name.raw" || Fail "the Windows build cannot decode $name.mp3"
    done
    # Same rate: the same samples but for rounding. Resampled: other filters.
    "$LINUX_PROBE" compare "$TMP/stereo44.mp3" "$TMP/stereo44.raw" 0 16 || Fail "stereo44.mp3 decodes differently"
    "$LINUX_PROBE" compare "$TMP/mono44.mp3" "$TMP/mono44.raw" 0 16 || Fail "mono44.mp3 decodes differently"
    "$LINUX_PROBE" compare "$TMP/stereo22.mp3" "$TMP/stereo22.raw" 2 -1 || Fail "stereo22.mp3 decodes differently"
    # And the show's own music.
    if [ -f "$REPO_DATA/run_away.mp3" ]; then
      wine "$PROBE" decode "$REPO_DATA/run_away.mp3" "$TMP/music.raw" || Fail "the Windows build cannot decode the music"
      "$LINUX_PROBE" compare "$REPO_DATA/run_away.mp3" "$TMP/music.raw" 0 16 || Fail "the music decodes differently"
    fi
    ;;
  clock)
    # waveOut's clock: from 0 and never ahead of the music heard (no reading
    # above the wall time since the play call: buffers queued ahead must not
    # count), never backwards, moving at about the music's pace.
    "$LINUX_PROBE" make "$TMP" || Fail "cannot make the test MP3s"
    StartPulse
    wine "$PROBE" clock "$TMP/long.mp3" 4 >"$TMP/clock.crlf" || Fail "the clock probe failed"
    tr -d '\r' <"$TMP/clock.crlf" >"$TMP/clock.txt"
    awk '$2 > $1 + 5 && !ahead { print "ahead of the wall clock: " $2 " ms at " $1 " ms after the play call"; ahead = bad = 1 }
         NR > 1 && $2 < last { print "goes back from " last " to " $2 " at " $1 " ms"; bad = 1 }
         NR > 1 && $2 - last > step { step = $2 - last }
         { last = $2; wall = $1 }
         END { printf "clock: %d ms after %d ms, %d readings, largest step %d ms\n", last, wall, NR, step
               if (last < 2000) { print "too slow"; bad = 1 }
               exit bad }' "$TMP/clock.txt" || Fail "the music clock misbehaves"
    ;;
  cancel)
    MakeWorkDir
    StartX
    StartPulse
    StartShow
    WaitForDialog
    Key Escape  # the dialog has no handler for it: nothing happens
    sleep 0.5
    Running && xdotool search --name '^Config$' >/dev/null 2>&1 || Fail "Escape closed the dialog"
    Key Tab     # from "Go!" to "Cancel"
    Key Return
    WaitForEnd 15
    [ "$RC" = 0 ] || Fail "exit code $RC after Cancel, expected 0"
    RejectStderr '^quenrik: window'
    ! xdotool search --name '^quenrik$' >/dev/null 2>&1 || Fail "a show window exists after Cancel"
    ;;
  windowed)
    MakeWorkDir
    StartX
    StartPulse
    StartShow
    WaitForDialog
    Key Tab; Key Tab; Key Tab   # "Go!", "Cancel", the list, "Fullscreen"
    Key space
    Key Return
    WaitForStderr '^quenrik: window 640 x 480, windowed' 30
    xdotool search --name '^quenrik$' >/dev/null 2>&1 || Fail "no window named quenrik"
    [ "$(DesktopGeometry)" = "$DesktopSize" ] || Fail "the desktop changed to $(DesktopGeometry) in windowed mode"
    PlayAndEnd
    RejectStderr 'display mode'
    ;;
  fullscreen32 | fullscreen16)
    bits=${CASE#fullscreen}
    MakeWorkDir
    StartX
    StartPulse
    StartShow
    WaitForDialog
    KeepDesktop
    if [ "$bits" = 16 ]; then
      Key Tab; Key Tab; Key Tab; Key Tab   # to "True Color"
      Key space
    fi
    Key Return
    WaitForStderr "^quenrik: display mode 640 x 480 x $bits" 30
    WaitForDesktop 640x480
    PlayAndEnd
    ExpectStderr '^quenrik: display mode restored'
    WaitForDesktop "$DesktopSize"
    ;;
  missing-file)
    MakeWorkDir
    rm "$TMP/work/data/loading.hwl"
    StartX
    StartPulse
    StartShow
    WaitForDialog
    KeepDesktop
    Key Return
    DismissErrorBox
    [ "$RC" = 2 ] || Fail "exit code $RC, expected 2"
    ExpectStderr '^Error: Runtime error 2 at 0x[0-9A-F]{8}$'
    ExpectStderr 'loading\.hwl'
    ExpectStderr '^quenrik: display mode restored'
    WaitForDesktop "$DesktopSize"
    ;;
  no-audio)
    MakeWorkDir
    StartX
    StartPulse
    # No audio driver for this run only: put back whatever happens.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /d "" /f >/dev/null 2>&1 || Fail "cannot switch audio off"
    trap 'wine reg delete "HKCU\\Software\\Wine\\Drivers" /v Audio /f >/dev/null 2>&1; StopXSession' EXIT
    StartShow
    WaitForDialog
    Key Return
    DismissErrorBox
    [ "$RC" = 1 ] || Fail "exit code $RC, expected 1"
    ExpectStderr '^Error: Error initializing output device\.$'
    ;;
  no-glu)
    # Wine's glu32 switched off: the show names the entry point it lacks.
    MakeWorkDir
    StartX
    StartPulse
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;glu32=d" StartShow
    WaitForDialog
    KeepDesktop
    Key Return
    DismissErrorBox
    [ "$RC" = 1 ] || Fail "exit code $RC, expected 1"
    ExpectStderr '^Error: OpenGL entry point gluPerspective not found in glu32\.dll$'
    WaitForDesktop "$DesktopSize"
    ;;
  zip)
    # The zip unpacked into a folder with a space in its name, quenrik.exe
    # started from another folder (no data\ there): it finds its own data\.
    unpacked="$TMP/un packed"
    mkdir -p "$unpacked" "$TMP/elsewhere"
    unzip -q "$ZIP" -d "$unpacked" || Fail "cannot unpack $ZIP"
    QUENRIK=$(find "$unpacked" -name quenrik.exe | head -1)
    [ -n "$QUENRIK" ] && [ -d "$(dirname "$QUENRIK")/data" ] || Fail "the zip has no quenrik.exe beside a data folder"
    StartX
    StartPulse
    WORK=$TMP/elsewhere StartShow
    WaitForDialog
    KeepDesktop
    Key Return
    WaitForStderr "^quenrik: display mode 640 x 480 x 32" 30
    PlayAndEnd
    WaitForDesktop "$DesktopSize"
    ;;
  *)
    echo "unknown case $CASE" >&2
    exit 2
    ;;
esac
Elapsed "passed"
exit 0
