#!/usr/bin/env bash
# Installs what building and testing needs on Debian 12 (as root).
set -euo pipefail
packages=(cmake g++ make libgtest-dev libgmock-dev googletest libbenchmark-dev
  ccache clang libclang-rt-14-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine32:i386 wine64
  libpalm-perl imgvtopgm
  libfltk1.3-dev fluid xvfb xauth xdotool imagemagick
  python3 python3-icalendar python3-vobject
  doxygen strace)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
