#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (when run as root or with --install), then
# builds and tests every configuration: linux, linux-asan, win32 (32-bit
# Windows) and win64 (64-bit Windows, tests under wine64), plus the extra
# checks in scripts/checks/ (fuzzing, format interop).
#
#   scripts/test-all.sh [--install] [--no-install] [--require-win32] [PRESET...]
#
# Without presets it runs all four. Exits non-zero when anything fails.
#
# The win32 tests run under 32-bit wine. Where the kernel cannot execute
# 32-bit programs (this project's CI machines), the script registers
# qemu-i386 for the run when it is root (scripts/i386-exec.sh) and removes the
# registration afterwards. Where neither works it says so and goes on, unless
# --require-win32 is given (CI gives it): then that is a failure.
set -euo pipefail
cd "$(dirname "$0")/.."

install=auto
require_win32=no
presets=()
for arg in "$@"; do
  case "$arg" in
    --install) install=yes ;;
    --no-install) install=no ;;
    --require-win32) require_win32=yes ;;
    *) presets+=("$arg") ;;
  esac
done
[ ${#presets[@]} -gt 0 ] || presets=(linux linux-asan win32 win64)
[ "$install" = auto ] && { [ "$(id -u)" = 0 ] && install=yes || install=no; }

if [ "$install" = yes ]; then
  scripts/install-deps.sh
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

. scripts/i386-exec.sh
cleanup() { command -v wine_env_stop >/dev/null && wine_env_stop; i386_exec_release; }
trap cleanup EXIT

status=0
# Runs a Windows preset's tests under the wine that scripts/wine-env.sh sets
# up for its build folder.
wine_ctest() {
  if . scripts/wine-env.sh "build/$1"; then
    timeout 1800 ctest --preset "$1" || status=1
  else
    status=1
  fi
  wine_env_stop
}

for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" "${launcher[@]}" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  echo "=== $preset: test"
  if [ "$preset" = win32 ]; then
    if i386_exec_prepare; then
      wine_ctest "$preset"
      # The win64 prefix would otherwise run its 32-bit parts through qemu too.
      i386_exec_release
      unset WINEARCH
    elif [ "$require_win32" = yes ]; then
      echo "win32: built; tests not run, and --require-win32 was given"
      status=1
    else
      echo "win32: built; tests not run"
    fi
  elif [ "$preset" = win64 ]; then
    wine_ctest "$preset"
  else
    timeout 1800 ctest --preset "$preset" || status=1
  fi
done

for extra in scripts/checks/*.sh; do
  [ -e "$extra" ] || continue
  echo "=== $(basename "$extra")"
  bash "$extra" || status=1
done

if [ "$status" = 0 ]; then echo "All configurations passed."; else echo "Some tests FAILED."; fi
exit "$status"
