#!/usr/bin/env bash
# The main job: builds the library (Linux preset) and shows it binding a
# HotSync installation: tools/link-check runs the library's start-up against
# the stand-in Palm libraries and prints what was loaded and which of the
# 54 Sync Manager and 8 HotSync log functions were bound. Then it runs one
# synchronisation: the runner fernwick-hotsync runs the example conduit
# against a copy of the sample handheld and prints the HotSync log.
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
build/linux/bin/link-check "$@"

# A whole synchronisation as HotSync Manager runs it: fernwick-hotsync loads
# the example conduit and runs it against a copy of the sample handheld, then
# prints the HotSync log.
echo "=== HotSync of the example conduit against samples/handheld"
handheld=$(mktemp -d)
trap 'rm -rf "$handheld"' EXIT
cp -R samples/handheld/. "$handheld"
build/linux/bin/fernwick-hotsync --handheld "$handheld" --user "Jo Palm" \
  sync build/linux/bin/libminimal_conduit.so
