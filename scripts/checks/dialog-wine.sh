#!/usr/bin/env bash
# The HotSync action dialog of the Windows build, in a real window: runs
# tests/window/dialog_window_test.sh against build/win64 under wine64 with
# wine's X11 driver on a virtual display, and compares the dialog's picture
# with docs/dialog-windows.png.
#
#   scripts/checks/dialog-wine.sh
#
# Needs the win64 build (cmake --build --preset win64) and xvfb, xdotool,
# ImageMagick and wine64. Uses its own wine prefix (build/win64/wineprefix-x11),
# because the unit tests' prefix has no graphics driver.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$PWD/build/win64
if [ ! -x "$build/bin/fernwick-hotsync.exe" ] || [ ! -f "$build/bin/minimal_conduit.dll" ]; then
  echo "dialog-wine: build/win64 is not built; skipped"
  exit 0
fi
for tool in xvfb-run xdotool import /usr/lib/wine/wine64; do
  command -v "$tool" >/dev/null 2>&1 || { echo "dialog-wine: $tool is missing" >&2; exit 1; }
done
export WINEPREFIX=$build/wineprefix-x11
unset WINEARCH  # a 64-bit prefix, whatever a win32 run set before
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export QEMU_RESERVED_VA=0x81000000
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 600 xvfb-run -a /usr/lib/wine/wine64 wineboot -i </dev/null >/dev/null 2>&1 || true
  timeout 60 wineserver -w || true
fi
cmake -E make_directory "$build/tests/window"
# close_window is a Linux program: build it from the Linux tree when the
# Windows tree has none.
if [ ! -x "$build/bin/close_window" ]; then
  cc -O2 -o "$build/bin/close_window" tests/window/close_window.c -lX11
fi
export FERNWICK_RUNNER="/usr/lib/wine/wine64 fernwick-hotsync.exe"
export FERNWICK_CONDUIT=minimal_conduit.dll
status=0
timeout 600 xvfb-run -a -s "-screen 0 1024x768x24 -ac -noreset" bash tests/window/dialog_window_test.sh \
  "$build/bin" "$PWD/docs/dialog-windows.png" "$build/tests/window/work" || status=$?
timeout 60 wineserver -k >/dev/null 2>&1 || true
exit $status
