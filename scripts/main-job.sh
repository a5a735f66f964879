#!/usr/bin/env bash
# The main job: builds the library (Linux preset) and shows it binding a
# HotSync installation: tools/link-check runs the library's start-up against
# the stand-in Palm libraries and prints what was loaded and which of the
# 54 Sync Manager and 8 HotSync log functions were bound. Then it runs one
# synchronisation: the runner fernwick-hotsync runs the example conduits
# (the minimal one; Memo Pad, which copies the changed memos to the desktop
# folder; To Do, Address Book and Date Book, which copy their changes to CSV,
# vCard and iCalendar files) against a copy of the sample handheld and prints
# the HotSync log and the desktop files written.
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
# the example conduits and runs them in order against a copy of the sample
# handheld, then prints the HotSync log.
echo "=== HotSync of the example conduits against samples/handheld"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/handheld" "$work/desktop/MemoPad"
cp -R samples/handheld/. "$work/handheld"
echo "A memo dropped on the desktop" > "$work/desktop/MemoPad/NewMemo.txt"
build/linux/bin/fernwick-hotsync --handheld "$work/handheld" --desktop "$work/desktop" \
  --user "Jo Palm" sync build/linux/bin/libminimal_conduit.so build/linux/bin/libmemo_conduit.so \
  build/linux/bin/libtodo_conduit.so build/linux/bin/libaddress_conduit.so \
  build/linux/bin/libdatebook_conduit.so
echo "=== Desktop folder after the synchronisation"
# The exporters also keep one piece per record (*.part) from which they
# assemble their files; those are counted, not listed.
(cd "$work/desktop" && find . -type f ! -name '*.part' | sort &&
  echo "($(find . -type f -name '*.part' | wc -l) per-record pieces)")
