#!/usr/bin/env bash
# What a user waits for, against Perl's Palm::PDB and the file-system floor:
#
#   bench/whole-sync.sh [ROUNDS]        (default 5 rounds; needs libpalm-perl)
#
# 1. Reading: Fernwick's ReadPdbFile plus decoding every memo's text, Perl's
#    Palm::PDB loading the same file with Palm::Memo, and a plain read of the
#    file into memory, alternating in each round. The fastest pass of each
#    is kept ("warm": memory freed by one pass is reused by the next, as
#    Perl reuses its own); "cold" is one pass in a fresh process, fresh
#    memory included. The ratios are Palm::PDB / Fernwick and Fernwick /
#    plain read; Palm::PDB / plain read (cold) is the most any reader that
#    copies the file into fresh memory can reach.
# 2. The whole synchronisation: the runner running the Memo Pad example
#    (load the conduit, open MemoDB, walk it, copy the modified tenth to
#    desktop files, purge, reset the flags, write back atomically, log)
#    against (a) Palm::PDB loading and saving the file and (b) the floor: a
#    program that reads the file, writes as many small desktop files and
#    writes the database once (temporary file, fsync, rename). The floor is
#    timed three ways: desktop files written plainly; atomically, through
#    the examples' writer (temporary file renamed over the old one) but not
#    yet on disk; and durably as the example makes them (the writer's
#    Commit: one syncfs on Linux), the like-for-like floor that the goal is
#    measured against, which shows what each step of safety costs.
#    Processes are timed whole (start included); the fastest round is kept.
#    A further run with the runner's --timings tells where the time goes
#    inside the process.
# 3. Durable desktop files: the desktop writes of the floor made durable
#    before the database is written, three ways: the examples' Commit
#    (syncfs), an fsync of each file after all are renamed and one of the
#    folder, and file by file (fsync, rename, fsync of the folder).
# 4. Growth: all of it at 2,000, 20,000 and 65,535 records, per record.
#
# The MemoDB files are written by Palm::PDB (an independent writer), every
# tenth memo dirty. Work files go to $FERNWICK_BENCH_DIR (default
# build/linux/whole-sync; a tmpfs such as /dev/shm takes the disk out).
# Uses build/linux (the linux preset), building what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
rounds=${1:-5}

. scripts/linux-build.sh
require_palm_pdb whole-sync Palm::Memo
linux_build bench_memo_tools bench_database fernwick-hotsync memo_conduit sync20 hslog20 PalmCmn \
  Cmds21

bin=$root/$build/bin
perl_memo=$root/bench/palm-pdb-memo.pl
work=${FERNWICK_BENCH_DIR:-$root/$build/whole-sync}
work=$work/run-$$
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
sizes=(2000 20000 65535)

# stamp VAR: VAR = now, in microseconds (no subshell, so nothing forks).
stamp() { local -n var=$1; var=${EPOCHREALTIME/./}; }
# seconds_since START: the seconds from START (a stamp) to now.
seconds_since() { local end; stamp end; awk "BEGIN{print ($end - $1) / 1e6}"; }
# min VAR VALUE: VAR = the smaller of VAR (empty = none) and VALUE.
min() { local -n var=$1; if [ -z "$var" ] || awk "BEGIN{exit !($2 < $var)}"; then var=$2; fi; }
ratio() { awk "BEGIN{printf \"%.1f\", $1 / $2}"; }
ms() { awk "BEGIN{printf \"%.2f\", $1 * 1000}"; }
per_record_us() { awk "BEGIN{printf \"%.2f\", $1 * 1e6 / $2}"; }

for n in "${sizes[@]}"; do
  perl "$perl_memo" make "$work/memo-$n.pdb" "$n"
done

# A fresh handheld and desktop for one run (outside the timing).
run=0
fresh() {
  run=$((run + 1))
  hh=$work/hh-$run
  desk=$work/desk-$run
  mkdir -p "$hh" "$desk"
  cp "$work/memo-$1.pdb" "$hh/MemoDB.pdb"
}
# time_process VAR COMMAND...: VAR = min(VAR, wall seconds of COMMAND).
time_process() {
  local var=$1 start end
  shift
  stamp start
  "$@" >/dev/null
  stamp end
  min "$var" "$(awk "BEGIN{print ($end - $start) / 1e6}")"
}

declare -A fern_cold perl_cold plain_cold fern plain perl sync perlsave floor floor_atomic floor_durable \
  process_start t_setup t_load t_open t_reads t_own t_writeback fl_read fl_desk fl_db fla_desk fld_desk \
  fls_desk fle_desk
for n in "${sizes[@]}"; do
  f=$work/memo-$n.pdb
  passes=$((n >= 20000 ? 10 : 50))
  for ((r = 0; r < rounds; r++)); do
    v=$("$bin/bench_memo_tools" read "$f" "$passes"); min "fern[$n]" "$v"
    v=$(perl "$perl_memo" read "$f" 3); min "perl[$n]" "$v"
    v=$("$bin/bench_memo_tools" plain "$f" "$passes"); min "plain[$n]" "$v"
    v=$("$bin/bench_memo_tools" read "$f" 1); min "fern_cold[$n]" "$v"
    v=$(perl "$perl_memo" read "$f" 1); min "perl_cold[$n]" "$v"
    v=$("$bin/bench_memo_tools" plain "$f" 1); min "plain_cold[$n]" "$v"

    fresh "$n"
    time_process "sync[$n]" "$bin/fernwick-hotsync" --handheld "$hh" --desktop "$desk" \
      --user Bench --log "$desk/hotsync.log" --no-log sync "$bin/libmemo_conduit.so"
    grep -q "^OK Memo Pad" "$desk/hotsync.log" || { echo "whole-sync: the sync failed" >&2; exit 1; }
    time_process "process_start[$n]" "$bin/fernwick-hotsync" --version
    # The same synchronisation again, with the runner's --timings: where the
    # time goes inside the process.
    fresh "$n"
    timings=$("$bin/fernwick-hotsync" --handheld "$hh" --desktop "$desk" --user Bench --no-log \
      --timings sync "$bin/libmemo_conduit.so")
    part() { sed -n "s/.*$1 \([0-9.]*\) ms.*/\1/p" <<<"$timings" | head -n 1; }
    min "t_setup[$n]" "$(awk "BEGIN{print $(part 'set-up') / 1000}")"
    min "t_load[$n]" "$(awk "BEGIN{print $(part 'load') / 1000}")"
    min "t_open[$n]" "$(awk "BEGIN{print $(part 'open') / 1000}")"
    min "t_reads[$n]" "$(awk "BEGIN{print $(part 'reads') / 1000}")"
    min "t_writeback[$n]" "$(awk "BEGIN{print $(part 'write-back') / 1000}")"
    min "t_own[$n]" "$(awk "BEGIN{print $(part "conduit's own work") / 1000}")"
    time_process "perlsave[$n]" perl "$perl_memo" loadsave "$f" "$hh/perl-saved.pdb"
    fresh "$n"
    stamp start
    read -r _ a _ b _ c _ < <("$bin/bench_memo_tools" floor "$hh/MemoDB.pdb" "$desk/Memos")
    min "floor[$n]" "$(seconds_since "$start")"
    min "fl_read[$n]" "$a"; min "fl_desk[$n]" "$b"; min "fl_db[$n]" "$c"
    for how in atomic durable fsyncs each; do
      fresh "$n"
      stamp start
      read -r _ a _ b _ c _ < <("$bin/bench_memo_tools" floor "$hh/MemoDB.pdb" "$desk/Memos" "$how")
      elapsed=$(seconds_since "$start")
      case $how in
        atomic) min "floor_atomic[$n]" "$elapsed"; min "fla_desk[$n]" "$b" ;;
        durable) min "floor_durable[$n]" "$elapsed"; min "fld_desk[$n]" "$b" ;;
        fsyncs) min "fls_desk[$n]" "$b" ;;
        each) min "fle_desk[$n]" "$b" ;;
      esac
    done
  done
done

# The component walk over the emulator (in-process, Google Benchmark).
declare -A walk
while IFS=, read -r name _ real _; do
  case $name in
    '"BM_ComponentWalkWithNext/'*) n=${name#*/}; n=${n%\"}; walk[$n]=$(awk "BEGIN{print $real / 1000}") ;;
  esac
done < <("$bin/bench_database" --benchmark_filter=ComponentWalk --benchmark_format=csv \
  --benchmark_min_time=0.2 2>/dev/null)

echo "== Reading, ratios (fastest of $rounds rounds; files in $(dirname "$work"))"
printf '%-8s %15s %11s %22s %23s %18s\n' records "Palm::PDB/read" "read/plain" \
  "Palm::PDB/read (cold)" "Palm::PDB/plain (cold)" "read/plain (cold)"
for n in "${sizes[@]}"; do
  printf '%-8s %15s %11s %22s %23s %18s\n' "$n" "$(ratio "${perl[$n]}" "${fern[$n]}")x" \
    "$(ratio "${fern[$n]}" "${plain[$n]}")x" "$(ratio "${perl_cold[$n]}" "${fern_cold[$n]}")x" \
    "$(ratio "${perl_cold[$n]}" "${plain_cold[$n]}")x" "$(ratio "${fern_cold[$n]}" "${plain_cold[$n]}")x"
done
echo
echo "== Whole synchronisation, ratios (the floor's desktop files written plainly, atomically, durably as the sync writes them)"
printf '%-8s %19s %12s %15s %21s %21s\n' records "sync/durable-floor" "sync/floor" "sync/Palm::PDB" \
  "atomic-floor/floor" "durable-floor/floor"
for n in "${sizes[@]}"; do
  printf '%-8s %19s %12s %15s %21s %21s\n' "$n" "$(ratio "${sync[$n]}" "${floor_durable[$n]}")x" \
    "$(ratio "${sync[$n]}" "${floor[$n]}")x" "$(ratio "${sync[$n]}" "${perlsave[$n]}")x" \
    "$(ratio "${floor_atomic[$n]}" "${floor[$n]}")x" "$(ratio "${floor_durable[$n]}" "${floor[$n]}")x"
done
echo
echo "== Absolute times, ms (per record, us)"
printf '%-8s %14s %14s %15s %15s %13s %13s %15s %14s %19s %14s %14s\n' records "Fernwick read" \
  "(cold)" "Palm::PDB read" "(cold)" "plain read" "(cold)" "component walk" "whole sync" \
  "Palm::PDB load+save" "floor" "durable floor"
for n in "${sizes[@]}"; do
  cell() { printf '%s (%s)' "$(ms "$1")" "$(per_record_us "$1" "$n")"; }
  printf '%-8s %14s %14s %15s %15s %13s %13s %15s %14s %19s %14s %14s\n' "$n" "$(cell "${fern[$n]}")" \
    "$(cell "${fern_cold[$n]}")" "$(cell "${perl[$n]}")" "$(cell "${perl_cold[$n]}")" \
    "$(cell "${plain[$n]}")" "$(cell "${plain_cold[$n]}")" "$(cell "${walk[$n]:-0}")" \
    "$(cell "${sync[$n]}")" "$(cell "${perlsave[$n]}")" "$(cell "${floor[$n]}")" \
    "$(cell "${floor_durable[$n]}")"
done
echo
echo "== Where the time goes, ms (fastest of each part; from the runner's --timings)"
echo "   process: start and exit of the runner (--version); set-up: the HotSync installation, the"
echo "   stand-ins and the handheld folder; load: loading and binding the conduit; open, walk (reads)"
echo "   and write-back: the Sync Manager's calls; conduit: its own work, mostly its desktop files"
printf '%-8s %11s %8s %7s %6s %8s %8s %11s %8s %16s\n' records "whole sync" process set-up load \
  open walk write-back conduit "(durable floor)"
for n in "${sizes[@]}"; do
  printf '%-8s %11s %8s %7s %6s %8s %8s %11s %8s %16s\n' "$n" "$(ms "${sync[$n]}")" \
    "$(ms "${process_start[$n]}")" "$(ms "${t_setup[$n]}")" "$(ms "${t_load[$n]}")" \
    "$(ms "${t_open[$n]}")" "$(ms "${t_reads[$n]}")" "$(ms "${t_writeback[$n]}")" \
    "$(ms "${t_own[$n]}")" "$(ms "${fld_desk[$n]}")"
done
echo
echo "== Durable desktop files: the floor's desktop writes, ms (per file, us)"
echo "   not durable: written and renamed only; commit: then the examples' TDesktopWriter::Commit"
echo "   (one syncfs); fsyncs: then an fsync of each file and one of the folder; each: fsync,"
echo "   rename and fsync of the folder file by file"
printf '%-8s %7s %22s %22s %22s %22s\n' records files "not durable" commit fsyncs each
for n in "${sizes[@]}"; do
  files=$((n / 10))
  cell() { printf '%s (%s)' "$(ms "$1")" "$(per_record_us "$1" "$files")"; }
  printf '%-8s %7s %22s %22s %22s %22s\n' "$n" "$files" "$(cell "${fla_desk[$n]}")" \
    "$(cell "${fld_desk[$n]}")" "$(cell "${fls_desk[$n]}")" "$(cell "${fle_desk[$n]}")"
done
