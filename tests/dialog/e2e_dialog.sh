#!/usr/bin/env bash
# End-to-end runs of the real quenrik program through its configuration dialog
# on a private Xvfb with openbox.
#   e2e_dialog.sh CASE QUENRIK DIALOG_DRIVER REPO_DATA_DIR [MAKE_SHOW_DATA]
# Cases:
#   windowed_800x600  choose 800 x 600 and clear "Fullscreen", press "Go!": the
#                     show window is 800 x 600 outside and draws; a key ends it,
#                     exit 0.
#   cancel            press "Cancel": exit 0 and no window is ever created.
set -u
here=$(dirname "$0")
source "$here/x_session.sh"

case_name=$1
quenrik=$(realpath "$2")
driver=$(realpath "$3")
repo_data=$(realpath -m "$4")
make_show_data=${5:-}

# The show reads data/ below its working directory: the repository's when it
# is complete, stand-in pictures and a short tone otherwise.
MakeWorkDir() {
  local work=$XSESSION_TMP/work name complete=1
  mkdir -p "$work/data"
  for name in loading zem_logo text_1 text_2 text_3 text_4 text_5 text_6 text_7 text_8 text_9 text_99 text_10 text_11; do
    [ -f "$repo_data/$name.hwl" ] || complete=0
  done
  [ -f "$repo_data/run_away.mp3" ] || complete=0
  if [ $complete = 1 ]; then
    cp "$repo_data"/*.hwl "$repo_data/run_away.mp3" "$work/data/"
  else
    [ -n "$make_show_data" ] || Fail "data/ is incomplete and there is no stand-in maker"
    "$make_show_data" "$work" >/dev/null || Fail "cannot make stand-in pictures"
    ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=20" -ar 44100 -ac 2 -c:a libmp3lame \
      "$work/data/run_away.mp3" || Fail "cannot make a stand-in MP3"
  fi
}

# Opens the resolution list with a click and picks the entry $1 steps below
# the selected one with the keyboard, waiting for the list to open and close.
Choose() {
  local steps=() i
  for i in $(seq "$1"); do steps+=(Down); done
  Click resolution
  WaitForVisibleCount quenrik 2 || Fail "the resolution list did not open"
  Keys "$dialog" "${steps[@]}" Return
  WaitForVisibleCount quenrik 1 || Fail "the resolution list did not close"
}

Click() {
  local where
  where=$("$driver" --where "$1") || Fail "no control $1"
  # shellcheck disable=SC2086
  ClickAt "$dialog" $where
}

ShowFailed() {
  sed 's/^/  quenrik: /' "$XSESSION_TMP/stderr" >&2
  Fail "$*"
}

MakeWorkDir
StartXSession
Step "starting the program"
(cd "$XSESSION_TMP/work" && exec env SDL_AUDIODRIVER=dummy "$quenrik") >"$XSESSION_TMP/stdout" 2>"$XSESSION_TMP/stderr" &
pid=$!
XSESSION_PIDS+=($pid)
dialog=$(WaitForWindow Config 30) || ShowFailed "the configuration dialog did not appear"
sleep 0.3

case $case_name in
  windowed_800x600)
    Choose 1
    Click fullscreen
    Click go
    show=$(WaitForWindow quenrik 20) || ShowFailed "no show window appeared"
    sleep 3  # past the loading screen, into the show
    # 800 x 600 is the outer size, title bar and border included.
    client=$(xwininfo -name quenrik | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
    extents=$(xprop -id "$show" _NET_FRAME_EXTENTS | sed 's/.*= *//; s/,/ /g')  # left right top bottom
    size=$(awk -v c="$client" -v e="$extents" 'BEGIN{split(c, s, "x"); split(e, f, " ");
      print s[1] + f[1] + f[2] "x" s[2] + f[3] + f[4]}')
    [ "$size" = 800x600 ] || ShowFailed "the show window is $size outside ($client inside), expected 800x600"
    kill -0 "$pid" 2>/dev/null || ShowFailed "quenrik ended early"
    import -window "$show" "$XSESSION_TMP/show.png" || Fail "no screenshot of the show"
    mean=$(convert "$XSESSION_TMP/show.png" -colorspace Gray -format '%[fx:mean]' info:)
    awk -v m="$mean" 'BEGIN{exit !(m > 0.02)}' || ShowFailed "the show window is black (mean $mean)"
    Keys "$show" space
    WaitForExit "$pid" 10 || ShowFailed "a key did not end the show"
    [ "$WAITED_RC" -eq 0 ] || ShowFailed "exit code $WAITED_RC after a key, expected 0"
    echo "$case_name: window $size ($client inside), mean grey $mean, exit 0"
    ;;
  cancel)
    # Every window created from here on shows up as a CreateNotify on the root.
    xev -root -event substructure >"$XSESSION_TMP/xev" 2>/dev/null &
    XSESSION_PIDS+=($!)
    sleep 0.3
    Click cancel
    WaitForExit "$pid" 10 || ShowFailed "Cancel did not end the program"
    [ "$WAITED_RC" -eq 0 ] || ShowFailed "exit code $WAITED_RC after Cancel, expected 0"
    sleep 0.3
    grep -q DestroyNotify "$XSESSION_TMP/xev" || Fail "the event spy saw nothing (not even the dialog going)"
    ! grep -q CreateNotify "$XSESSION_TMP/xev" || ShowFailed "a window was created after Cancel"
    echo "$case_name: exit 0, no window created"
    ;;
  *)
    Fail "unknown case $case_name"
    ;;
esac
