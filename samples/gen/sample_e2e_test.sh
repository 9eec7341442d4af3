#!/usr/bin/env bash
# End to end on the sample project: flowdesigner compiles it, olvaro
# --headless runs it under the sample configuration, keycall places two
# calls through it, and the trace log shows every block reached.
#   sample_e2e_test.sh FLOWDESIGNER OLVARO KEYCALL SAMPLES_DIR
set -u
designer=$1 olvaro=$2 keycall=$3 samples=$4
e2e_name="sample e2e"
source "$(dirname "$0")/../../tools/e2e_lib.sh"

# 1. Compile the project as the build does, next to it by default.
mkdir -p "$work/flows" "$work/voice"
cp "$samples/flows/sample.src" "$work/flows/"
out=$(cd "$work/flows" && "$designer" compile sample.src 2>&1)
rc=$?
[ "$rc" -eq 0 ] || { say "compile exited $rc: $out"; exit 1; }
[ "$out" = "sample.cpl文件编译完成" ] || { say "compile printed '$out'"; fail=1; }
[ -s "$work/flows/sample.cpl" ] || { say "no sample.cpl written"; exit 1; }

# 2. The runtime with the sample configuration, on a free KeyCall port.
sed 's/^keycallport=.*/keycallport=0/' "$samples/sysconfig.ini" >"$work/sysconfig.ini"
cp "$samples"/voice/*.voc "$samples"/voice/*.qx "$work/voice/"
bash "$samples/db/make_db.sh" "$work/ivr.sqlite" || { say "cannot create the database"; exit 1; }
start_olvaro || exit 1

# 3. Key 1: welcome cut short, menu, four digits, script "check", the
# number spoken back, good-bye.
kc call 0 13900001111
waitfor "通道0执行Start命令"
waitfor "通道0=>(1)PlayFile CTIPlayFile(0,.\\voice\\welcome.voc)" 5
kc key 0 '#'
waitfor "通道0=>(1)PlayVoc按键终止"
waitfor "通道0=>(2)Digit 输入等待5秒，重复2次"
kc key 0 1
waitfor "通道0=>(2)Digit 用户按键1"
waitfor "通道0=>(3)Input 输入等待5秒，重复1次" 5
kc key 0 1234 --gap 120
waitfor "通道0=>(3)Input Dtmf=1234"
waitfor "通道0=>(4)Script命令"
waitfor "通道0=>(4:12)Print S2=号码1234=925"
waitfor "通道0=>(6:0)GotoOut 6"
waitfor "通道0=>(6)PlayTTS(放音类型=3;放音内容=1234;放音字符串=1234)"
waitfor "通道0=>(6)PlayTTS正常结束" 10
waitfor "通道0=>(7)PlayFile CTIPlayFile(0,.\\voice\\bye.voc)"
waitfor "通道0=>(7)PlayVoc正常结束" 5
waitfor "通道0读取ivr命令编号9999999溢出!" 5
waitfor "通道0复位" 5

# 4. Key 2: script "name" gives the message a file of its own, recorded until
# #, script "tally" writes its row, good-bye.
kc call 1 555
waitfor "通道1=>(1)PlayFile CTIPlayFile(1,.\\voice\\welcome.voc)" 5
waitfor "通道1=>(1)PlayVoc正常结束" 5   # this caller hears it all
waitfor "通道1=>(2)Digit 输入等待5秒，重复2次"
kc key 1 2
waitfor "通道1=>(2)Digit 用户按键2"
waitfor "通道1=>(9)Script命令"
waitfor "通道1=>(5)RecFile .\\voice\\msg" 5
callid=$(grep -o '通道1=>(9:0)Set S9=\$callid([0-9]*)' "$work/out.log" | grep -o '([0-9]*)' | tr -d '()')
[ ${#callid} -eq 16 ] || { say "no call identifier in the log: '$callid'"; fail=1; }
msg=".\\voice\\msg$callid.voc"
waitfor "通道1=>(5)RecFile $msg,#,30000"
sleep 2.5
kc key 1 '#'
waitfor "通道1=>(5)RecFile 按键中止"
waitfor "通道1=>(8)Script命令"
waitfor "通道1=>(8:7)Print S4=留言3"
waitfor "通道1=>(7:0)GotoOut 7"
waitfor "通道1=>(7)PlayVoc正常结束" 5
waitfor "通道1复位" 5

# A second message on the same channel goes into another file.
# waitn TEXT N: until N lines of the log hold TEXT.
waitn() {
  for ((i = 0; i < 200; i++)); do
    [ "$(grep -cF -- "=>$1" "$work/out.log")" -ge "$2" ] && return 0
    sleep 0.05
  done
  say "fewer than $2 lines '$1' within 10 s"
  fail=1
}
kc call 1 556
waitn "通道1=>(2)Digit 输入等待5秒，重复2次" 2
kc key 1 2
waitn "通道1=>(5)RecFile .\\voice\\msg" 2
second=$(grep -o '通道1=>(9:0)Set S9=\$callid([0-9]*)' "$work/out.log" | tail -n 1 |
  grep -o '([0-9]*)' | tr -d '()')
[ -n "$second" ] && [ "$second" != "$callid" ] ||
  { say "the second call has no identifier of its own: '$second'"; fail=1; }
waitfor "通道1=>(5)RecFile .\\voice\\msg$second.voc,#,30000"
kc key 1 '#'
waitn "通道1=>(8:7)Print S4=留言3" 2
waitn "通道1复位" 2

# The scripts wrote the call record of the first call and one row per
# message; each row names its own file, which holds as many seconds of
# A-law sound (8000 bytes a second) as the row says, to within the second
# the flow's clock can tell.
rows=$(sqlite3 "$work/ivr.sqlite" "select count(*) from T_CallRecord where CalledNo='8888'")
[ "$rows" = 1 ] || { say "call records: '$rows'"; fail=1; }
n=$(sqlite3 "$work/ivr.sqlite" "select count(*) from T_LeaveWord")
[ "$n" = 2 ] || { say "voice-mail rows: '$n'"; fail=1; }
row=$(sqlite3 -separator '|' "$work/ivr.sqlite" \
  "select RecordName, RecordLength, StartTime, EndTime from T_LeaveWord where RecordID='$callid'")
IFS='|' read -r name length start end <<<"$row"
[ "$name" = "$msg" ] || { say "RecordName '$name', want '$msg'"; fail=1; }
file="$work/voice/msg$callid.voc"
if ! [[ "$length" =~ ^[0-9]+$ && "$start" =~ ^[0-9]{14}$ && "$end" =~ ^[0-9]{14}$ ]]; then
  say "row of call '$callid': length '$length', times '$start' '$end'"; fail=1
elif [ ! -s "$file" ]; then
  say "no message file $file"; fail=1
else
  bytes=$(stat -c %s "$file")
  say "message of call $callid: RecordLength $length s, file $bytes bytes"
  # the row's length in whole seconds of the clock, the file's in samples
  if (( length < 2 || bytes < (length - 1) * 8000 || bytes > (length + 1) * 8000 )); then
    say "RecordLength $length s, but the file has $bytes bytes"; fail=1
  fi
  secs() { date -d "${1:0:8} ${1:8:2}:${1:10:2}:${1:12:2}" +%s; }
  (( $(secs "$end") - $(secs "$start") == length )) ||
    { say "StartTime $start and EndTime $end are not $length s apart"; fail=1; }
fi
[ -s "$work/voice/msg$second.voc" ] || { say "no file for the second message"; fail=1; }
[ -e "$work/voice/msg.voc" ] && { say "a message went into the shared msg.voc"; fail=1; }

# Every block of the flow was entered by one call or the other.
for b in 1 2 3 4 5 6 7 8 9; do
  grep -qE "=>\(($b|$b:[0-9]+)\)" "$work/out.log" || { say "block $b never reached"; fail=1; }
done

stop_olvaro
[ "$fail" -eq 0 ] && say "all passed"
exit $fail
