#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer (in build/fuzz) and runs
# each for a bounded time, starting from its stored corpus. Fails when a target
# crashes, leaks or trips a sanitizer.
#
#   scripts/checks/fuzz.sh [SECONDS_PER_TARGET]   (default 36)
#
# The default keeps the whole run at three minutes of fuzzing for the five
# targets (pdb_reader, codec_fuzz, form_fuzz, vcard_reader, ical_reader).
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds="${1:-${FUZZ_SECONDS:-36}}"
build=build/fuzz

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is not installed" >&2
  exit 1
fi

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFERNWICK_LIBFUZZER=ON -DFERNWICK_WERROR=ON \
  -DFERNWICK_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build" --target fuzz_all -j"$(nproc)"

status=0
while read -r target; do
  [ -n "$target" ] || continue
  corpus="fuzz/corpus/$target"
  work="$build/corpus/$target"
  mkdir -p "$work" "$build/artifacts/$target"
  echo "--- $target: ${seconds}s"
  # New inputs go to the work folder; the stored corpus is only read.
  if ! timeout $((seconds + 120)) "$build/bin/$target" -max_total_time="$seconds" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/artifacts/$target/" "$work" "$corpus" \
      >"$build/$target.log" 2>&1; then
    echo "fuzz: $target FAILED (log: $build/$target.log, inputs: $build/artifacts/$target/)"
    tail -n 40 "$build/$target.log"
    status=1
  else
    grep -E '^stat::number_of_executed_units' "$build/$target.log" || true
  fi
done <"$build/fuzz_targets.txt"
exit "$status"
