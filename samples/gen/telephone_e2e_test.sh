#!/usr/bin/env bash
# End to end under telephone access: olvaro --headless answers a call that
# the virtual voice box rings, runs the sample flow with keys pressed through
# the voicebox tool, records the caller's message, and a second caller hangs
# up in the menu. The box lives inside olvaro and listens on a control
# socket of this test's own, so parallel tests do not meet. Device time runs
# with the clock.
#   telephone_e2e_test.sh OLVARO VOICEBOX SAMPLE_CPL SAMPLES_DIR
# (absolute paths; E2E_SHOW_LOG=1 prints the trace at the end)
set -u
olvaro=$1 voicebox=$2 cpl=$3 samples=$4
keycall=/bin/false  # no KeyCall under telephone access
e2e_name="telephone e2e"
source "$(dirname "$0")/../../tools/e2e_lib.sh"
export PARVANE_CONTROL="$work/box.sock"
unset PARVANE_DEVICE

mkdir -p "$work/flows" "$work/voice"
sed 's/^keycallport=.*/keycallport=0/' "$samples/sysconfig-telephone.ini" >"$work/sysconfig.ini"
cp "$cpl" "$work/flows/sample.cpl"
cp "$samples"/voice/*.voc "$samples"/voice/*.qx "$work/voice/"
bash "$samples/db/make_db.sh" "$work/ivr.sqlite" || { say "cannot create the database"; exit 1; }

(cd "$work" && exec "$olvaro" --headless >out.log 2>err.log) &
pid=$!
waitfor "ivr流程解释线程开始执行" || { cat "$work/out.log" "$work/err.log"; exit 1; }
grep -qF "硬件初始化成功,通道数=2" "$work/out.log" || { say "the voice box was not opened"; fail=1; }
box() { "$voicebox" "$@" >/dev/null || { say "voicebox $* failed"; fail=1; }; }
now() { date +%s.%N; }

# 1. A call with FSK caller ID: welcome cut short by #, menu key 2 records a
# message until #, script "tally", good-bye.
box ring 0 13900001111
waitfor "通道0执行Start命令" 8
grep -qF "13900001111从通道0打进8888" "$work/out.log" ||
  { say "the caller number is not in the trace"; fail=1; }
waitfor "通道0=>(1)PlayFile CTIPlayFile(0,.\\voice\\welcome.voc)" 5
box keys 0 '#'
waitfor "通道0=>(1)PlayVoc按键终止"
waitfor "通道0=>(2)Digit 输入等待5秒，重复2次"
box keys 0 2
waitfor "通道0=>(2)Digit 用户按键2"
waitfor "通道0=>(5)RecFile .\\voice\\msg" 5
started=$(now)
callid=$(grep -o '通道0=>(9:0)Set S9=\$callid([0-9]*)' "$work/out.log" | grep -o '([0-9]*)' | tr -d '()')
[ ${#callid} -eq 16 ] || { say "no call identifier in the log: '$callid'"; fail=1; }
waitfor "通道0=>(5)RecFile .\\voice\\msg$callid.voc,#,30000"
sleep 2.5
box keys 0 '#'
pressed=$(now)
waitfor "通道0=>(5)RecFile 按键中止" 3
waitfor "通道0=>(8)Script命令"
waitfor "通道0=>(7)PlayVoc正常结束" 5
waitfor "通道0复位" 5

# The message holds the time recorded at 8000 bytes a second: from the
# start of recording (just before its trace line) to the key, which the box's
# poller (200 ms) and the scan (50 ms) take a little while to notice.
file="$work/voice/msg$callid.voc"
if [ ! -s "$file" ]; then
  say "no message file $file"; fail=1
else
  bytes=$(stat -c %s "$file")
  say "message: $bytes bytes over $(awk -v s="$started" -v p="$pressed" 'BEGIN { printf "%.2f", p - s }') s between trace line and key"
  awk -v b="$bytes" -v s="$started" -v p="$pressed" 'BEGIN {
        t = b / 8000; d = p - s; exit !(t >= d - 0.3 && t <= d + 0.8) }' ||
    { say "the message's $bytes bytes do not match the time recorded"; fail=1; }
  length=$(sqlite3 "$work/ivr.sqlite" "select RecordLength from T_LeaveWord where RecordID='$callid'")
  [[ "$length" =~ ^[0-9]+$ ]] && (( bytes >= (length - 1) * 8000 && bytes <= (length + 1) * 8000 )) ||
    { say "RecordLength '$length' s, but the file has $bytes bytes"; fail=1; }
fi

# 2. A caller with DTMF caller ID hangs up in the menu: the box hears the
# busy tone and the runtime resets the channel.
# waitn TEXT N: until N lines of the log hold TEXT (at most 10 s).
waitn() {
  for ((i = 0; i < 200; i++)); do
    [ "$(grep -cF -- "$1" "$work/out.log")" -ge "$2" ] && return 0
    sleep 0.05
  done
  say "fewer than $2 lines '$1' within 10 s"
  fail=1
  return 1
}
box ring 0 555 dtmf
waitn "555从通道0打进8888" 1
waitn "通道0=>(2)Digit 输入等待5秒，重复2次" 2
box hangup 0
waitn "通道0=>(2)Digit 挂机" 1
waitn "通道0复位" 2
[ -n "${E2E_SHOW_LOG:-}" ] && cat "$work/out.log"
stop_olvaro
[ "$fail" -eq 0 ] && say "all passed"
exit $fail
