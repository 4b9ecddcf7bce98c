# Helpers for tests that drive real windows: a private X server with a window
# manager, and clicks and keys through xdotool. Source this file, then call
# StartXSession; everything started here is stopped when the script exits.

XSESSION_PIDS=()
XSESSION_TMP=$(mktemp -d)

StopXSession() {
  local pid
  for pid in "${XSESSION_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${XSESSION_PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$XSESSION_TMP"
}
trap StopXSession EXIT

Fail() {
  echo "FAIL: $* (after ${SECONDS}s)" >&2
  exit 1
}

# A line of progress, so a test that runs out of time shows where it was.
Step() { echo "[${SECONDS}s] $*"; }

# Starts Xvfb on a display number it picks itself (no race with other tests
# starting servers at the same time), then openbox for title bars, focus and
# the close button. The limits are generous: the machine may be busy. A server
# whose window manager does not come up is replaced once.
StartXSession() {
  local size=${1:-1024x768x24} attempt
  for attempt in 1 2; do
    TryXSession "$size" && return 0
    Step "no window manager on $DISPLAY: $XSESSION_PROBLEM"
  done
  Fail "no X session with a window manager: $XSESSION_PROBLEM"
}

TryXSession() {
  local size=$1 deadline server wm
  Step "starting Xvfb"
  rm -f "$XSESSION_TMP/display"
  Xvfb -displayfd 3 -screen 0 "$size" -nolisten tcp 3>"$XSESSION_TMP/display" >/dev/null 2>&1 &
  server=$!
  XSESSION_PIDS+=($server)
  deadline=$((SECONDS + 20))
  until [ -s "$XSESSION_TMP/display" ] || [ $SECONDS -ge $deadline ]; do sleep 0.05; done
  [ -s "$XSESSION_TMP/display" ] || Fail "Xvfb did not start"
  export DISPLAY=":$(head -1 "$XSESSION_TMP/display")"
  unset WAYLAND_DISPLAY
  # GTK quietly: no accessibility bus, no settings daemon.
  export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
  Step "starting openbox on $DISPLAY"
  openbox --sm-disable >/dev/null 2>"$XSESSION_TMP/openbox.err" &
  wm=$!
  XSESSION_PIDS+=($wm)
  deadline=$((SECONDS + 15))
  while [ $SECONDS -lt $deadline ]; do
    timeout 5 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  local state=running
  kill -0 "$wm" 2>/dev/null || state=gone
  XSESSION_PROBLEM="openbox $state, root: $(timeout 5 xprop -root 2>&1 | head -c 200), openbox: $(head -c 300 "$XSESSION_TMP/openbox.err")"
  kill "$wm" "$server" 2>/dev/null
  return 1
}

# Waits up to $2 seconds (default 10) for a visible window named exactly $1;
# prints its id.
WaitForWindow() {
  local name=$1 deadline=$((SECONDS + ${2:-10})) id
  while [ $SECONDS -lt $deadline ]; do
    id=$(timeout 5 xdotool search --onlyvisible --name "^$name\$" 2>/dev/null | head -1)
    if [ -n "$id" ]; then
      echo "$id"
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Waits up to $3 seconds (default 10) until exactly $2 windows of class $1 are
# visible: a drop-down list is a window of its own while it is open.
WaitForVisibleCount() {
  local class=$1 count=$2 deadline=$((SECONDS + ${3:-10}))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(timeout 5 xdotool search --onlyvisible --class "^$class\$" 2>/dev/null | wc -l)" -eq "$count" ] && return 0
    sleep 0.05
  done
  return 1
}

# Waits up to $2 seconds (default 10) for process $1 to end; its exit code is
# in WAITED_RC.
WaitForExit() {
  local pid=$1 deadline=$((SECONDS + ${2:-10}))
  while [ $SECONDS -lt $deadline ]; do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      WAITED_RC=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# Clicks at x y relative to window $1's client corner.
ClickAt() {
  Step "click at $2 $3"
  timeout 10 xdotool mousemove --sync --window "$1" "$2" "$3" click 1 || Fail "cannot click at $2 $3"
  sleep 0.2
}

# Types keys once window $1 is the active one (an open drop-down list keeps
# its window active).
Keys() {
  local window=$1
  shift
  Step "keys $*"
  local deadline=$((SECONDS + 10))
  while [ $SECONDS -lt $deadline ]; do
    [ "$(timeout 5 xdotool getactivewindow 2>/dev/null)" = "$window" ] && break
    timeout 5 xdotool windowactivate "$window" >/dev/null 2>&1
    sleep 0.1
  done
  timeout 10 xdotool key --delay 100 "$@" || Fail "cannot type $*"
  sleep 0.2
}

# Clicks the close button that openbox puts at the right of the title bar.
ClickCloseButton() {
  local window=$1 x y width
  Step "close button"
  eval "$(timeout 5 xwininfo -id "$window" | awk '/Absolute upper-left X/{print "x=" $4} /Absolute upper-left Y/{print "y=" $4} /Width:/{print "width=" $2}')"
  timeout 10 xdotool mousemove --sync $((x + width - 10)) $((y - 10)) click 1 || Fail "cannot click the close button"
  sleep 0.2
}
