#!/usr/bin/env bash
# End-to-end runs of the real, unchanged quenrik program under private X
# servers, with the dialog accepted by its default button.
#   e2e.sh CASE QUENRIK MAKE_SHOW_DATA REPO_DATA_DIR XORG_CONF [DIALOG_DRIVER]
# Cases: play, sigterm, windowed, missing-loading, box-sigterm, missing-music, no-audio, no-mode,
# no-display.
# windowed needs DIALOG_DRIVER (it tells where the dialog's controls are).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/x_session.sh"
CASE=$1
QUENRIK=$(realpath "$2") MAKE_SHOW_DATA=$(realpath "$3") REPO_DATA=$(realpath -m "$4") XORG_CONF=$(realpath "$5")
DIALOG_DRIVER=${6:+$(realpath "$6")}

FailDetails() { [ -f "$TMP/stderr" ] && sed 's/^/  quenrik: /' "$TMP/stderr" >&2; }

# xorg: real display modes (Xorg with the dummy driver); xvfb: one mode only.
StartServer() {
  if [ "$1" = xorg ]; then StartXSession 1024x768x24 "$XORG_CONF"; else StartXSession 1024x768x24; fi
}

CurrentMode() { xrandr 2>/dev/null | awk '/\*/{print $1; exit}'; }

# Starts quenrik in the work directory; its pid is in SHOW_PID.
StartShow() {
  (cd "$TMP/work" && exec env "$@" "$QUENRIK") >"$TMP/stdout" 2>"$TMP/stderr" &
  SHOW_PID=$!
  PIDS+=($SHOW_PID)
}

# Accepts the configuration dialog's defaults (full screen 640 x 480 x 32).
AcceptDialog() {
  local i id=
  for i in $(seq 100); do
    id=$(xdotool search --onlyvisible --name '^Config$' 2>/dev/null | head -1)
    [ -n "$id" ] && break
    kill -0 "$SHOW_PID" 2>/dev/null || return 0
    sleep 0.1
  done
  [ -n "$id" ] || Fail "the configuration dialog did not appear"
  xdotool windowactivate --sync "$id" >/dev/null 2>&1
  xdotool key Return
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
    # A key or signal during decoding is handled at the first frame.
    WaitForShow 30
    [ "$SHOW_RC" = 0 ] || Fail "exit code $SHOW_RC after the $CASE, expected 0"
    [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after the show, expected $before"
    ;;
  windowed)
    [ -n "$DIALOG_DRIVER" ] || Fail "windowed needs the dialog driver"
    StartServer xorg
    before=$(CurrentMode)
    StartShow SDL_AUDIODRIVER=dummy
    dialog=$(WaitForWindow Config 10) || Fail "the configuration dialog did not appear"
    xdotool mousemove --sync --window "$dialog" $("$DIALOG_DRIVER" --where fullscreen) click 1
    sleep 0.3
    xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
    xdotool key Return
    window=$(WaitForWindow quenrik 10) || Fail "no window titled quenrik"
    sleep 2
    # Outer size 640 x 480 at (0, 0): the client plus the frame openbox puts around it.
    eval "$(xwininfo -id "$window" | awk '/Absolute upper-left X/{print "x=" $4} /Absolute upper-left Y/{print "y=" $4}
                                        /Width:/{print "w=" $2} /Height:/{print "h=" $2}')"
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
    xdotool windowactivate --sync "$window" >/dev/null 2>&1
    xdotool key Escape
    WaitForShow 30
    [ "$SHOW_RC" = 0 ] || Fail "exit code $SHOW_RC after a key, expected 0"
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
  box-sigterm)
    # A program waiting in its error box still ends on SIGTERM, display restored.
    rm "$TMP/work/data/text_4.hwl"
    StartServer xorg
    before=$(CurrentMode)
    StartShow SDL_AUDIODRIVER=dummy
    AcceptDialog
    for i in $(seq 200); do
      grep -q '^Error: ' "$TMP/stderr" && break
      kill -0 "$SHOW_PID" 2>/dev/null || Fail "quenrik ended without an error box"
      sleep 0.1
    done
    sleep 1
    kill -0 "$SHOW_PID" 2>/dev/null || Fail "quenrik did not wait in its error box"
    kill -TERM "$SHOW_PID"
    WaitForShow 5
    [ "$SHOW_RC" = 143 ] || Fail "exit status $SHOW_RC after SIGTERM in the error box, expected 143"
    ExpectStderr "text_4.hwl"
    [ "$(CurrentMode)" = "$before" ] || Fail "display mode $(CurrentMode) after the error, expected $before"
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
