#!/usr/bin/env bash
# Prepares a wine prefix inside a Windows build folder and starts a persistent
# wine server for it, so that tests run under wine take a fraction of a second
# each. Source it:  . scripts/wine-env.sh build/win64  (or build/win32)
# It returns non-zero, with a message, when wine cannot be brought up. Then
# run the tests, then call wine_env_stop.
#
# The prefix stays in the build folder and is reused by later runs. The server
# and wine's services are started detached from this shell's pipes: a
# wineserver that inherits ctest's output pipes keeps ctest waiting for ever.
# Every wine command runs under a timeout, so a hung wine fails the run.
build_dir=$(cd "${1:?usage: . scripts/wine-env.sh BUILD_DIR}" && pwd)
export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
case "$build_dir" in
  *win32*)
    # A 32-bit prefix; on a kernel without IA-32 support the loader runs
    # through qemu-i386 (scripts/i386-exec.sh registers it). The 64-bit
    # wineserver serves 32-bit clients and runs natively either way.
    export WINEARCH=win32
    WINE_LOADER_CMD=/usr/lib/wine/wine ;;
  *)
    # A shell that set up the win32 prefix before has WINEARCH=win32 set.
    unset WINEARCH
    WINE_LOADER_CMD=/usr/lib/wine/wine64 ;;
esac
export WINE_LOADER_CMD

wine_env_stop() { timeout 60 wineserver -k >/dev/null 2>&1 || true; }

wine_env_start() {
  local started=$SECONDS
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating the prefix $WINEPREFIX"
    timeout 600 "$WINE_LOADER_CMD" wineboot -i </dev/null >/dev/null 2>&1 ||
      echo "wine: wineboot did not finish cleanly (going on; the check below decides)"
    timeout 120 wineserver -w || true
    # No window system for unit tests: wine's null graphics driver.
    timeout 120 "$WINE_LOADER_CMD" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
      </dev/null >/dev/null 2>&1 || { echo "wine: cannot set the null graphics driver"; return 1; }
    timeout 120 wineserver -w || true
  fi
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  # Start wine's background services now, detached, so that the first test
  # does not start them with ctest's pipes as their output; then check that a
  # second program starts promptly, which it does only once they are up.
  setsid timeout 300 "$WINE_LOADER_CMD" cmd /c exit </dev/null >/dev/null 2>&1 || true
  if ! timeout 120 "$WINE_LOADER_CMD" cmd /c exit </dev/null >/dev/null 2>&1; then
    echo "wine: a program in $WINEPREFIX does not start; stopping"
    wine_env_stop
    return 1
  fi
  echo "wine: ready in $((SECONDS - started)) s ($WINEPREFIX)"
}

wine_env_start
