#!/usr/bin/env bash
# The Debian package installed into a fresh Debian root, as a user would:
#   deb_fresh_root.sh PACKAGES_DIR VERSION
# mmdebstrap makes a minimal root (apt and the essential packages) from
# Debian's archive; `apt-get install ./out/quenrik_VERSION_amd64.deb` inside
# it must bring everything the programs need (recommendations left out). Then,
# inside the root: `hwl info` on an installed picture; `quenrik-capture` writes
# a short video from a folder without data/; `quenrik` from /usr/bin, started
# there, shows its dialog and then the show on this machine's Xvfb (its socket
# bound into the root) with SDL's dummy audio, checked by a screenshot; the
# desktop entry passes desktop-file-validate; `apt-get purge` leaves none of
# the package's files. Every mount is made in a private mount namespace, so
# none outlives the test. Needs root and the network to Debian's archive.
set -uo pipefail
PACKAGES=$(realpath "$1") VERSION=$2
HERE=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
# TMP, PIDS, Fail, Step, StartXSession, WaitForWindow, WaitForExit;
# everything started and TMP (with the root) go when the script ends.
source "$HERE/../support/x_session.sh"
ROOT=$TMP/root
# Mounts live only in private namespaces; should one show here after all,
# keep the root rather than delete through it.
KeepRootIfMounted() {
  if grep -qF " $ROOT/" /proc/mounts; then
    echo "a mount below $ROOT is still there: not deleting $TMP" >&2
    TMP=
  fi
}
XSESSION_CLEANUP=KeepRootIfMounted
FailDetails() { [ -f "$TMP/stderr" ] && sed 's/^/  stderr: /' "$TMP/stderr" >&2; }
[ "$(id -u)" = 0 ] || { echo "SKIP: needs root (chroot and mounts)"; exit $SKIP; }
for tool in mmdebstrap unshare Xvfb xdotool openbox import convert ffprobe desktop-file-validate; do
  command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit $SKIP; }
done
DEB=$PACKAGES/quenrik_${VERSION}_amd64.deb

[ -f "$DEB" ] || Fail "no $DEB"

# The root: Debian's archive for this system's release. The host's own
# downloads (if it keeps them) are linked in as a cache; apt checks each.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
[ -n "$codename" ] || Fail "cannot tell this system's Debian release"
options=()
eval "$(apt-config shell valid Acquire::Check-Valid-Until)"
[ "${valid:-}" = false ] && options+=(--aptopt='Acquire::Check-Valid-Until "false"')
unshare --mount -- mmdebstrap --quiet --variant=apt --skip=cleanup/apt "${options[@]}" \
  --dpkgopt=force-unsafe-io \
  --setup-hook='mkdir -p "$1/var/cache/apt/archives" && cp -l /var/cache/apt/archives/*.deb "$1/var/cache/apt/archives/" 2>/dev/null; true' \
  "$codename" "$ROOT" \
  "deb http://deb.debian.org/debian $codename main" \
  "deb http://deb.debian.org/debian $codename-updates main" \
  "deb http://deb.debian.org/debian-security $codename-security main" >"$TMP/mmdebstrap.log" 2>&1 ||
  { tail -20 "$TMP/mmdebstrap.log"; Fail "mmdebstrap could not make a Debian root"; }
Step "fresh root"

# X first: its socket folder is bound into the root.
StartXSession 640x480x24

# Runs a command inside the root, in a mount namespace of its own with /proc,
# /dev and the X socket folder; a clean environment but the display. The
# command keeps this process's id (every step execs).
InRoot() {
  unshare --mount --propagation private -- bash -c '
    root=$1; shift
    mkdir -p "$root/tmp/.X11-unix"
    mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
      mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix" || exit 125
    exec chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
      DISPLAY="$DISPLAY" DEBIAN_FRONTEND=noninteractive "$@"' InRoot "$ROOT" "$@"
}

mkdir -p "$ROOT/root/out" "$ROOT/root/elsewhere"
cp "$DEB" "$ROOT/root/out/"
InRoot sh -c "cd /root && apt-get install -y -q --no-install-recommends -o Dpkg::Options::=--force-unsafe-io \
  ./out/quenrik_${VERSION}_amd64.deb" >"$TMP/apt.log" 2>&1 || { tail -30 "$TMP/apt.log"; Fail "apt-get install failed"; }
Step "installed: $(grep -E 'newly installed' "$TMP/apt.log")"
InRoot dpkg-query -L quenrik >"$TMP/files" || Fail "quenrik is not installed"

desktop-file-validate "$ROOT/usr/share/applications/quenrik.desktop" || Fail "the desktop entry is not valid"
info=$(InRoot sh -c 'cd /root/elsewhere && hwl info /usr/share/quenrik/data/zem_logo.hwl') || Fail "hwl info failed"
grep -qx 'width: 512' <<<"$info" || Fail "hwl info says: $info"

InRoot sh -c 'cd /root/elsewhere && quenrik-capture clip.mp4 --size 160x120 --to 1000' 2>"$TMP/stderr" ||
  Fail "quenrik-capture failed"
probe=$(ffprobe -v error -show_entries stream=codec_name,width,height,nb_frames -of csv=p=0 \
        "$ROOT/root/elsewhere/clip.mp4") || Fail "no clip.mp4 where the capture was started"
grep -qx 'h264,160,120,60' <<<"$probe" && grep -qx 'mp3,.*' <<<"$probe" || Fail "clip.mp4 holds: $probe"
Step "hwl and capture"

# The show: dialog, Go, a few seconds of show, a key.
InRoot sh -c 'echo $$ >/tmp/quenrik.pid && cd /root/elsewhere && SDL_AUDIODRIVER=dummy exec quenrik' \
  >/dev/null 2>"$TMP/stderr" &
show=$!
PIDS+=($show)
for i in $(seq 100); do [ -s "$ROOT/tmp/quenrik.pid" ] && break; sleep 0.05; done
PIDS+=($(cat "$ROOT/tmp/quenrik.pid" 2>/dev/null))  # the program itself, should the key not end it
dialog=$(WaitForWindow Config 30) || Fail "the configuration dialog did not appear"
import -window root "$TMP/dialog.png" || Fail "no screenshot"
Step "dialog up"
xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
xdotool key Return
WaitForWindow quenrik 15 >/dev/null || Fail "no show window"
sleep 4
kill -0 $show 2>/dev/null || Fail "quenrik ended during the show"
import -window root "$TMP/shot.png" || Fail "no screenshot"
[ -n "${QUENRIK_INSTALL_SHOT_DIR:-}" ] && cp "$TMP/dialog.png" "$TMP/shot.png" "$QUENRIK_INSTALL_SHOT_DIR/"
levels=$(convert "$TMP/shot.png" -colorspace Gray -format '%[fx:mean] %[fx:maxima]' info:)
awk -v l="$levels" 'BEGIN{split(l, v, " "); exit !(v[1] > 0.005 && v[2] > 0.5)}' ||
  Fail "the screen does not show the show (mean and brightest: $levels)"
xdotool key space
WaitForExit $show 20 || Fail "quenrik did not end on a key"
[ $WAITED_RC = 0 ] || Fail "exit code $WAITED_RC after a key, expected 0"
Step "show played (screen mean and brightest $levels)"

# Purged, nothing of it is left.
InRoot apt-get purge -y -q quenrik >"$TMP/purge.log" 2>&1 || { tail "$TMP/purge.log"; Fail "apt-get purge failed"; }
left=()
while read -r path; do
  [ -e "$ROOT$path" ] && [ ! -d "$ROOT$path" ] && left+=("$path")
done <"$TMP/files"
for folder in /usr/share/quenrik /usr/share/doc/quenrik; do [ -e "$ROOT$folder" ] && left+=("$folder"); done
[ ${#left[@]} = 0 ] || Fail "left after the purge: ${left[*]}"
Step "purged, nothing left"
echo "PASS: the Debian package in a fresh root"
