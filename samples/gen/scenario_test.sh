#!/usr/bin/env bash
# Runs one call scenario through the sample project with olvaro simulate and
# compares what it prints with the golden file beside the scenario, line by
# line, timestamps included:
#   scenario_test.sh OLVARO SAMPLE_CPL SAMPLES_DIR SCENARIO EXPECTED_EXIT
# Golden file: SCENARIO with .trace for the standard output (exits 0 and 1),
# .stderr for the error output (exit 2). The scenario runs twice, each time
# in a fresh copy of the project with an empty database, the two in
# different time zones: both runs must print the same bytes. With OLVARO_UPDATE_GOLDEN=1 the golden file is
# written instead of compared.
set -u
olvaro=$1 cpl=$2 samples=$3 scenario=$4 want=$5
name=$(basename "$scenario" .scn)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
say() { echo "scenario $name: $*"; }

# run N ZONE: one run in a fresh project folder $work/N with TZ=ZONE; its
# exit status in rcN.
run() {
  local d="$work/$1"
  mkdir -p "$d/flows" "$d/voice"
  cp "$cpl" "$d/flows/sample.cpl"
  cp "$samples"/voice/*.voc "$samples"/voice/*.qx "$d/voice/"
  cp "$samples/sysconfig.ini" "$d/"
  bash "$samples/db/make_db.sh" "$d/ivr.sqlite" || { say "cannot create the database"; exit 1; }
  cp "$scenario" "$d/$name.scn"
  (cd "$d" && TZ=$2 "$olvaro" simulate "$name.scn" --junit report.xml >out.txt 2>err.txt)
  eval "rc$1=\$?"
}
# The second run in another time zone: the simulation runs in UTC whatever
# the machine's zone.
run 1 UTC
run 2 Asia/Shanghai

[ "$rc1" = "$want" ] || { say "exit status $rc1, want $want"; cat "$work/1/err.txt"; fail=1; }
if [ "$want" = 2 ]; then
  out="$work/1/err.txt" golden="${scenario%.scn}.stderr"
  cmp -s "$work/1/err.txt" "$work/2/err.txt" || { say "the two runs differ"; fail=1; }
else
  out="$work/1/out.txt" golden="${scenario%.scn}.trace"
  cmp -s "$work/1/out.txt" "$work/2/out.txt" || {
    say "the two runs differ:"
    diff "$work/1/out.txt" "$work/2/out.txt" | head -20
    fail=1
  }
  # Real time goes to the error output only.
  grep -q "calls completed, .* s virtual in .* s real" "$work/1/err.txt" ||
    { say "no timing line on the error output"; fail=1; }
  # The JUnit report counts the failures the summary lists.
  listed=$(grep -c '^FAILED ' "$work/1/out.txt")
  python3 - "$work/1/report.xml" "$listed" <<'EOF' || fail=1
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
failures = len(root.findall("testcase/failure"))
if root.tag != "testsuite" or int(root.get("failures")) != failures or failures != int(sys.argv[2]):
    print(f"JUnit report: {failures} failures, attribute {root.get('failures')}, summary {sys.argv[2]}")
    sys.exit(1)
EOF
fi

if [ "${OLVARO_UPDATE_GOLDEN:-}" = 1 ]; then
  cp "$out" "$golden"
  say "wrote $golden"
elif ! diff -u "$golden" "$out" >"$work/diff.txt"; then
  say "differs from $(basename "$golden"):"
  head -40 "$work/diff.txt"
  fail=1
fi
[ "$fail" = 0 ] && say "passed"
exit $fail
