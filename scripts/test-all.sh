#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine (when run as root or with --install), then
# builds and tests every configuration: linux, linux-asan, win32 (32-bit
# Windows) and win64 (64-bit Windows, tests under wine64), plus the extra
# checks in scripts/checks/ (fuzzing, format interop).
#
#   scripts/test-all.sh [--install] [--no-install] [PRESET...]
#
# Without presets it runs all four. Exits non-zero when anything fails.
#
# The win32 tests run under 32-bit wine where the machine can execute 32-bit
# programs; a kernel without 32-bit support (such as this project's CI
# machines) builds them but cannot run them, and the script says so.
set -euo pipefail
cd "$(dirname "$0")/.."

install=auto
presets=()
for arg in "$@"; do
  case "$arg" in
    --install) install=yes ;;
    --no-install) install=no ;;
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

status=0
for preset in "${presets[@]}"; do
  echo "=== $preset: configure and build"
  cmake --preset "$preset" "${launcher[@]}" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
  echo "=== $preset: test"
  if [ "$preset" = win32 ] && ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "win32: built; tests not run: this machine cannot execute 32-bit programs"
  elif [ "$preset" = win32 ] || [ "$preset" = win64 ]; then
    . scripts/wine-env.sh "build/$preset"
    timeout 1800 ctest --preset "$preset" || status=1
    wine_env_stop
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
