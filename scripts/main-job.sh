#!/usr/bin/env bash
# The main job: builds the library (Linux preset) and shows it binding a
# HotSync installation: tools/link-check runs the library's start-up against
# the stand-in Palm libraries and prints what was loaded and which of the
# 54 Sync Manager and 8 HotSync log functions were bound.
#
#   scripts/main-job.sh [FOLDER | --current]
#
# FOLDER binds another installation instead of the stand-ins; --current the
# one the registry file names (see README.md). Run as root on a fresh Debian
# 12 machine, it first installs what it needs (scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ]; then
  scripts/install-deps.sh
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

echo "=== linux: configure and build"
cmake --preset linux "${launcher[@]}" >/dev/null
cmake --build --preset linux -j"$(nproc)"

echo "=== link-check"
exec build/linux/bin/link-check "$@"
