#!/usr/bin/env bash
# Cross-builds quenrik.exe (tools/build-windows.sh), then checks what the exe
# is made of: it imports only DLLs that come with Windows, and its resources
# are dialog 108 as resources/config_dialog.rc describes it (that file is
# checked against the control table by the dialog tests) and icon group 1,
# all in German (Germany).
#   windows_build.sh SOURCE_DIR BUILD_DIR
set -u  # no pipefail: "grep -q" ends pipelines early on purpose
SOURCE=$(realpath "$1") BUILD=$(realpath -m "$2")
SKIP=77
MINGW=x86_64-w64-mingw32
for tool in $MINGW-g++-posix $MINGW-windres $MINGW-objdump; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit $SKIP; }
done
Fail() {
  echo "FAIL: $*" >&2
  exit 1
}

start=$SECONDS
JOBS=${JOBS:-2} bash "$SOURCE/tools/build-windows.sh" "$BUILD" || Fail "the cross build failed"
echo "cross build: $((SECONDS - start)) s"
EXE=$BUILD/shell/quenrik.exe

# Imports: the system's own DLLs only (the C and C++ runtimes are linked in;
# msvcrt.dll ships with every Windows).
allowed=" KERNEL32.dll USER32.dll GDI32.dll OPENGL32.dll WINMM.dll MSACM32.dll msvcrt.dll "
headers=$($MINGW-objdump -p "$EXE") || Fail "cannot read $EXE"
imports=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers")
[ -n "$imports" ] || Fail "no import table in $EXE"
for dll in $imports; do
  [[ "$allowed" == *" $dll "* ]] || Fail "quenrik.exe imports $dll, which Windows does not ship"
done
echo "imports: $(echo $imports)"
grep -q 'file format pei-x86-64' <<<"$headers" || Fail "quenrik.exe is not a 64-bit Windows program"
grep -qE '^Subsystem\s+00000002' <<<"$headers" || Fail "quenrik.exe is not a windowed program"

# Resources, as windres reads them back from the compiled object.
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
$MINGW-windres -i "$BUILD/shell/quenrik_resources.o" -O rc >"$TMP/all.rc" || Fail "cannot read the resources"
$MINGW-windres -O coff "$SOURCE/resources/config_dialog.rc" -o "$TMP/dialog.o" || Fail "cannot compile config_dialog.rc"
$MINGW-windres -i "$TMP/dialog.o" -O rc >"$TMP/dialog.rc" || Fail "cannot read config_dialog.rc back"
DialogBlock() { awk '/^108 DIALOG/{on=1} on{print} on && /^END/{exit}' "$1"; }
[ -n "$(DialogBlock "$TMP/dialog.rc")" ] || Fail "config_dialog.rc has no dialog 108"
diff <(DialogBlock "$TMP/dialog.rc") <(DialogBlock "$TMP/all.rc") >&2 ||
  Fail "the exe's dialog 108 differs from resources/config_dialog.rc"
DialogBlock "$TMP/all.rc" | grep -qx '108 DIALOG 100, 100, 142, 131' || Fail "dialog 108 is not at 100, 100, 142 x 131"
DialogBlock "$TMP/all.rc" | grep -qx 'STYLE 0x90c800c0' || Fail "dialog 108 has the wrong style"
DialogBlock "$TMP/all.rc" | grep -qx 'CAPTION "Config"' || Fail "dialog 108 is not captioned Config"
DialogBlock "$TMP/all.rc" | grep -qx 'FONT 8, "MS Sans Serif"' || Fail "dialog 108 has the wrong font"
ids=$(DialogBlock "$TMP/all.rc" | sed -n 's/^  [A-Z]* \("[^"]*", \)\?\([0-9]*\),.*/\2/p' | tr '\n' ' ')
[ "$ids" = "99 98 50 71 72 65535 65535 65535 " ] || Fail "dialog 108's controls are, in order, $ids"
grep -q '^1 14 /\* RT_GROUP_ICON \*/' "$TMP/all.rc" || Fail "no icon group 1"
languages=$(grep '^LANGUAGE' "$TMP/all.rc" | sort -u)
[ "$languages" = "LANGUAGE 7, 1" ] || Fail "resource languages: $languages (expected only 7, 1: German (Germany))"
echo "resources: dialog 108 with 8 controls, icon group 1, language 1031"
