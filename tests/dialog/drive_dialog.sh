#!/usr/bin/env bash
# Drives the real GTK configuration dialog (through dialog_driver) on a private
# X server, as a person would, and checks what the dialog chose.
#   drive_dialog.sh CASE DRIVER [SCREENSHOT.png]
set -u
source "$(dirname "$0")/../support/x_session.sh"

case_name=$1
DIALOG_DRIVER=$2
screenshot=${3:-}

StartXSession
Step "starting the program"
"$DIALOG_DRIVER" >"$TMP/out" 2>"$TMP/err" &
pid=$!
PIDS+=($pid)
win=$(WaitForWindow Config 30) || Fail "no window named Config appeared ($(cat "$TMP/err"))"
sleep 0.3

Choose() { ChooseResolution "$win" "$1"; }
Click() { ClickControl "$win" "$1"; }

# Checks that the dialog ended by itself and printed $1.
Expect() {
  WaitForExit "$pid" 20 || Fail "$case_name: the dialog is still open"
  [ "$WAITED_RC" -eq 0 ] || Fail "$case_name: exit code $WAITED_RC ($(cat "$TMP/err"))"
  local got
  got=$(cat "$TMP/out")
  [ "$got" = "$1" ] || Fail "$case_name: expected '$1', got '$got'"
  echo "$case_name: $got"
}

case $case_name in
  go_800x600_windowed)
    Choose 1
    Click fullscreen
    Click go
    Expect "outcome=Go width=800 height=600 bits=32 fullscreen=0"
    ;;
  go_1024x768_16_bit)
    Choose 2
    Click true_color
    Click go
    Expect "outcome=Go width=1024 height=768 bits=16 fullscreen=1"
    ;;
  cancel_after_changes)
    Choose 1
    Click fullscreen
    Click true_color
    Click cancel
    Expect "outcome=Quit width=640 height=480 bits=16 fullscreen=0"
    ;;
  enter_is_go)
    if [ -n "$screenshot" ]; then
      import -window "$win" "$screenshot" || Fail "no screenshot"
    fi
    Keys "$win" Return
    Expect "outcome=Go width=640 height=480 bits=32 fullscreen=1"
    ;;
  enter_on_cancel_is_cancel)
    Keys "$win" Tab Tab Return  # no first focus: Go, then Cancel
    Expect "outcome=Quit width=640 height=480 bits=32 fullscreen=1"
    ;;
  enter_on_list_or_box_is_go)
    Keys "$win" Tab Tab Tab Return  # Go, Cancel, the list: Enter still means Go
    Expect "outcome=Go width=640 height=480 bits=32 fullscreen=1"
    ;;
  space_and_enter_on_a_box)
    Keys "$win" Tab Tab Tab Tab space Return  # "Fullscreen" cleared, then Go
    Expect "outcome=Go width=640 height=480 bits=32 fullscreen=0"
    ;;
  escape_does_nothing)
    Keys "$win" Escape
    sleep 1
    kill -0 "$pid" 2>/dev/null || Fail "Escape ended the dialog"
    WaitForWindow Config 1 >/dev/null || Fail "Escape hid the dialog"
    Click go
    Expect "outcome=Go width=640 height=480 bits=32 fullscreen=1"
    ;;
  close_button_is_cancel)
    ClickCloseButton "$win"
    Expect "outcome=Quit width=640 height=480 bits=32 fullscreen=1"
    ;;
  alt_f4_is_cancel)
    # openbox takes over Alt+F4 a moment after it announces itself: a press
    # that comes too early reaches the dialog, which rightly ignores it.
    for attempt in 1 2 3; do
      Keys "$win" alt+F4
      for i in $(seq 30); do
        kill -0 "$pid" 2>/dev/null || break 2
        sleep 0.1
      done
    done
    Expect "outcome=Quit width=640 height=480 bits=32 fullscreen=1"
    ;;
  *)
    Fail "unknown case $case_name"
    ;;
esac
