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
source "$(dirname "$0")/../support/x_session.sh"

case_name=$1
quenrik=$(realpath "$2")
DIALOG_DRIVER=$(realpath "$3")
REPO_DATA=$(realpath -m "$4")
MAKE_SHOW_DATA=${5:-}

Choose() { ChooseResolution "$dialog" "$1"; }
Click() { ClickControl "$dialog" "$1"; }

FailDetails() { [ -f "$TMP/stderr" ] && sed 's/^/  quenrik: /' "$TMP/stderr" >&2; }

MakeWorkDir
StartXSession
Step "starting the program"
(cd "$TMP/work" && exec env SDL_AUDIODRIVER=dummy "$quenrik") >"$TMP/stdout" 2>"$TMP/stderr" &
pid=$!
PIDS+=($pid)
dialog=$(WaitForWindow Config 30) || Fail "the configuration dialog did not appear"
sleep 0.3

case $case_name in
  windowed_800x600)
    Choose 1
    Click fullscreen
    Click go
    show=$(WaitForWindow quenrik 20) || Fail "no show window appeared"
    sleep 3  # past the loading screen, into the show
    # 800 x 600 is the outer size, title bar and border included.
    client=$(xwininfo -name quenrik | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}')
    extents=$(xprop -id "$show" _NET_FRAME_EXTENTS | sed 's/.*= *//; s/,/ /g')  # left right top bottom
    size=$(awk -v c="$client" -v e="$extents" 'BEGIN{split(c, s, "x"); split(e, f, " ");
      print s[1] + f[1] + f[2] "x" s[2] + f[3] + f[4]}')
    [ "$size" = 800x600 ] || Fail "the show window is $size outside ($client inside), expected 800x600"
    kill -0 "$pid" 2>/dev/null || Fail "quenrik ended early"
    import -window "$show" "$TMP/show.png" || Fail "no screenshot of the show"
    mean=$(convert "$TMP/show.png" -colorspace Gray -format '%[fx:mean]' info:)
    awk -v m="$mean" 'BEGIN{exit !(m > 0.02)}' || Fail "the show window is black (mean $mean)"
    Keys "$show" space
    WaitForExit "$pid" 10 || Fail "a key did not end the show"
    [ "$WAITED_RC" -eq 0 ] || Fail "exit code $WAITED_RC after a key, expected 0"
    echo "$case_name: window $size ($client inside), mean grey $mean, exit 0"
    ;;
  cancel)
    # Every window created from here on shows up as a CreateNotify on the root.
    xev -root -event substructure >"$TMP/xev" 2>/dev/null &
    PIDS+=($!)
    sleep 0.3
    Click cancel
    WaitForExit "$pid" 10 || Fail "Cancel did not end the program"
    [ "$WAITED_RC" -eq 0 ] || Fail "exit code $WAITED_RC after Cancel, expected 0"
    sleep 0.3
    grep -q DestroyNotify "$TMP/xev" || Fail "the event spy saw nothing (not even the dialog going)"
    ! grep -q CreateNotify "$TMP/xev" || Fail "a window was created after Cancel"
    echo "$case_name: exit 0, no window created"
    ;;
  *)
    Fail "unknown case $case_name"
    ;;
esac
