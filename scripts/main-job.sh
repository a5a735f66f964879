#!/usr/bin/env bash
# The main job: builds just what the demonstration needs (the library, the
# stand-ins, the runner, link-check and the example conduits; no tests,
# fuzzers or benchmarks) in build/demo, then
#  1. shows the library binding a HotSync installation: link-check runs the
#     library's start-up against the stand-in Palm libraries and this prints
#     how many of the 54 Sync Manager and 8 HotSync log functions were bound,
#     naming only those that were not;
#  2. runs one synchronisation: fernwick-hotsync runs the example conduits
#     (the minimal one; Memo Pad and To Do, which synchronise both ways with
#     one text file per memo and a CSV file, taking a memo dropped on the
#     desktop; Date Book, both ways with an iCalendar file; Address Book,
#     which copies its changes to a vCard file) against a copy of the sample
#     handheld, with the HotSync log;
#  3. shows what landed on the desktop: the files written and the first lines
#     of one. The desktop folder stays in place (build/main-job/desktop).
#
#   scripts/main-job.sh [FOLDER | --current]
#
# FOLDER binds another installation instead of the stand-ins; --current the
# one the registry file names (see README.md). Run as root on a fresh Debian
# 12 machine, it first installs the few packages the demonstration needs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [ "$(id -u)" = 0 ]; then
  needed=()
  for p in cmake g++ make ccache; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || needed+=("$p")
  done
  if [ ${#needed[@]} -gt 0 ]; then
    echo "Installing: ${needed[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${needed[@]}" \
      >/dev/null
  fi
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

build=build/demo
bin=$build/bin
conduits=(minimal memo todo address datebook)
echo "=== Build (linux, ${build}): the library, the stand-ins, the runner, link-check, the examples"
started=$SECONDS
# On a fresh clone there is no build/ yet to hold the logs.
mkdir -p "$build"
cmake --preset linux -B "$build" "${launcher[@]}" -DFERNWICK_TESTS=OFF -DFERNWICK_BENCH=OFF \
  >"$build.configure.log" 2>&1 || { cat "$build.configure.log"; exit 1; }
cmake --build "$build" -j"$(nproc)" --target link-check fernwick-hotsync sync20 PalmCmn Cmds21 \
  hslog20 "${conduits[@]/%/_conduit}" >"$build.build.log" 2>&1 ||
  { tail -n 40 "$build.build.log"; exit 1; }
echo "built in $((SECONDS - started)) s"

echo
echo "=== Binding a HotSync installation (link-check ${1:-$bin})"
set +e
binding=$("$bin/link-check" "${1:-$bin}" 2>&1)
binding_status=$?
set -e
# The summary lines, the libraries that did not load and the functions left
# unbound, without the registry file and the libraries that loaded.
grep -E "PalmDllPath|side \(|FAILED|functions bound|Message shown| not bound$" <<<"$binding" || true
[ "$binding_status" = 0 ] || echo "(link-check exit status $binding_status: not every function was bound)"

echo
echo "=== HotSync of the example conduits against a copy of samples/handheld"
demo=$root/build/main-job
rm -rf "$demo"
mkdir -p "$demo/handheld" "$demo/desktop/MemoPad"
cp -R samples/handheld/. "$demo/handheld"
echo "A memo dropped on the desktop" >"$demo/desktop/MemoPad/NewMemo.txt"
libraries=()
for c in "${conduits[@]}"; do libraries+=("$bin/lib${c}_conduit.so"); done
"$bin/fernwick-hotsync" --handheld "$demo/handheld" --desktop "$demo/desktop" --user "Jo Palm" \
  sync "${libraries[@]}"

echo
echo "=== What landed on the desktop ($demo/desktop)"
# Beside their files the two-way conduits keep the state of the last
# synchronisation (*.sync-state).
(cd "$demo/desktop" && find . -type f | sort)
if [ -f "$demo/desktop/ToDo/ToDo.csv" ]; then
  echo "--- first lines of ToDo/ToDo.csv"
  head -n 5 "$demo/desktop/ToDo/ToDo.csv"
fi
echo
echo "The desktop folder stays in place: $demo/desktop (the handheld copy beside it)."
