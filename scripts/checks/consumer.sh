#!/usr/bin/env bash
# Fernwick as a conduit author gets it: builds the conduit project of
# tests/consumer/ (only what a user has) three ways on Linux
#   package       against Fernwick installed into a staging prefix
#   subdirectory  with add_subdirectory of this checkout
#   fetchcontent  with FetchContent from this checkout
# and, where the MinGW cross compilers are installed, for 64-bit and 32-bit
# Windows against the installed Windows package, and against the unpacked
# .deb. Each conduit library must
# export exactly the five entry points; the Linux ones (and the Windows ones,
# under wine when scripts/wine-env.sh brings it up) synchronise a copy of
# samples/handheld through the installed runner (the FetchContent one
# through the runner built with it), and every installed program must start
# from the prefix. A subproject build must hold none of Fernwick's own
# programs. It then makes the packages with CPack: the .deb (Linux) and the
# .zip (win32).
#
#   scripts/checks/consumer.sh [linux] [win64] [win32]
#
# The Fernwick builds are those of the presets (build/<preset>); the script
# builds only the installed targets there. It prints the seconds it took.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
started=$SECONDS
platforms=("$@")
[ ${#platforms[@]} -gt 0 ] || platforms=(linux win64 win32)

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
work=$(mktemp -d)
trap 'command -v wine_env_stop >/dev/null && wine_env_stop; rm -rf "$work"' EXIT
status=0
fail() { echo "FAIL: $*"; status=1; }

installed_targets=(fernwick_dynlib fernwick_framework fernwick_link fernwick_db fernwick_conduit sync20 PalmCmn
  Cmds21 hslog20 fernwick-hotsync fernwick-pdbdump fernwick-emudump fernwick-make-samples
  link-check)

# Builds what the install rules install in build/<preset> and installs it
# into $work/<preset>-prefix.
install_fernwick() {
  local preset=$1
  local log=$work/$preset-fernwick.log
  {
    [ -f "build/$preset/CMakeCache.txt" ] || cmake --preset "$preset" "${launcher[@]}"
    cmake --build --preset "$preset" -j"$(nproc)" --target "${installed_targets[@]}"
    cmake --install "build/$preset" --prefix "$work/$preset-prefix"
  } >"$log" 2>&1 || { cat "$log"; echo "FAIL: building or installing $preset"; return 1; }
}

# The installed include tree: fernwick/ alone, holding the layers' public
# headers, the abi/ headers a conduit uses and the version header, and none
# of the internal ones.
check_installed_headers() {
  local inc=$1/include top internal
  top=$(cd "$inc" && ls -A | tr '\n' ' ')
  [ "$top" = "fernwick " ] || fail "$inc holds more than fernwick/: $top"
  top=$(cd "$inc/fernwick" && ls -A | tr '\n' ' ')
  [ "$top" = "FernwickVersion.h abi conduit db framework link sync " ] ||
    fail "$inc/fernwick holds: $top"
  internal=$(cd "$inc/fernwick" && find . \( -name LinkTesting.h -o -name DorvConfigureForm.h \
    -o -name ModuleText.h -o -name LibraryResources.h -o -name Emulator.h \
    -o -name FormWindowModule.h -o -name FltkLabel.h \))
  [ -z "$internal" ] || fail "internal headers installed: $internal"
  [ "$status" != 0 ] || echo "ok: the installed include tree holds fernwick/ and its public headers"
}

# The names a conduit library exports, one per line, sorted.
exported_names() {
  case "$1" in
    *.dll) x86_64-w64-mingw32-objdump -p "$1" |
      sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort ;;
    *) nm -D --defined-only "$1" | awk '{print $3}' | sort ;;
  esac
}
expected_names=$(printf '%s\n' ConfigureConduit GetConduitInfo GetConduitName GetConduitVersion \
  OpenConduit)

check_exports() {
  local names
  names=$(exported_names "$1")
  if [ "$names" != "$expected_names" ]; then
    fail "$1 exports:"$'\n'"$names"
  else
    echo "ok: $(basename "$1") exports exactly the five entry points"
  fi
}

# Synchronises a copy of samples/handheld with a conduit library through a
# runner: RUNNER LIBRARY [LAUNCHER...]
sync_with() {
  local runner=$1 library=$2 run
  shift 2
  run=$(mktemp -d "$work/run.XXXX")
  cp -R samples/handheld "$run/handheld"
  mkdir "$run/desktop"
  local out
  if out=$("$@" "$runner" --handheld "$run/handheld" --desktop "$run/desktop" sync "$library" 2>&1) &&
    grep -q 'Hello from Fernwick' <<<"$out"; then
    echo "ok: $(basename "$library") synchronised through ${runner#"$work"/}"
  else
    fail "sync with $library:"$'\n'"$out"
  fi
}

# The dialog's window module lies beside a Linux conduit library and loads:
# without a display, configure says so rather than that the module is
# missing. RUNNER LIBRARY
check_window_module() {
  local runner=$1 library=$2 run out
  if [ ! -f "$(dirname "$library")/libfernwick_forms_fltk.so" ]; then
    fail "no libfernwick_forms_fltk.so beside $library"
    return
  fi
  run=$(mktemp -d "$work/run.XXXX")
  cp -R samples/handheld "$run/handheld"
  mkdir "$run/desktop"
  out=$(env -u DISPLAY "$runner" --handheld "$run/handheld" --desktop "$run/desktop" configure \
    "$library" 2>&1) || true  # a cancelled dialog fails the run
  if grep -q 'the dialog cannot be shown: no display' <<<"$out"; then
    echo "ok: the window module beside $(basename "$library") loads"
  else
    fail "configure with $library:"$'\n'"$out"
  fi
}

# Every program installed in PREFIX/bin starts from there and answers
# --version: PREFIX [LAUNCHER...]
check_programs_start() {
  local prefix=$1 program out count=0 bad=0
  shift
  for program in "$prefix"/bin/*; do
    case "$program" in
      *.exe) ;;
      *.so | *.dll) continue ;;
      *) [ -x "$program" ] || continue ;;
    esac
    count=$((count + 1))
    if ! out=$("$@" "$program" --version 2>&1); then
      fail "installed $(basename "$program") --version:"$'\n'"$out"
      bad=1
    fi
  done
  if [ "$count" -lt 5 ]; then
    fail "only $count programs in $prefix/bin"
  elif [ "$bad" = 0 ]; then
    echo "ok: the $count installed programs start from ${prefix#"$work"/}/bin"
  fi
}

# A project that adds Fernwick as a subproject gets none of Fernwick's own
# checks, such as the fernwick_<layer>_alone programs: BUILD
check_no_own_programs() {
  local own
  own=$(find "$1" -name 'fernwick_*_alone*' -type f | head -n 3)
  if [ -n "$own" ]; then
    fail "the subproject build holds Fernwick's own programs:"$'\n'"$own"
  else
    echo "ok: $(basename "$1") holds none of Fernwick's own programs"
  fi
}

# The guide's command lines (each indented block after a guide-run-example
# mark in docs/conduit-guide.md) as a user runs them: in a copy of the
# consumer project, with Fernwick installed in $HOME/fernwick and its bin/ on
# PATH. The guide's my_conduit is the project's hello_conduit, and its /tmp/
# a scratch folder. PREFIX
check_guide_example() {
  local prefix=$1 dir=$work/guide out
  mkdir -p "$dir/home" "$dir/tmp"
  ln -s "$prefix" "$dir/home/fernwick"
  cp -R tests/consumer "$dir/project"
  awk '/<!-- guide-run-example/ { block = 1; next }
       block && /^    / { sub(/^    /, ""); print; next }
       { block = 0 }' docs/conduit-guide.md |
    sed -e 's/my_conduit/hello_conduit/g' -e "s|/tmp/|$dir/tmp/|g" >"$dir/commands.sh"
  if out=$(cd "$dir/project" && HOME=$dir/home PATH=$prefix/bin:$PATH sh -e "$dir/commands.sh" 2>&1) &&
    [ "$(grep -c 'Hello from Fernwick' <<<"$out")" = 2 ]; then
    echo "ok: the guide's command lines ran against the installed Fernwick"
  else
    fail "the guide's command lines:"$'\n'"$(cat "$dir/commands.sh")"$'\n'"$out"
  fi
}

consumer() {  # NAME PLATFORM [cmake arguments...]
  local name=$1
  shift
  local began=$SECONDS
  if cmake -S tests/consumer -B "$work/$name" "${launcher[@]}" "$@" >"$work/$name.log" 2>&1 &&
    cmake --build "$work/$name" -j"$(nproc)" >>"$work/$name.log" 2>&1; then
    echo "ok: consumer ($name) built in $((SECONDS - began)) s"
  else
    cat "$work/$name.log"
    fail "consumer ($name) did not build"
    return 1
  fi
}

for platform in "${platforms[@]}"; do
  case "$platform" in
    linux)
      echo "=== linux: install, then build the consumer three ways"
      install_fernwick linux
      prefix=$work/linux-prefix
      check_installed_headers "$prefix"
      check_programs_start "$prefix"
      # The FetchContent build asks for the stand-ins and the runner too, and
      # runs its conduit with the runner where docs/conduit-guide.md says it
      # lands: bin/ of the author's build.
      for from in package subdirectory fetchcontent; do
        options=()
        runner=$prefix/bin/fernwick-hotsync
        if [ "$from" = fetchcontent ]; then
          options=(-DFERNWICK_STANDINS=ON)
          runner=$work/linux-$from/bin/fernwick-hotsync
        fi
        consumer "linux-$from" -DFERNWICK_FROM=$from -DCMAKE_PREFIX_PATH="$prefix" -DFERNWICK_WERROR=ON \
          -DFERNWICK_SOURCE_DIR="$root" "${options[@]}" || continue
        library=$(find "$work/linux-$from" -name libhello_conduit.so | head -n 1)
        check_exports "$library"
        sync_with "$runner" "$library"
        check_window_module "$runner" "$library"
        [ "$from" = package ] || check_no_own_programs "$work/linux-$from"
      done
      check_guide_example "$prefix"
      # As a subproject Fernwick builds the library alone unless asked.
      if [ -n "$(find "$work/linux-subdirectory" -name fernwick-hotsync)" ]; then
        fail "add_subdirectory built Fernwick's programs too"
      fi
      if (cd build/linux && cpack -G DEB >/dev/null); then
        deb=$(ls build/linux/packages/fernwick_*.deb)
        echo "made $deb"
        # The package as a user unpacks it serves the consumer too.
        if command -v dpkg-deb >/dev/null; then
          dpkg-deb -x "$deb" "$work/deb"
          check_programs_start "$work/deb/usr"
          consumer linux-deb -DFERNWICK_FROM=package -DCMAKE_PREFIX_PATH="$work/deb/usr" &&
            check_exports "$work/linux-deb/libhello_conduit.so" &&
            check_window_module "$prefix/bin/fernwick-hotsync" "$work/linux-deb/libhello_conduit.so"
        fi
      else
        fail "cpack -G DEB"
      fi
      ;;
    win64 | win32)
      if [ "$platform" = win64 ]; then triple=x86_64; else triple=i686; fi
      if ! command -v "$triple-w64-mingw32-g++-posix" >/dev/null; then
        echo "$platform: no MinGW cross compiler; skipped"
        continue
      fi
      echo "=== $platform: install, then build the consumer against the installed package"
      install_fernwick "$platform"
      prefix=$work/$platform-prefix
      consumer "$platform-package" -DFERNWICK_FROM=package \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/mingw-$triple.cmake" \
        -DFernwick_DIR="$prefix/lib/cmake/Fernwick" -DCMAKE_BUILD_TYPE=Release || continue
      check_exports "$work/$platform-package/hello_conduit.dll"
      if [ "$platform" = win64 ] && . scripts/wine-env.sh "build/win64" >/dev/null; then
        sync_with "$prefix/bin/fernwick-hotsync.exe" "$work/win64-package/hello_conduit.dll" \
          "$WINE_LOADER_CMD"
        check_programs_start "$prefix" "$WINE_LOADER_CMD"
        wine_env_stop
      fi
      if [ "$platform" = win32 ]; then
        # 32-bit wine, through qemu-i386 where the kernel runs no 32-bit code.
        . scripts/i386-exec.sh
        if i386_exec_prepare >/dev/null && . scripts/wine-env.sh "build/win32" >/dev/null; then
          sync_with "$prefix/bin/fernwick-hotsync.exe" "$work/win32-package/hello_conduit.dll" \
            "$WINE_LOADER_CMD"
          check_programs_start "$prefix" "$WINE_LOADER_CMD"
          wine_env_stop
        else
          echo "win32: 32-bit programs cannot run here; the consumer's sync was not run"
        fi
        i386_exec_release
        (cd build/win32 && cpack -G ZIP >/dev/null) && ls build/win32/packages/*.zip ||
          fail "cpack -G ZIP"
      fi
      ;;
    *) fail "unknown platform $platform" ;;
  esac
done

echo "consumer.sh: $((SECONDS - started)) s"
exit "$status"
