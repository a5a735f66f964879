# Helpers for scripts that build what they need in build/linux (the linux
# preset) and drive Perl's Palm::PDB. Source it from the source tree's root:
#   . scripts/linux-build.sh
#   require_palm_pdb NAME [MODULE...]   exits naming NAME when Palm::PDB (and
#                                       the modules) are missing
#   linux_build TARGET...               configures build/linux when needed
#                                       (through ccache when installed) and
#                                       builds the targets quietly
build=build/linux

require_palm_pdb() {
  local name=$1 modules=(-MPalm::PDB)
  shift
  for m in "$@"; do modules+=("-M$m"); done
  if ! perl "${modules[@]}" -e1 2>/dev/null; then
    echo "$name: Perl's Palm::PDB is not installed (apt-get install libpalm-perl)" >&2
    exit 1
  fi
}

linux_build() {
  local launcher=()
  if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  [ -f "$build/CMakeCache.txt" ] || cmake --preset linux "${launcher[@]}" >/dev/null
  cmake --build "$build" --target "$@" -j"$(nproc)" >/dev/null
}
