#!/usr/bin/env bash
# Files Perl's Palm::PDB wrote are served by the handheld emulator with the
# same content: for each file of the folder $1, what the Sync Manager
# functions return (fernwick-emudump) must equal Perl's raw dump of the file
# (pdb-dump.pl), less what the Sync Manager does not carry: the unique-id
# seed, and the data of deleted records that have no archived copy. The
# files are served from a copy of the folder, read-only, and must come out
# byte-identical.
set -euo pipefail
folder=${1:?usage: emulator.sh FOLDER}
cmake --build build/linux --target fernwick-emudump -j"$(nproc)" >/dev/null
served=$(mktemp -d)
trap 'rm -rf "$served"' EXIT
cp "$folder"/* "$served"/
status=0
for f in "$served"/*; do
  name=$(basename "$f")
  expected="$served/.$name.perl.txt"
  actual="$served/.$name.emulator.txt"
  perl "$(command -v pdb-dump.pl)" "$f" | grep -v '^seed ' |
    perl -pe 's/^(record attr=0x([0-9a-f]{2}) id=\d+ data=)\S*/((hex($2) & 0x80) && !(hex($2) & 0x08)) ? $1 : $&/e' \
    >"$expected"
  db=$(sed -n 's/^name "\(.*\)"$/\1/p' "$expected")
  if ! fernwick-emudump "$served" "$db" >"$actual"; then
    echo "FAIL: the emulator cannot serve $name"
    status=1
    continue
  fi
  if diff -u "$expected" "$actual" >"$actual.diff"; then
    echo "ok: $name served by the emulator"
  else
    echo "FAIL: $name is served differently from Perl's reading"
    head -n 30 "$actual.diff"
    status=1
  fi
  if ! cmp -s "$f" "$folder/$name"; then
    echo "FAIL: serving $name changed the file"
    status=1
  fi
done
exit "$status"
