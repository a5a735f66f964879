#!/usr/bin/env bash
# A two-way fast synchronisation through the mirror-sync engine, against a
# one-way export of the same database and the file-system floor:
#
#   bench/two-way-sync.sh [ROUNDS]        (default 5 rounds)
#
# The database is To Do-like (due date, priority, description, note, four
# categories), synchronised once; then a tenth of the records is changed on
# the handheld (dirty) and another tenth in the desktop's CSV. Timed, each in
# a fresh copy of that set-up and a process of its own (bench_two_way, see
# bench/two_way_sync.cpp; binding the emulator is not timed):
#   two-way   the engine's fast synchronisation (read the changed records
#             and the CSV, plan, write the handheld, the CSV and the state
#             durably, purge, reset the flags)
#   one-way   a one-way CSV export: every record walked and rendered, the
#             CSV written durably, purge, reset the flags
#   floor     the two-way's CSV bytes written durably (TDesktopWriter)
# The fastest round of each is kept. Memory: the growth of the resident set
# during the step (peak minus the resident set before it), against the
# database file's size; "open" is the emulator's share alone (the database
# opened and closed: the handheld's copy, which a real handheld keeps on
# the device).
#
# Work files go to $FERNWICK_BENCH_DIR (default build/linux/two-way-sync; a
# tmpfs such as /dev/shm takes the disk out). Uses build/linux (the linux
# preset), building what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-5}

. scripts/linux-build.sh
linux_build bench_two_way sync20 hslog20 PalmCmn Cmds21

bin=$root/$build/bin
work=${FERNWICK_BENCH_DIR:-$root/$build/two-way-sync}
work=$work/run-$$
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
sizes=(2000 20000 65535)

declare -A best grow
for n in "${sizes[@]}"; do
  "$bin/bench_two_way" prepare "$work/base-$n" "$n"
  for ((r = 0; r < rounds; r++)); do
    for mode in twoway oneway floor open; do
      rm -rf "$work/r"
      cp -a "$work/base-$n" "$work/r"
      read -r _ seconds _ before _ peak < <("$bin/bench_two_way" "$mode" "$work/r")
      key=$mode-$n
      if [ -z "${best[$key]:-}" ] || awk "BEGIN{exit !($seconds < ${best[$key]})}"; then
        best[$key]=$seconds
      fi
      g=$((peak - before))
      if [ -z "${grow[$key]:-}" ] || [ "$g" -lt "${grow[$key]}" ]; then grow[$key]=$g; fi
    done
  done
done

ms() { awk "BEGIN{printf \"%.1f\", $1 * 1000}"; }
ratio() { awk "BEGIN{printf \"%.2f\", $1 / $2}"; }
echo "== Time, ms (fastest of $rounds rounds; files in $(dirname "$work"))"
printf '%-8s %10s %10s %10s %16s %14s\n' records two-way one-way floor "two-way/one-way" \
  "two-way/floor"
for n in "${sizes[@]}"; do
  printf '%-8s %10s %10s %10s %16s %14s\n' "$n" "$(ms "${best[twoway-$n]}")" \
    "$(ms "${best[oneway-$n]}")" "$(ms "${best[floor-$n]}")" \
    "$(ratio "${best[twoway-$n]}" "${best[oneway-$n]}")x" \
    "$(ratio "${best[twoway-$n]}" "${best[floor-$n]}")x"
done
echo
echo "== Memory: growth of the resident set during the step, KB, and against the database file"
printf '%-8s %10s %10s %10s %10s %16s %16s\n' records "file KB" two-way one-way open \
  "two-way/file" "(less open)/file"
for n in "${sizes[@]}"; do
  kb=$(($(stat -c %s "$work/base-$n/hh/ToDoDB.pdb") / 1024))
  printf '%-8s %10s %10s %10s %10s %16s %16s\n' "$n" "$kb" "${grow[twoway-$n]}" \
    "${grow[oneway-$n]}" "${grow[open-$n]}" "$(ratio "${grow[twoway-$n]}" "$kb")x" \
    "$(ratio "$((grow[twoway-$n] - grow[open-$n]))" "$kb")x"
done
