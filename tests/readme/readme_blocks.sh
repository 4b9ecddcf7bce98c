#!/usr/bin/env bash
# README.md's commands, run as written.
#   readme_blocks.sh list README            check the markers, list the blocks
#   readme_blocks.sh run SOURCE_DIR WORK    run the blocks in a copy of SOURCE_DIR
# README_BLOCKS="NAME ..." runs only those blocks (to try one by hand).
#
# Every code block of README.md (indented or fenced) comes right after a
# marker, one line that the rendered page does not show:
#   <!-- readme-block NAME: run | KEY ARGS | KEY ARGS ... -->
#   <!-- readme-block NAME: skip REASON -->   (a command that cannot run here)
#   <!-- readme-block NAME: text -->          (not a command: a diagram, a synopsis)
# then one or more blank lines, then the block. Fields are separated by " | ".
# A run block needs "limit SECONDS"; the other keys set up its environment
# (before it runs) or check its documented result (after it ran):
#   display none | display own | display xvfb WxHxD
#                   no DISPLAY (the default); the block starts its own X server
#                   (DISPLAY unset as well); or an Xvfb of that size, started first
#   sound dummy     SDL_AUDIODRIVER=dummy (no sound card); without it, unset
#   press-go [KEY]  once the "Config" dialog appears, focus it and press Return
#                   ("Go!"); with KEY, once the show is on the screen, take a
#                   screenshot (it must not be black) and press KEY
#   serves URL      the block ends in a server that runs until stopped: it runs
#                   in the background until URL answers (within the limit),
#                   then it is stopped with Ctrl+C (SIGINT), as a user would;
#                   the lines after the server then run, and must succeed
#   says REGEX      a line of the block's output matches (grep -E)
#   file PATH       PATH exists and is not empty
#   video PATH VCODEC WxH FPS FRAMES ACODEC
#                   ffprobe: one video stream of that codec, size, rate and
#                   frame count, and one audio stream of that codec (or none)
#   same PATH       PATH is byte for byte what it was before the block (remade)
#   show-seen       press-go saw the show's window (and its screenshot, if any)
#   show-key KEY    the show the block started last in the background ($!)
#                   shows its window, a screenshot is not black, and
#                   "xdotool key KEY" ends it with 0
# The blocks run one after another in README's order, in one copy of the
# working tree without its build folders, so a block finds what the ones
# before it built. Each runs in bash with "set -e" (the first failing command
# fails it) under its time limit; as root, in private mount, PID and network
# namespaces with an empty /tmp, so that a fixed display number such as :7
# cannot meet another X server and nothing the block started outlives it.
set -uo pipefail
SKIP=77

Die() {
  echo "readme_blocks: $*" >&2
  exit 1
}

# Reads README ($1) and writes, for each block in order, DIR/NN.marker (the
# marker's text after "readme-block ") and DIR/NN.block (the commands);
# fails on a block without a marker, a marker not followed by a block, or a
# marker that cannot be read.
Extract() {
  local readme=$1 dir=$2
  mkdir -p "$dir"
  awk -v dir="$dir" -v file="$readme" '
    function fail(msg) { printf "%s:%d: %s\n", file, FNR, msg > "/dev/stderr"; failed = 1; exit 1 }
    function start(kind) {
      if (marker == "") fail("a code block without a readme-block marker before it (mark it run, skip or text)")
      count++
      base = sprintf("%s/%02d", dir, count)
      printf "%s\n", marker > (base ".marker"); close(base ".marker")
      printf "" > (base ".block")
      inblock = kind; marker = ""; blanks = 0
    }
    function line(text) {
      for (; blanks > 0; blanks--) print "" >> (base ".block")
      print text >> (base ".block")
    }
    function finish() { close(base ".block"); inblock = "" }
    inblock == "fence" {
      if ($0 ~ /^```/) finish(); else line($0)
      next
    }
    inblock == "indent" {
      if ($0 ~ /^[ \t]*$/) { blanks++; next }
      if ($0 ~ /^    /) { line(substr($0, 5)); next }
      finish()
    }
    /<!-- *readme-block/ {
      if (marker != "") { FNR = markerline; fail("a readme-block marker that names no block (another marker follows)") }
      if ($0 !~ /^<!-- readme-block [a-z0-9][a-z0-9-]*: (run|skip|text)( .*)? -->$/)
        fail("a malformed readme-block marker: " $0)
      marker = $0
      sub(/^<!-- readme-block /, "", marker); sub(/ -->$/, "", marker)
      markerline = FNR; prevblank = 0
      next
    }
    /^```/ { start("fence"); next }
    /^    [^ ]/ && (prevblank || FNR == 1) { start("indent"); line(substr($0, 5)); next }
    /^[ \t]*$/ { prevblank = 1; next }
    {
      prevblank = 0
      if (marker != "") { FNR = markerline; fail("a readme-block marker that names no block (text follows it)") }
    }
    END {
      if (failed) exit 1
      if (inblock == "fence") { fail("a fenced block that is never closed") }
      if (marker != "") { FNR = markerline; fail("a readme-block marker that names no block (the file ends)") }
    }' "$readme" || return 1
  CheckMarkers "$dir"
}

# Field N (0 = "NAME: KIND ...") of a marker, and its parts.
MarkerFields() { awk 'BEGIN { RS = " [|] " } { sub(/\n$/, ""); print }' "$1"; }
MarkerName() { sed 's/:.*//' "$1"; }
MarkerKind() { sed 's/^[^:]*: \([a-z]*\).*/\1/' "$1"; }

# Every field of every marker is known and complete; names are unique.
CheckMarkers() {
  local dir=$1 marker name kind field key args names=" "
  for marker in "$dir"/*.marker; do
    [ -e "$marker" ] || continue
    name=$(MarkerName "$marker") kind=$(MarkerKind "$marker")
    case "$names" in *" $name "*) Die "two blocks are named $name" ;; esac
    names+="$name "
    local first=1 limit=0
    while IFS= read -r field; do
      if [ $first = 1 ]; then
        first=0
        case "$kind" in
          skip) [[ "$field" =~ ^[^:]*:\ skip\ [^\ ] ]] || Die "$name: skip needs a reason" ;;
          text) [ "$field" = "$name: text" ] || Die "$name: text takes nothing more" ;;
          run) [ "$field" = "$name: run" ] || Die "$name: run takes its settings after \" | \"" ;;
        esac
        continue
      fi
      [ "$kind" = run ] || Die "$name: only a run block has settings: $field"
      key=${field%% *} args=${field#"$key"}
      args=${args# }
      case "$key" in
        limit) [[ "$args" =~ ^[0-9]+$ ]] && limit=1 ;;
        display) [[ "$args" =~ ^(none|own|xvfb\ [0-9]+x[0-9]+x[0-9]+)$ ]] ;;
        sound) [ "$args" = dummy ] ;;
        press-go) [[ "$args" =~ ^[A-Za-z0-9_]*$ ]] ;;
        show-seen) [ -z "$args" ] ;;
        says | file | same) [ -n "$args" ] ;;
        serves) [[ "$args" =~ ^https?://[^\ ]+$ ]] ;;
        video) [[ "$args" =~ ^[^\ ]+\ [a-z0-9]+\ [0-9]+x[0-9]+\ [0-9]+\ [0-9]+\ ([a-z0-9]+|none)$ ]] ;;
        show-key) [[ "$args" =~ ^[A-Za-z0-9_]+$ ]] ;;
        *) false ;;
      esac || Die "$name: cannot read \"$field\""
    done < <(MarkerFields "$marker")
    [ "$kind" != run ] || [ $limit = 1 ] || Die "$name: a run block needs \"limit SECONDS\""
    [ "$kind" != run ] || [ -s "${marker%.marker}.block" ] || Die "$name: the block is empty"
  done
}

# The checks, run after the block in the block's own shell.
Check() { "$@" && echo "ok: ${*#Check}"; }
CheckSays() { grep -Eq -- "$1" "$BLOCK_LOG" || { echo "CHECK says: no line matches $1"; return 1; }; }
CheckFile() { [ -s "$1" ] || { echo "CHECK file: $1 is missing or empty"; return 1; }; }
CheckSame() {
  (cd "$(dirname "$1")" && find "$(basename "$1")" -type f -print0 | sort -z | xargs -0 sha256sum) \
    >"$BLOCK_DIR/same.after" || return 1
  diff "$BLOCK_DIR/same.$(echo "$1" | tr / _)" "$BLOCK_DIR/same.after" ||
    { echo "CHECK same: $1 changed"; return 1; }
}
CheckVideo() {
  local path=$1 vcodec=$2 size=$3 fps=$4 frames=$5 acodec=$6 video audio
  [ -s "$path" ] || { echo "CHECK video: $path is missing or empty"; return 1; }
  video=$(ffprobe -v error -select_streams v -count_packets \
    -show_entries stream=codec_name,width,height,r_frame_rate,nb_read_packets -of csv=p=0 "$path" | tr '\n' ' ')
  audio=$(ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 "$path" | tr '\n' ' ')
  echo "video $path: video streams: ${video:-none}; audio streams: ${audio:-none}"
  [ "$video" = "$vcodec,${size%x*},${size#*x},$fps/1,$frames " ] ||
    { echo "CHECK video: want one $vcodec stream of $size at $fps fps with $frames frames"; return 1; }
  [ "${audio:-none }" = "$acodec " ] || { echo "CHECK video: want one audio stream: $acodec"; return 1; }
}
# Waits until the block in the background ($1) serves URL $2, then stops it.
CheckServes() {
  local pid=$1 url=$2 rc
  until curl -fsS -o "$BLOCK_DIR/served" "$url" 2>/dev/null; do
    kill -0 "$pid" 2>/dev/null || { echo "CHECK serves: the block ended without serving $url"; return 1; }
    sleep 0.5
  done
  echo "serves: $url answered with $(wc -c <"$BLOCK_DIR/served") bytes; stopping the server"
  kill -INT -- -"$pid" 2>/dev/null
  wait "$pid"
  rc=$?
  [ $rc = 0 ] || { echo "CHECK serves: stopped, the block ended with $rc"; return 1; }
  echo "serves: stopped, the rest of the block ran"
}
ShowWindow() { xdotool search --onlyvisible --name '^quenrik$' 2>/dev/null | head -1; }
WaitShowWindow() {
  local deadline=$((SECONDS + 30))
  until [ -n "$(ShowWindow)" ]; do
    kill -0 "$1" 2>/dev/null || { echo "CHECK show: the show ended before its window appeared"; return 1; }
    [ $SECONDS -lt $deadline ] || { echo "CHECK show: no window named quenrik within 30 s"; return 1; }
    sleep 0.2
  done
  echo "show: its window is on the screen (${SECONDS} s)"
}
WaitShowExit() {
  local pid=$1 deadline=$((SECONDS + $2)) rc
  while kill -0 "$pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || { echo "CHECK show: still running after $2 s"; return 1; }
    sleep 0.2
  done
  wait "$pid"
  rc=$?
  [ $rc = 0 ] || { echo "CHECK show: ended with $rc"; return 1; }
  echo "show: ended with 0 (${SECONDS} s)"
}
CheckShowKey() {
  WaitShowWindow "$SHOW_PID" || return 1
  sleep 3
  ScreenNotBlack || return 1
  xdotool key "$1"
  WaitShowExit "$SHOW_PID" 10
}
CheckShowSeen() { [ -s "$BLOCK_DIR/show-seen" ] || { echo "CHECK show-seen: no window named quenrik was shown"; return 1; }; }

# press-go: accepts the dialog as README says (focus it, then a key); notes
# when the show's window is up; with a key ($1), ends the show with it once
# a screenshot shows something.
PressGo() {
  local id= i
  for i in $(seq 1800); do
    id=$(xdotool search --onlyvisible --name '^Config$' 2>/dev/null | head -1)
    [ -n "$id" ] && break
    sleep 0.2
  done
  [ -n "$id" ] || return 0
  echo "press-go: the dialog is up; focusing it and pressing Return"
  xdotool windowactivate --sync "$id" >/dev/null 2>&1 || xdotool windowfocus --sync "$id"
  xdotool key Return
  for i in $(seq 300); do
    [ -n "$(ShowWindow)" ] && break
    sleep 0.1
  done
  [ -n "$(ShowWindow)" ] || { echo "press-go: no show window"; return 0; }
  echo "press-go: the show's window is up"
  if [ -n "${1:-}" ]; then
    sleep 3
    ScreenNotBlack || return 0
    echo "press-go: pressing $1"
    xdotool key "$1"
  fi
  echo yes >"$BLOCK_DIR/show-seen"
}

# The brightest value of any channel on the screen, above a dark grey.
ScreenNotBlack() {
  local max
  import -window root "$BLOCK_DIR/shot.png" || return 1
  max=$(convert "$BLOCK_DIR/shot.png" -format '%[fx:int(255*maxima)]' info:)
  echo "screenshot: brightest channel $max"
  [ "$max" -gt 64 ] || { echo "CHECK show: the screen is black"; return 1; }
}

# Writes the script that runs block $1 (NN) of $2 (extract dir) into $3.
WriteBlockScript() {
  local base=$2/$1 script=$3 field key args setup="" checks="" display="unset DISPLAY" serves=""
  while IFS= read -r field; do
    key=${field%% *} args=${field#"$key"}
    args=${args# }
    case "$key" in
      display)
        case "$args" in
          xvfb*) display="Xvfb -displayfd 3 -noreset -screen 0 ${args#xvfb } -nolisten tcp 3>\"\$BLOCK_DIR/display\" >/dev/null 2>&1 &
until [ -s \"\$BLOCK_DIR/display\" ]; do sleep 0.05; done
export DISPLAY=:\$(head -1 \"\$BLOCK_DIR/display\")" ;;
        esac ;;
      sound) setup+="export SDL_AUDIODRIVER=dummy"$'\n' ;;
      press-go) setup+="PressGo $args &"$'\n' ;;
      serves) serves=$args ;;
      says) checks+="CheckSays $(printf %q "$args")"$'\n' ;;
      file) checks+="CheckFile $args"$'\n' ;;
      video) checks+="CheckVideo $args"$'\n' ;;
      same)
        setup+="(cd \"\$(dirname $args)\" && find \"\$(basename $args)\" -type f -print0 | sort -z | xargs -0 sha256sum) >\"\$BLOCK_DIR/same.$(echo "$args" | tr / _)\""$'\n'
        checks+="CheckSame $args"$'\n' ;;
      show-seen) checks+="CheckShowSeen"$'\n' ;;
      show-key) checks+="CheckShowKey $args"$'\n' ;;
    esac
  done < <(MarkerFields "$base.marker" | tail -n +2)
  {
    echo "unset WAYLAND_DISPLAY SDL_AUDIODRIVER"
    echo "export GDK_BACKEND=x11 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory"
    declare -f Check CheckServes CheckSays CheckFile CheckSame CheckVideo ShowWindow WaitShowWindow WaitShowExit \
      CheckShowKey CheckShowSeen PressGo ScreenNotBlack
    echo "trap 'rc=\$?; set +e; kill \$(jobs -p) 2>/dev/null; exit \$rc' EXIT"
    echo "cd \"\$REPO\""
    echo "$display"
    echo "$setup"
    echo "echo '--- the block ---'"
    if [ -n "$serves" ]; then
      # Its own process group, so that Ctrl+C reaches the server in it.
      echo "set -m"
      echo "(set -e"
      cat "$base.block"
      echo ") &"
      echo "set +m"
      echo "SERVER_PID=\$!"
      echo "echo '--- its checks ---'"
      echo "failed=0"
      echo "Check CheckServes \$SERVER_PID $(printf %q "$serves") || failed=1"
    else
      echo "set -e"
      cat "$base.block"
      echo
      echo "set +e"
      echo "SHOW_PID=\$!"
      echo "echo '--- its checks ---'"
      echo "failed=0"
    fi
    printf '%s' "$checks" | sed 's/^/Check /; s/$/ || failed=1/'
    echo "exit \$failed"
  } >"$script"
}

# Runs script $1 under limit $2 with REPO and BLOCK_DIR set, in private
# namespaces where that works.
RunIsolated() {
  local script=$1 limit=$2
  if [ "$ISOLATE" = 1 ]; then
    # The work folder moves through /mnt while /tmp becomes an empty tmpfs.
    timeout -k 10 "$limit" unshare --mount --pid --net --fork --kill-child --mount-proc bash -c '
      mount --bind "$WORK" /mnt && mount -t tmpfs -o mode=1777 quenrik-readme /tmp &&
        mkdir -p "$WORK" && mount --move /mnt "$WORK" || exit 125
      ip link set lo up 2>/dev/null
      exec bash "$1"' bash "$script"
  else
    timeout -k 10 "$limit" bash "$script"
  fi
}

List() {
  local dir=$1 marker
  for marker in "$dir"/*.marker; do
    [ -e "$marker" ] || continue
    printf '%-22s %s\n' "$(MarkerName "$marker")" "$(MarkerFields "$marker" | head -1 | sed 's/^[^:]*: //')"
  done
}

# The whole of what follows is read before it runs: the script may change on
# disk while it runs.
Main() {
  case "${1:-}" in
    list)
      [ $# = 2 ] || Die "usage: readme_blocks.sh list README"
      TMP=$(mktemp -d)
      trap 'rm -rf "$TMP"' EXIT
      Extract "$2" "$TMP" || exit 1
      List "$TMP"
      exit 0 ;;
    run)
      [ $# = 3 ] || Die "usage: readme_blocks.sh run SOURCE_DIR WORK" ;;
    *) Die "usage: readme_blocks.sh list README | run SOURCE_DIR WORK" ;;
  esac

  SOURCE=$(realpath "$2")
  WORK=$(realpath -m "$3")
  export WORK REPO=$WORK/repo
  case "$WORK/" in "$SOURCE"/*/) [[ "$WORK" == "$SOURCE"/build* ]] || Die "WORK must be outside the working tree or in a build folder" ;; esac
  for tool in git Xvfb xdotool ffprobe import convert timeout curl; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit $SKIP; }
  done
  rm -rf "$WORK"
  mkdir -p "$WORK/blocks" "$WORK/logs"
  Extract "$SOURCE/README.md" "$WORK/blocks" || exit 1

  ISOLATE=0
  unshare --mount --pid --net --fork --mount-proc true 2>/dev/null && ISOLATE=1
  [ $ISOLATE = 1 ] || echo "note: no private namespaces here (not root?): blocks run beside everything else"

  # The working tree as it is (uncommitted changes included), without what
  # git ignores (build folders, out/).
  mkdir "$REPO"
  (cd "$SOURCE" && git ls-files -z --cached --others --exclude-standard) |
    (cd "$SOURCE" && xargs -0 -I{} sh -c '[ -e "$1" ] && printf "%s\0" "$1"' sh {}) |
    (cd "$SOURCE" && tar --null -T - -cf -) | tar -xf - -C "$REPO" || Die "cannot copy $SOURCE"
  echo "copied the working tree to $REPO ($(du -sh "$REPO" | cut -f1))"

  summary=() failed=0
  for marker in "$WORK"/blocks/*.marker; do
    nn=$(basename "$marker" .marker)
    name=$(MarkerName "$marker") kind=$(MarkerKind "$marker")
    case "$kind" in
      text) continue ;;
      skip)
        summary+=("skipped  $name: $(MarkerFields "$marker" | head -1 | sed 's/^[^:]*: skip //')")
        continue ;;
    esac
    if [ -n "${README_BLOCKS:-}" ] && [[ " $README_BLOCKS " != *" $name "* ]]; then
      summary+=("left out $name: not in README_BLOCKS")
      continue
    fi
    limit=$(MarkerFields "$marker" | sed -n 's/^limit //p')
    export BLOCK_DIR=$WORK/logs/$name BLOCK_LOG=$WORK/logs/$name/log
    mkdir -p "$BLOCK_DIR"
    WriteBlockScript "$nn" "$WORK/blocks" "$BLOCK_DIR/script.sh"
    echo "=== $name (limit $limit s): $(head -1 "$WORK/blocks/$nn.block")"
    start=$SECONDS
    RunIsolated "$BLOCK_DIR/script.sh" "$limit" >"$BLOCK_LOG" 2>&1
    rc=$?
    took=$((SECONDS - start))
    if [ $rc = 0 ]; then
      sed -n '/^--- its checks ---$/,$p' "$BLOCK_LOG" | tail -n +2
      summary+=("ran      $name: ${took} s")
    else
      [ $rc = 124 ] && echo "FAIL: $name did not finish within $limit s"
      echo "FAIL: $name exited with $rc after ${took} s; the end of its output:"
      tail -40 "$BLOCK_LOG" | sed 's/^/  | /'
      summary+=("FAILED   $name: ${took} s")
      failed=1
    fi
  done
  echo
  echo "README.md's blocks:"
  printf '  %s\n' "${summary[@]}"
  [ $failed = 0 ] || exit 1
  # The copy's builds are large; the logs stay.
  rm -rf "$REPO"
  exit 0
}
Main "$@"
