# Helpers for the end-to-end scripts that drive real windows: a private X
# server (Xvfb, or Xorg with the dummy driver) with a window manager, the
# show's data in a work folder, waits, clicks and keys through xdotool.
# Source this file. Everything started and listed in PIDS is stopped, and the
# scratch folder TMP removed, when the script exits. A script may define
# FailDetails (run by Fail before it exits, e.g. to show a program's stderr)
# and set XSESSION_CLEANUP (a command run first at exit).

PIDS=()
TMP=$(mktemp -d)
SKIP=77  # ctest's SKIP_RETURN_CODE: what this machine cannot run

StopXSession() {
  local pid i alive
  [ -n "${XSESSION_CLEANUP:-}" ] && eval "$XSESSION_CLEANUP"
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  # A program blocked in its start-up (on a piped file) only queues SIGTERM.
  for i in $(seq 30); do
    alive=0
    for pid in "${PIDS[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive = 0 ] && break
    sleep 0.1
  done
  for pid in "${PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$TMP"
}
trap StopXSession EXIT

Fail() {
  echo "FAIL: $* (after ${SECONDS}s)" >&2
  declare -F FailDetails >/dev/null && FailDetails
  exit 1
}

# A line of progress, so a test that runs out of time shows where it was.
Step() { echo "[${SECONDS}s] $*"; }

# StartXSession [SIZE] [XORG_CONF] [none]: Xvfb with one screen of SIZE
# (default 1024x768x24), or with XORG_CONF Xorg with that configuration (real
# display modes; the test is skipped where Xorg cannot run). Either picks its
# own display number (no race with other tests starting servers at the same
# time); then openbox for title bars, focus and the close button (with
# "none", no window manager at all). The limits are generous: the machine may
# be busy. A server whose window manager does not come up is replaced once.
# Neither server resets when its last client leaves (-noreset): a reset
# refuses connections for a moment, and without a window manager the first
# client, the readiness probe, leaves just before the program comes.
StartXSession() {
  local size=${1:-1024x768x24} conf=${2:-} wm=${3:-openbox} attempt
  for attempt in 1 2; do
    TryXSession "$size" "$conf" "$wm" && return 0
    Step "no X session on $DISPLAY: $XSESSION_PROBLEM"
  done
  Fail "no X session: $XSESSION_PROBLEM"
}

TryXSession() {
  local size=$1 conf=$2 manager=$3 deadline server wm
  rm -f "$TMP/display"
  if [ -n "$conf" ]; then
    command -v Xorg >/dev/null || { echo "SKIP: Xorg is not installed"; exit $SKIP; }
    Step "starting Xorg"
    Xorg -displayfd 3 -noreset -nolisten tcp -config "$conf" -logfile "$TMP/xorg.log" 3>"$TMP/display" >/dev/null 2>&1 &
  else
    Step "starting Xvfb"
    Xvfb -displayfd 3 -noreset -screen 0 "$size" -nolisten tcp 3>"$TMP/display" >/dev/null 2>&1 &
  fi
  server=$!
  PIDS+=($server)
  deadline=$((SECONDS + 20))
  until [ -s "$TMP/display" ] || [ $SECONDS -ge $deadline ] || ! kill -0 "$server" 2>/dev/null; do sleep 0.05; done
  if [ ! -s "$TMP/display" ]; then
    [ -n "$conf" ] && { echo "SKIP: Xorg with the dummy driver does not start here (needs root)"; exit $SKIP; }
    Fail "Xvfb did not start"
  fi
  export DISPLAY=":$(head -1 "$TMP/display")"
  unset WAYLAND_DISPLAY
  # GTK quietly: no accessibility bus, no settings daemon.
  export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
  if [ "$manager" = none ]; then
    # The display number can come before the server takes connections.
    deadline=$((SECONDS + 15))
    while [ $SECONDS -lt $deadline ]; do
      timeout 5 xprop -root >/dev/null 2>&1 && return 0
      sleep 0.05
    done
    XSESSION_PROBLEM="the server on $DISPLAY takes no connections"
    kill "$server" 2>/dev/null
    return 1
  fi
  Step "starting openbox on $DISPLAY"
  openbox --sm-disable >/dev/null 2>"$TMP/openbox.err" &
  wm=$!
  PIDS+=($wm)
  deadline=$((SECONDS + 15))
  while [ $SECONDS -lt $deadline ]; do
    timeout 5 xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  local state=running
  kill -0 "$wm" 2>/dev/null || state=gone
  XSESSION_PROBLEM="openbox $state, root: $(timeout 5 xprop -root 2>&1 | head -c 200), openbox: $(head -c 300 "$TMP/openbox.err")"
  kill "$wm" "$server" 2>/dev/null
  return 1
}

# Fills $TMP/work/data with what the show reads below its working directory:
# the pictures and music of REPO_DATA when it is complete, else stand-in
# pictures (made by MAKE_SHOW_DATA) and a 20 s tone.
MakeWorkDir() {
  local complete=1 name
  mkdir -p "$TMP/work/data"
  for name in loading zem_logo text_1 text_2 text_3 text_4 text_5 text_6 text_7 text_8 text_9 text_99 text_10 text_11; do
    [ -f "$REPO_DATA/$name.hwl" ] || complete=0
  done
  [ -f "$REPO_DATA/run_away.mp3" ] || complete=0
  if [ $complete = 1 ]; then
    cp "$REPO_DATA"/*.hwl "$REPO_DATA/run_away.mp3" "$TMP/work/data/"
  else
    [ -n "${MAKE_SHOW_DATA:-}" ] || Fail "data/ is incomplete and there is no stand-in maker"
    "$MAKE_SHOW_DATA" "$TMP/work" >/dev/null || Fail "cannot make stand-in pictures"
    ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=20" -ar 44100 -ac 2 -c:a libmp3lame \
      "$TMP/work/data/run_away.mp3" || Fail "cannot make a stand-in MP3"
  fi
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

# Clicks the configuration dialog's control $2 (a name of the control table)
# in dialog window $1, where DIALOG_DRIVER (dialog_driver --where) says it is.
ClickControl() {
  local where
  where=$("$DIALOG_DRIVER" --where "$2") || Fail "no control $2"
  # shellcheck disable=SC2086
  ClickAt "$1" $where
}

# Opens the dialog's resolution list with a click and picks the entry $2
# steps below the selected one with the keyboard, waiting for the list to open
# and close.
ChooseResolution() {
  local steps=() i
  for i in $(seq "$2"); do steps+=(Down); done
  ClickControl "$1" resolution
  WaitForVisibleCount quenrik 2 || Fail "the resolution list did not open"
  Keys "$1" "${steps[@]}" Return
  WaitForVisibleCount quenrik 1 || Fail "the resolution list did not close"
}
