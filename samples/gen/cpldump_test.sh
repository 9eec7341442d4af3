#!/usr/bin/env bash
# cpldump on the sample flow and on broken copies of it: listing lines and
# exit statuses.
set -u
dump=$1 sample=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { if ! grep -qF -- "$2" "$1"; then echo "missing line: $2"; fail=1; fi; }
status() {
  "$dump" "$1" >"$tmp/out" 2>"$tmp/err"
  local rc=$?
  if [ "$rc" -ne "$2" ]; then echo "cpldump $1: exit $rc, want $2"; cat "$tmp/err"; fail=1; fi
}

status "$sample" 0
cp "$tmp/out" "$tmp/listing"
check "$tmp/listing" "magic 1001"
check "$tmp/listing" "blocks 10"
check "$tmp/listing" "block 0: kind 6 GCMD_START (start)"
check "$tmp/listing" "  exits: 0->1"
check "$tmp/listing" "block 2: kind 44 GCMD_DTC_DIGIT (single-key branch)"
check "$tmp/listing" "block 4: kind 48 GCMD_DTC_SCRIPT (script)"
check "$tmp/listing" "     0    1  18 strlen I1, S1"
check "$tmp/listing" "     1    2  65 if I1 < 4 goto again(@26)"
check "$tmp/listing" "     8    9   4 set S2, \"号码\""
check "$tmp/listing" "    24   26  74 gotoout \"small\"->block 6"
check "$tmp/listing" "    26   28  74 gotoout \"retry\"->block 2"
check "$tmp/listing" "    22   24  52 sqlexec 0, I7"
check "$tmp/listing" "  default exit -> 7"
check "$tmp/listing" "block 8: kind 48 GCMD_DTC_SCRIPT (script)"
check "$tmp/listing" "block 9: kind 48 GCMD_DTC_SCRIPT (script)"
check "$tmp/listing" "     3    4  25 strcat S10, \".voc\""
check "$tmp/listing" "pool: "

head -c 3 "$sample" >"$tmp/short"; status "$tmp/short" 2
printf '1000' | cat - <(tail -c +5 "$sample") >"$tmp/project"; status "$tmp/project" 2
head -c -1 "$sample" >"$tmp/nopool"; status "$tmp/nopool" 3
check "$tmp/err" "string pool has 4095 of its 4096 bytes"
status "$tmp/does-not-exist" 5
# Not regular files: refused at once (a FIFO must not wait for a writer, a
# folder must not abort, /dev/zero must not be read until memory runs out).
mkdir "$tmp/folder.cpl"; mkfifo "$tmp/fifo.cpl"
for p in "$tmp/folder.cpl" "$tmp/fifo.cpl" /dev/zero; do
  timeout 10 "$dump" "$p" >"$tmp/out" 2>"$tmp/err"
  rc=$?
  [ "$rc" -eq 5 ] || { echo "cpldump $p: exit $rc, want 5"; cat "$tmp/err"; fail=1; }
done
check "$tmp/err" "cannot open /dev/zero: is a character device, not a file"
"$dump" --help | grep -q "Usage: cpldump" || { echo "--help prints no usage"; fail=1; }
"$dump" >/dev/null 2>&1 && { echo "no argument must fail"; fail=1; }
exit $fail
