#!/usr/bin/env bash
# Interoperability of our database files with an independent implementation,
# Perl's Palm::PDB (Debian's libpalm-perl), in both directions:
#
#  1. Files our writer produced (the sample handheld, and Exercise.pdb /
#     Exercise.prc from fernwick-make-testdbs with resources, every attribute
#     bit Perl knows and both info blocks) are read by Perl and printed in the
#     canonical text form; fernwick-pdbdump must print the same. The sample
#     databases are compared field by field through Palm::Memo, Palm::ToDo,
#     Palm::Address and Palm::Datebook as well.
#  2. Files Perl wrote (scripts/checks/perl/make-dbs.pl) are read by our
#     reader: same text form both raw and decoded, and writing them back
#     gives the same bytes (Perl writes the canonical layout).
#  3. The real files of Debian's imgvtopgm package, when installed, read the
#     same in both.
#
# Builds what it needs in build/linux (the linux preset). Files go to
# build/linux/interop/.
#
# Hook for the handheld emulator: every executable script in
# scripts/checks/perl-interop.d/ is run after the checks above with the
# folder of Perl-written databases as its argument ($1) and this script's
# helpers on the PATH; a non-zero exit fails the check. An emulator check
# there serves the folder and compares what the Sync Manager returns with
# `pdb-dump.pl` of the same files.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

. scripts/linux-build.sh
require_palm_pdb perl-interop
linux_build fernwick-pdbdump fernwick-make-testdbs fernwick-make-samples

dump="$root/$build/bin/fernwick-pdbdump"
perl_dump="$root/scripts/checks/perl/pdb-dump.pl"
work="$build/interop"
rm -rf "$work"
mkdir -p "$work/ours" "$work/perl" "$work/samples"

status=0
compare() {  # compare MODE FILE: Perl and our reader print the same
  local mode=$1 file=$2 ours theirs
  ours="$work/$(basename "$file")$mode.ours.txt"
  theirs="$work/$(basename "$file")$mode.perl.txt"
  if ! "$dump" $mode "$file" >"$ours"; then
    echo "FAIL: fernwick-pdbdump $mode $file"
    status=1
    return
  fi
  if ! perl "$perl_dump" $mode "$file" >"$theirs" 2>"$theirs.stderr"; then
    echo "FAIL: pdb-dump.pl $mode $file"
    cat "$theirs.stderr"
    status=1
    return
  fi
  if diff -u "$theirs" "$ours" >"$ours.diff"; then
    echo "ok: $file ${mode:-(raw)}"
  else
    echo "FAIL: $file ${mode:-(raw)} reads differently in Perl and in Fernwick"
    head -n 30 "$ours.diff"
    status=1
  fi
}

echo "-- our files, read by Perl"
"$build/bin/fernwick-make-samples" "$work/samples" >/dev/null
for f in samples/handheld/*.pdb; do
  if ! cmp -s "$f" "$work/samples/$(basename "$f")"; then
    echo "FAIL: $f is not the generator's output"
    status=1
  fi
  compare "" "$f"
  compare --decode "$f"
done
"$build/bin/fernwick-make-testdbs" --interop "$work/ours"
for f in "$work"/ours/*; do compare "" "$f"; done

echo "-- Perl's files, read by Fernwick"
perl scripts/checks/perl/make-dbs.pl "$work/perl" 2>"$work/make-dbs.stderr" || {
  echo "FAIL: make-dbs.pl"
  cat "$work/make-dbs.stderr"
  status=1
}
for f in "$work"/perl/*; do
  compare "" "$f"
  compare --decode "$f"
  if ! "$dump" --canonical "$f" | grep -q '^canonical '; then
    echo "FAIL: $f does not give the same bytes when written back"
    status=1
  fi
done

examples=/usr/share/doc/imgvtopgm/examples
if [ -d "$examples" ]; then
  echo "-- real files from imgvtopgm"
  for f in "$examples"/*.pdb; do compare "" "$f"; done
else
  echo "-- $examples is not installed: real files skipped"
fi

if [ -d scripts/checks/perl-interop.d ]; then
  for hook in scripts/checks/perl-interop.d/*; do
    [ -x "$hook" ] || continue
    echo "-- $(basename "$hook")"
    PATH="$root/$build/bin:$root/scripts/checks/perl:$PATH" "$hook" "$root/$work/perl" || status=1
  done
fi

if [ "$status" = 0 ]; then echo "perl-interop: all files agree"; else echo "perl-interop: FAILED"; fi
exit "$status"
