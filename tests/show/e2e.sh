#!/usr/bin/env bash
# End-to-end runs of the real, unchanged quenrik program under private X
# servers, with the dialog accepted by its default button.
#   e2e.sh CASE QUENRIK MAKE_SHOW_DATA REPO_DATA_DIR XORG_CONF WM_PROBE [DIALOG_DRIVER]
# Cases: play, sigterm, signals, keys, windowed, no-wm, missing-loading, box-signals, missing-music,
# no-audio, no-mode, no-display.
# windowed needs DIALOG_DRIVER (it tells where the dialog's controls are).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/x_session.sh"
CASE=$1
QUENRIK=$(realpath "$2") MAKE_SHOW_DATA=$(realpath "$3") REPO_DATA=$(realpath -m "$4") XORG_CONF=$(realpath "$5")
WM_PROBE=$(realpath "$6") DIALOG_DRIVER=${7:+$(realpath "$7")}

FailDetails() { [ -f "$TMP/stderr" ] && sed 's/^/  quenrik: /' "$TMP/stderr" >&2; }

# xorg: real display modes (Xorg with the dummy driver); xvfb: one mode only.
# A second argument "none": no window manager.
StartServer() {
  if [ "$1" = xorg ]; then StartXSession 1024x768x24 "$XORG_CONF" ${2:-}; else StartXSession 1024x768x24 "" ${2:-}; fi
}

CurrentMode() { xrandr 2>/dev/null | awk '/\*/{print $1; exit}'; }

# Starts quenrik in the work directory; its pid is in SHOW_PID. SIGINT and
# SIGQUIT get their default action back (a script's background job starts
# with them ignored, and the show keeps ignored signals ignored).
StartShow() {
  (cd "$TMP/work" && ulimit -c 0 &&
    exec perl -e '$SIG{INT} = $SIG{QUIT} = "DEFAULT"; exec @ARGV or die "$ARGV[0]: $!\n"' env "$@" "$QUENRIK") \
    >"$TMP/stdout" 2>"$TMP/stderr" &
  SHOW_PID=$!
  PIDS+=($SHOW_PID)
}

# The processes quenrik forked, but its display guardian: its error box's.
BoxProcesses() { ps -o pid=,comm= --ppid "$SHOW_PID" 2>/dev/null | awk '$2 != "quenrik-guard" {print $1}'; }

# Waits until the error is on stderr and the box's process is up.
WaitForErrorBox() {
  local i
  for i in $(seq 200); do
    grep -q '^Error: ' "$TMP/stderr" && [ -n "$(BoxProcesses)" ] && break
    kill -0 "$SHOW_PID" 2>/dev/null || Fail "quenrik ended without an error box"
    sleep 0.1
  done
  sleep 0.5
  kill -0 "$SHOW_PID" 2>/dev/null || Fail "quenrik did not wait in its error box"
  [ -n "$(BoxProcesses)" ] || Fail "no process shows the error box"
}

# Sets x, y (the client's corner on the screen), w and h of window $1.
ReadGeometry() {
  eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X/{print "x=" $4} /Absolute upper-left Y/{print "y=" $4}
                                  /Width:/{print "w=" $2} /Height:/{print "h=" $2}')"
}

# The show's window comes to cover the 640 x 480 screen, and a window
# manager, where one runs, holds it full screen and on top.
ExpectFullScreen() {
  local window x y w h state= managed=0 i
  window=$(WaitForWindow quenrik 20) || Fail "no window titled quenrik"
  xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id' && managed=1
  for i in $(seq 100); do
    ReadGeometry "$window"
    [ $managed = 1 ] && state=$(xprop -id "$window" _NET_WM_STATE)
    [ "${w}x$h+$x+$y" = 640x480+0+0 ] &&
      { [ $managed = 0 ] || [[ $state == *_NET_WM_STATE_FULLSCREEN* && $state == *_NET_WM_STATE_ABOVE* ]]; } &&
      return 0
    sleep 0.1
  done
  Fail "the show's window is at ${w}x$h+$x+$y ($state), expected full screen at 640x480+0+0"
}

# Accepts the configuration dialog's defaults (full screen 640 x 480 x 32).
# Without a window manager the keys go to the window under the pointer.
AcceptDialog() {
  local i id=
  for i in $(seq 100); do
    id=$(xdotool search --onlyvisible --name '^Config$' 2>/dev/null | head -1)
    [ -n "$id" ] && break
    kill -0 "$SHOW_PID" 2>/dev/null || return 0
    sleep 0.1
  done
  [ -n "$id" ] || Fail "the configuration dialog did not appear"
  KeyTo "$id" Return
}

# Types key $2 into window $1: activated by the window manager, or without
# one under the pointer.
KeyTo() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool mousemove --sync --window "$1" 10 10
  xdotool key "$2"
}

# Unticks the dialog's full-screen box and presses "Go!"; the show's window
# is then in $window.
GoWindowed() {
  local dialog
  dialog=$(WaitForWindow Config 10) || Fail "the configuration dialog did not appear"
  xdotool mousemove --sync --window "$dialog" $("$DIALOG_DRIVER" --where fullscreen) click 1
  sleep 0.3
  KeyTo "$dialog" Return
  window=$(WaitForWindow quenrik 10) || Fail "no window titled quenrik"
}

# Waits up to $1 seconds for the show to end; its exit code is in SHOW_RC.
WaitForShow() {
  WaitForExit "$SHOW_PID" "$1" || Fail "quenrik did not end within $1 s"
  SHOW_RC=$WAITED_RC
}

# An error box blocks until dismissed: once the error is on stderr, press
# Return (openbox gives the new box the focus) until the program ends.
DismissErrorBox() {
  local i
  for i in $(seq 200); do
    kill -0 "$SHOW_PID" 2>/dev/null || break
    if grep -q '^Error: ' "$TMP/stderr"; then
      sleep 0.3
      xdotool key Return
    fi
    sleep 0.1
  done
  WaitForShow 5
}

ExpectStderr() { grep -qF -- "$1" "$TMP/stderr" || Fail "stderr lacks \"$1\""; }

# Waits until the screen changed to the show's mode and the show has drawn.
WaitForShowMode() {
  local i
  for i in $(seq 100); do
    [ "$(CurrentMode)" = 640x480 ] && return 0
    kill -0 "$SHOW_PID" 2>/dev/null || Fail "quenrik ended early"
    sleep 0.1
  done
  Fail "the display never changed to 640x480 (now $(CurrentMode))"
}

MakeWorkDir
case $CASE in
  play | sigterm)
    if [ "$CASE" = play ]; then
      # The last picture comes through a pipe: decoding waits for it, so the
      # loading screen is certainly up when the first screenshot is taken.
      mv "$TMP/work/data/text_11.hwl" "$TMP/text_11.hwl"
      mkfifo "$TMP/work/data/text_11.hwl"
    fi
    StartServer xorg
    before=$(CurrentMode)
    StartShow SDL_AUDIODRIVER=dummy
    AcceptDialog
    WaitForShowMode
    if [ "$CASE" = play ]; then
      sleep 2
      import -window root "$TMP/loading.png" || Fail "no screenshot"
      mean=$(convert "$TMP/loading.png" -colorspace Gray -format '%[fx:mean]' info:)
      awk -v m="$mean" 'BEGIN{exit !(m > 0.005)}' || Fail "no loading screen: the screen is black (mean $mean)"
      cat "$TMP/text_11.hwl" >"$TMP/work/data/text_11.hwl"
      ExpectFullScreen
    fi
    sleep 3
    import -window root "$TMP/shot.png" || Fail "no screenshot"
    mean=$(convert "$TMP/shot.png" -colorspace Gray -format '%[fx:mean]' info:)
    awk -v m="$mean" 'BEGIN{exit !(m > 0.005)}' || Fail "the screen is black (mean $mean)"
    if [ "$CASE" = play ]; then
      xdotool key space
    else
      kill -TERM "$SHOW_PID"
    fi
    # A key during decoding is handled at the first frame (a signal at once).
    WaitForShow 30
    [ "$SHOW_RC" = 0 ] || Fail "exit code $SHOW_RC after the $CASE, expected 0"
    [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after the show, expected $before"
    ;;
  signals)
    # Every way out gives the display back: the signals that ask the show to
    # end (exit code 0), the other ending signals (the program ends by the
    # signal after its shutdown), and through the display guardian SIGKILL and
    # a crash. The first four come while the show waits for a picture from a
    # pipe that no one writes: a read that blocks does not hold off a stop.
    StartServer xorg
    before=$(CurrentMode)
    mv "$TMP/work/data/text_11.hwl" "$TMP/text_11.hwl"
    for signal in HUP INT QUIT USR1 KILL SEGV; do
      rm -f "$TMP/work/data/text_11.hwl"
      case $signal in
        KILL | SEGV) cp "$TMP/text_11.hwl" "$TMP/work/data/" ;;
        *) mkfifo "$TMP/work/data/text_11.hwl" ;;
      esac
      StartShow SDL_AUDIODRIVER=dummy
      AcceptDialog
      WaitForShowMode
      sleep 1
      Step "SIG$signal"
      kill -$signal "$SHOW_PID"
      WaitForShow 5
      case $signal in HUP | INT) expected=0 ;; *) expected=$((128 + $(kill -l $signal))) ;; esac
      [ "$SHOW_RC" = "$expected" ] || Fail "exit status $SHOW_RC after SIG$signal, expected $expected"
      for i in $(seq 30); do [ "$(CurrentMode)" = "$before" ] && break; sleep 0.1; done
      [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after SIG$signal, expected $before"
      case $signal in KILL | SEGV) ExpectStderr "display mode restored by the guardian" ;; esac
    done
    ;;
  keys)
    # Alt, F10 and Alt combinations (Alt+F4 too) do not end the show, as on
    # Windows; Ctrl+Alt combinations and other keys do. The real SDL event
    # path: keys typed with xdotool into Xvfb, where full screen at the
    # screen's own size needs no mode change.
    StartXSession 640x480x24
    for ending in ctrl+alt+a space; do
      StartShow SDL_AUDIODRIVER=dummy
      AcceptDialog
      ExpectFullScreen
      sleep 1
      for key in alt F10 alt+a alt+F4 alt+ctrl; do
        Step "key $key"
        xdotool key "$key"
        sleep 0.3
        kill -0 "$SHOW_PID" 2>/dev/null || Fail "$key ended the show"
      done
      Step "key $ending"
      xdotool key "$ending"
      WaitForShow 10
      [ "$SHOW_RC" = 0 ] || Fail "exit code $SHOW_RC after $ending, expected 0"
    done
    ;;
  windowed)
    [ -n "$DIALOG_DRIVER" ] || Fail "windowed needs the dialog driver"
    StartServer xorg
    [ "$("$WM_PROBE")" = "1 1" ] || Fail "openbox not seen as a window manager doing full screen: $("$WM_PROBE")"
    before=$(CurrentMode)
    StartShow SDL_AUDIODRIVER=dummy
    GoWindowed
    sleep 2
    # Outer size 640 x 480 at (0, 0): the client plus the frame openbox puts around it.
    ReadGeometry "$window"
    read -r left right top bottom < <(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    [ "$((x - left)),$((y - top))" = "0,0" ] || Fail "outer corner at $((x - left)),$((y - top))"
    [ "$((w + left + right))x$((h + top + bottom))" = 640x480 ] ||
      Fail "outer size $((w + left + right))x$((h + top + bottom)), client ${w}x$h"
    xprop -id "$window" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE || Fail "the window is not always on top"
    # The close box does nothing.
    xdotool mousemove --sync $((x + w - 10)) $((y - top / 2)) click 1
    sleep 1
    kill -0 "$SHOW_PID" 2>/dev/null || Fail "the close box ended the show"
    [ "$(CurrentMode)" = "$before" ] || Fail "windowed mode changed the display mode"
    KeyTo "$window" Escape
    WaitForShow 30
    [ "$SHOW_RC" = 0 ] || Fail "exit code $SHOW_RC after a key, expected 0"
    # Without a window manager nothing frames the window: the client is the
    # whole 640 x 480 window at (0, 0).
    Step "xvfb without a window manager"
    StartServer xvfb none
    [ "$("$WM_PROBE")" = "0 0" ] || Fail "a window manager seen where none runs: $("$WM_PROBE")"
    StartShow SDL_AUDIODRIVER=dummy
    GoWindowed
    ReadGeometry "$window"
    [ "${w}x$h+$x+$y" = 640x480+0+0 ] || Fail "the window is at ${w}x$h+$x+$y, expected 640x480+0+0"
    KeyTo "$window" Escape
    WaitForShow 30
    [ "$SHOW_RC" = 0 ] || Fail "exit code $SHOW_RC after a key, expected 0"
    ;;
  no-wm)
    # No window manager: on a screen already in the show's mode (Xvfb) the
    # window is simply made to cover it; where the mode changes (Xorg), SDL
    # changes it, and it comes back at the end.
    for server in xvfb xorg; do
      Step "$server without a window manager"
      if [ $server = xorg ]; then StartServer xorg none; else StartXSession 640x480x24 "" none; fi
      [ "$("$WM_PROBE")" = "0 0" ] || Fail "a window manager seen where none runs: $("$WM_PROBE")"
      before=$(CurrentMode)
      StartShow SDL_AUDIODRIVER=dummy
      AcceptDialog
      WaitForShowMode
      ExpectFullScreen
      xdotool key space
      WaitForShow 30
      [ "$SHOW_RC" = 0 ] || Fail "exit code $SHOW_RC after a key, expected 0"
      # Read again for a moment: a query made while the show lets go of the
      # display can come back empty.
      for i in $(seq 30); do [ "$(CurrentMode)" = "$before" ] && break; sleep 0.1; done
      [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after the show, expected $before"
    done
    ;;
  missing-loading)
    rm "$TMP/work/data/loading.hwl"
    StartServer xorg
    before=$(CurrentMode)
    StartShow SDL_AUDIODRIVER=dummy
    AcceptDialog
    DismissErrorBox
    [ "$SHOW_RC" = 2 ] || Fail "exit code $SHOW_RC, expected 2"
    grep -qE '^Error: Runtime error 2 at 0x[0-9A-F]{8}$' "$TMP/stderr" || Fail "no run-time error report"
    ExpectStderr "loading.hwl"
    [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after the error, expected $before"
    ;;
  box-signals)
    # A program waiting in its error box still ends on SIGTERM, SIGINT or
    # SIGHUP, display restored, and its box goes with it.
    rm "$TMP/work/data/text_4.hwl"
    StartServer xorg
    before=$(CurrentMode)
    for signal in TERM INT HUP; do
      StartShow SDL_AUDIODRIVER=dummy
      AcceptDialog
      WaitForErrorBox
      box=$(BoxProcesses)
      Step "SIG$signal in the error box (box process $box)"
      kill -$signal "$SHOW_PID"
      WaitForShow 5
      [ "$SHOW_RC" = $((128 + $(kill -l $signal))) ] || Fail "exit status $SHOW_RC after SIG$signal in the error box"
      for i in $(seq 30); do kill -0 $box 2>/dev/null || break; sleep 0.1; done
      kill -0 $box 2>/dev/null && Fail "the error box outlived the program after SIG$signal"
      ExpectStderr "text_4.hwl"
      [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after SIG$signal, expected $before"
    done
    ;;
  missing-music | no-audio)
    if [ "$CASE" = missing-music ]; then
      rm "$TMP/work/data/run_away.mp3"
      driver=dummy text="File not found"
    else
      driver=no-such-device text="Error initializing output device."
    fi
    StartServer xorg
    before=$(CurrentMode)
    StartShow SDL_AUDIODRIVER=$driver
    AcceptDialog
    DismissErrorBox
    [ "$SHOW_RC" = 1 ] || Fail "exit code $SHOW_RC, expected 1"
    ExpectStderr "Error: $text"
    [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after the error, expected $before"
    ;;
  no-mode)
    StartServer xvfb
    StartShow SDL_AUDIODRIVER=dummy
    AcceptDialog
    DismissErrorBox
    [ "$SHOW_RC" = 1 ] || Fail "exit code $SHOW_RC, expected 1"
    ExpectStderr "Error: No Power, chump!"
    ;;
  no-display)
    StartShow -u DISPLAY -u WAYLAND_DISPLAY SDL_AUDIODRIVER=dummy
    WaitForShow 20
    [ "$SHOW_RC" = 1 ] || Fail "exit code $SHOW_RC, expected 1"
    grep -qi 'display' "$TMP/stderr" || Fail "stderr does not say that there is no display"
    ;;
  *)
    Fail "unknown case $CASE"
    ;;
esac
echo "PASS: $CASE"
