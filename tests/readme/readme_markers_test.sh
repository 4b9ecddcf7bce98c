#!/usr/bin/env bash
# The marker reader of readme_blocks.sh: README.md itself reads cleanly, and
# a README that drifted from its markers is refused, naming the line.
#   readme_markers_test.sh README_BLOCKS_SH README
set -uo pipefail
BLOCKS=$1 README=$2
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
Fail() {
  echo "FAIL: $*" >&2
  touch "$TMP/failed"
}

bash "$BLOCKS" list "$README" >"$TMP/list" 2>&1 || Fail "README.md: $(cat "$TMP/list")"
grep -q '^quick-start  *run$' "$TMP/list" || Fail "README.md: no quick-start block to run"

# A README of every kind of block; each case below changes one thing.
cat >"$TMP/good.md" <<'EOF'
# title

Run it:

<!-- readme-block first: run | limit 5 | display xvfb 640x480x24 | sound dummy | says ^done$ | file out.txt -->

    echo done >out.txt
    echo done

<!-- readme-block fenced: skip needs a desktop -->

```
desktop-only
```

A diagram:

<!-- readme-block diagram: text -->

    a --> b
        |
        c
EOF
bash "$BLOCKS" list "$TMP/good.md" >"$TMP/out" 2>&1 || Fail "a good README was refused: $(cat "$TMP/out")"
[ "$(awk '{print $1}' "$TMP/out" | tr '\n' ' ')" = "first fenced diagram " ] ||
  Fail "a good README lists $(cat "$TMP/out")"

# Refused: Expect CASE LINE MESSAGE, with the README on stdin.
Expect() {
  local case=$1 line=$2 message=$3
  cat >"$TMP/$case.md"
  if bash "$BLOCKS" list "$TMP/$case.md" >"$TMP/out" 2>&1; then
    Fail "$case: accepted"
  elif ! grep -q -- "$message" "$TMP/out" || { [ -n "$line" ] && ! grep -q "$case.md:$line:" "$TMP/out"; }; then
    Fail "$case: want \"$message\" at line $line, got: $(cat "$TMP/out")"
  fi
}
sed 's/^<!-- readme-block diagram: text -->$//' "$TMP/good.md" | Expect unmarked 20 'without a readme-block marker'
sed 's/^    echo done.*/prose/' "$TMP/good.md" | Expect prose 5 'names no block (text follows it)'
sed '/^    echo done/d' "$TMP/good.md" | Expect no-block 5 'names no block (another marker follows)'
sed '6{/^$/d}' "$TMP/good.md" | Expect no-blank-line 5 'names no block'
sed '/^A diagram:$/i <!-- readme-block extra: text -->\n' "$TMP/good.md" | Expect dangling 16 'names no block'
{ cat "$TMP/good.md"; printf '\n<!-- readme-block last: text -->\n'; } | Expect at-the-end 24 'names no block (the file ends)'
sed 's/first: run/first: go/' "$TMP/good.md" | Expect unknown-kind 5 'malformed'
sed 's/readme-block first:/readme-block First:/' "$TMP/good.md" | Expect bad-name 5 'malformed'
sed 's/ | limit 5//' "$TMP/good.md" | Expect no-limit "" 'first: a run block needs "limit SECONDS"'
sed 's/ | sound dummy/ | sound loud/' "$TMP/good.md" | Expect bad-value "" 'first: cannot read "sound loud"'
sed 's/ | file out.txt/ | keep out.txt/' "$TMP/good.md" | Expect unknown-key "" 'first: cannot read "keep out.txt"'
sed 's/ | sound dummy/| sound dummy/' "$TMP/good.md" | Expect no-spaces "" 'first: cannot read "display'
sed 's/diagram: text/first: text/' "$TMP/good.md" | Expect same-name "" 'two blocks are named first'
sed 's/fenced: skip needs a desktop/fenced: skip/' "$TMP/good.md" | Expect no-reason "" 'fenced: skip needs a reason'
sed 's/diagram: text/diagram: text | limit 5/' "$TMP/good.md" | Expect text-with-settings "" 'diagram: only a run block has settings'
awk '/^```$/ && ++n == 2 { next } 1' "$TMP/good.md" | Expect unclosed "" 'never closed'

# The runner, on a repository of one README.
mkdir -p "$TMP/repo/data"
echo picture >"$TMP/repo/data/a.hwl"
cat >"$TMP/repo/README.md" <<'EOF'
<!-- readme-block passes: run | limit 20 | says ^hello$ | file out.txt | same data -->

    echo hello
    echo written >out.txt

<!-- readme-block wrong-output: run | limit 20 | says ^bye$ -->

    echo hello

<!-- readme-block changes-data: run | limit 20 | same data -->

    echo other >data/a.hwl

<!-- readme-block too-long: run | limit 2 -->

    sleep 30

<!-- readme-block fails: run | limit 20 | file never.txt -->

    false
    touch never.txt

<!-- readme-block server: run | limit 20 | serves http://127.0.0.1:8765/a.hwl | file out.txt | file after.txt -->

    echo serving >out.txt
    python3 -m http.server --bind 127.0.0.1 --directory data 8765
    echo after >after.txt

<!-- readme-block no-server: run | limit 20 | serves http://127.0.0.1:8765/ -->

    echo not serving
EOF
git -C "$TMP/repo" init -q
Run() { README_BLOCKS=$1 bash "$BLOCKS" run "$TMP/repo" "$TMP/work" >"$TMP/out" 2>&1; }
Run passes
case $? in
  0) grep -q '^ok: Says ^hello\$' "$TMP/out" && grep -q '^ok: Same data' "$TMP/out" ||
       Fail "passes: the checks said nothing: $(cat "$TMP/out")" ;;
  77) echo "the runner: skipped, $(head -1 "$TMP/out")" ;;
  *) Fail "passes: failed: $(cat "$TMP/out")" ;;
esac
if grep -q '^ok: ' "$TMP/out"; then
  for case in "wrong-output|CHECK says: no line matches" "changes-data|CHECK same: data changed" \
    "too-long|did not finish within 2 s" "fails|fails exited with 1" \
    "no-server|CHECK serves: the block ended without serving http://127.0.0.1:8765/"; do
    Run "${case%%|*}" && Fail "${case%%|*}: passed"
    grep -q -- "${case#*|}" "$TMP/out" || Fail "${case%%|*}: want \"${case#*|}\", got: $(cat "$TMP/out")"
  done
  if command -v python3 >/dev/null; then
    Run server || Fail "server: failed: $(cat "$TMP/out")"
    grep -q '^serves: http://127.0.0.1:8765/a.hwl answered with 8 bytes' "$TMP/out" ||
      Fail "server: not served: $(cat "$TMP/out")"
  fi
fi

[ -e "$TMP/failed" ] && exit 1
echo "the markers of README.md and the refusals: ok"
