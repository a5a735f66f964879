#!/usr/bin/env bash
# Drives the HotSync action dialog in a real window under a virtual display:
# checks its picture against a stored reference, the accelerators, the Tab
# order, Space, that Enter and Escape do nothing, Help, and the close box.
#
#   dialog_window_test.sh BIN_DIR REFERENCE.png WORK_DIR
#
# FERNWICK_RUNNER (default ./fernwick-hotsync) and FERNWICK_CONDUIT (default
# libminimal_conduit.so) name the runner and the conduit in BIN_DIR; for the
# Windows build under wine: FERNWICK_RUNNER="wine64 fernwick-hotsync.exe"
# FERNWICK_CONDUIT=minimal_conduit.dll (scripts/checks/dialog-wine.sh).
#
# Runs inside xvfb-run (see tests/window/CMakeLists.txt). A picture that
# differs from the reference in more than a few pixels fails the test and is
# kept in WORK_DIR.
set -uo pipefail
bin=$1
reference=$2
work=$3
rm -rf "$work"
mkdir -p "$work/desktop"
cd "$bin" || exit 1
status=0
fail() {
  echo "FAILED: $*"
  status=1
}

# The display answers before anything is started on it.
for _ in $(seq 1 100); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.1
done
xdotool getdisplaygeometry >/dev/null 2>&1 || { echo "FAILED: display $DISPLAY does not answer"; exit 1; }

# Starts `configure` in the background and waits for its window.
start() {
  # shellcheck disable=SC2086
  ${FERNWICK_RUNNER:-./fernwick-hotsync} --desktop "$work/desktop" configure \
    "${FERNWICK_CONDUIT:-libminimal_conduit.so}" >"$work/out.txt" 2>&1 &
  pid=$!
  window=""
  for _ in $(seq 1 300); do
    window=$(xdotool search --name "^Change HotSync Action$" 2>/dev/null | head -1)
    [ -n "$window" ] && break
    sleep 0.1
  done
  [ -n "$window" ] || { fail "no window appeared"; cat "$work/out.txt"; exit 1; }
  sleep 0.5
}
keys() {
  for key in "$@"; do
    xdotool windowfocus "$window" key "$key"
    sleep 0.3
  done
}
alive() { kill -0 "$pid" 2>/dev/null; }
finish() {
  for _ in $(seq 1 100); do alive || break; sleep 0.1; done
  if alive; then
    fail "the dialog is still open"
    kill "$pid"
  fi
  wait "$pid"
  code=$?
}

# 1. The picture, then Alt+D, Enter and Escape (nothing), Tab to Help and
# Space (nothing), Tab to the check box and Space (ticked), Tab round to OK.
start
import -window "$window" "$work/dialog.png"
differing=$(/usr/bin/convert "$reference" "$work/dialog.png" -compose difference -composite \
  -fuzz 8% -fill black -opaque black -fill white +opaque black -format "%[fx:mean*w*h]" info: 2>&1)
if [ "$(identify -format %wx%h "$work/dialog.png")" != "$(identify -format %wx%h "$reference")" ] ||
  [ "${differing%.*}" -gt 40 ]; then
  fail "the window differs from $reference in ${differing} pixels (see $work/dialog.png)"
fi
keys alt+d
keys Return
keys Escape
alive || fail "Enter or Escape closed the dialog"
keys Tab Tab Tab space
alive || fail "Help closed the dialog"
keys Tab space
keys Tab Tab space
finish
grep -q "accepted: sync type stPCtoHH, permanent" "$work/out.txt" ||
  fail "expected Desktop overwrites handheld, permanent: $(cat "$work/out.txt")"
[ "$code" = 0 ] || fail "configure answered $code"

# 2. Arrow keys move the selection; the close box cancels.
start
keys Down Down
./close_window "$window"
finish
grep -q "cancelled" "$work/out.txt" || fail "the close box did not cancel: $(cat "$work/out.txt")"

# 3. Alt+H, Alt+A, then Cancel through the Tab order: the selected radio
# button, OK, Cancel.
start
keys alt+h alt+a Tab Tab Tab space
finish
grep -q "cancelled" "$work/out.txt" || fail "Cancel did not cancel: $(cat "$work/out.txt")"

# 4. Alt+N and OK.
start
keys alt+n Tab space
finish
grep -q "accepted: sync type stDoNothing, temporary" "$work/out.txt" ||
  fail "expected Do nothing, temporary: $(cat "$work/out.txt")"

[ $status = 0 ] && echo "dialog window test passed"
exit $status
