# Sourced by the end-to-end scripts. MakeWorkDir fills $TMP/work/data with what
# the show reads below its working directory: the repository's data/ when it is
# complete, stand-in pictures and a 20 s tone otherwise. Needs TMP, REPO_DATA,
# MAKE_SHOW_DATA and a Fail function.
MakeWorkDir() {
  mkdir -p "$TMP/work/data"
  local complete=1 name
  for name in loading zem_logo text_1 text_2 text_3 text_4 text_5 text_6 text_7 text_8 text_9 text_99 text_10 text_11; do
    [ -f "$REPO_DATA/$name.hwl" ] || complete=0
  done
  [ -f "$REPO_DATA/run_away.mp3" ] || complete=0
  if [ $complete = 1 ]; then
    cp "$REPO_DATA"/*.hwl "$REPO_DATA/run_away.mp3" "$TMP/work/data/"
  else
    "$MAKE_SHOW_DATA" "$TMP/work" || Fail "cannot make stand-in pictures"
    ffmpeg -loglevel error -f lavfi -i "sine=frequency=440:duration=20" -ar 44100 -ac 2 -c:a libmp3lame \
      "$TMP/work/data/run_away.mp3" || Fail "cannot make a stand-in MP3"
  fi
}

# Starts openbox on $DISPLAY (title bars, focus, close buttons) and waits until
# it manages the screen. Needs a PIDS array and a Fail function.
StartOpenbox() {
  local i
  openbox --sm-disable >/dev/null 2>&1 &
  PIDS+=($!)
  for i in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
    sleep 0.05
  done
  Fail "openbox did not start"
}
