#!/usr/bin/env bash
# End to end: olvaro --headless in a fresh folder, calls placed with keycall,
# the trace log checked line by line.
#   olvaro_e2e_test.sh OLVARO KEYCALL MAKE_FLOWS VOICE_DIR SCHEMA_SQL
set -u
olvaro=$1 keycall=$2 makeflows=$3 voices=$4 schema=$5
e2e_name=e2e
source "$(dirname "$0")/../../tools/e2e_lib.sh"

mkdir -p "$work/flows" "$work/voice"
"$makeflows" "$work/flows" || exit 1
cp "$voices"/*.voc "$voices"/*.qx "$work/voice/"
: >"$work/ivr.sqlite"

# config IVRFILE: writes sysconfig.ini for the flow file IVRFILE (as the
# [ivrfile] key holds it).
config() {
  cat >"$work/sysconfig.ini" <<INI
[DataBase]
type=0
filename=ivr.sqlite
[System]
callintype=0
[net]
keycallport=0
[Out0]
lineno=8888
[Out1]
lineno=8888
[Out2]
lineno=8888
[Out5]
linetype=2
lineno=8001
[Out6]
linetype=2
lineno=8002
forward=13900001111
[Out7]
linetype=2
lineno=8003
voicemail=1
[ivrfile]
cnt=1
ivrno0=0
ivrfile0=$1
vocdir0=.\\voice
[ivrtrig]
cnt=1
num0=8888
ivrindex0=0
INI
}

# start FLOW: writes sysconfig.ini for the flow and starts the runtime.
start() {
  config ".\\flows\\$1"
  start_olvaro
}


# 1. Answer, start block, reset.
if start start_only.cpl; then
  kc call 0 13900001111
  waitfor "通道0复位"
  for line in "系统处于模拟呼叫状态，模拟通道数=8" "加载流程和流程触发设置成功" \
              "13900001111从通道0打进8888" "0 find ivrfile,exec it" "通道0执行Start命令" \
              "通道0读取ivr命令编号9999999溢出!" "通道0复位"; do
    grep -qF -- "=>$line" "$work/out.log" || { say "missing '$line'"; fail=1; }
  done
  # Every line has the time prefix.
  if grep -vqE '^[0-9]{2}:[0-9]{2}:[0-9]{2}\([ 0-9]{3}\)=>' "$work/out.log"; then
    say "a line without the time prefix"; fail=1
  fi
  stop_olvaro
fi

# 2. Playback, keys, key input and record through a whole flow.
if start telephony.cpl; then
  kc call 1 555
  waitfor "通道1=>(1)PlayFile CTIPlayFile(1,.\\voice\\welcome.voc)" 5
  kc key 1 '#'
  waitfor "通道1=>(1)PlayVoc按键终止"
  waitfor "通道1=>(2)Digit 输入等待3秒，重复1次"
  kc key 1 1
  waitfor "通道1=>(2)Digit 用户按键1"
  waitfor "通道1=>(3)Input 输入等待5秒，重复0次"
  kc key 1 123 --gap 120
  waitfor "通道1=>(3)Input Dtmf=123"
  waitfor "通道1=>(4)RecFile .\\voice\\rec.voc,#,10000"
  sleep 1
  kc key 1 '#'
  waitfor "通道1=>(4)RecFile 按键中止"
  waitfor "通道1=>(5)PlayVoc正常结束" 5
  waitfor "通道1复位"
  [ -s "$work/voice/rec.voc" ] || { say "no recording written"; fail=1; }
  stop_olvaro
fi

# 3. An extension call: ring, answer, talk, hang-up; then a forwarded one.
if start extension.cpl; then
  kc call 0 555
  waitfor "通道0=>(1)Input PlayFileVoc .\\voice\\input.voc"
  kc key 0 8001 --gap 120
  waitfor "通道0=>振铃分机8001"
  waitfor "分机通道5振铃(振铃方式1)"
  kc call 5 0          # the extension lifts its handset
  waitfor "通道0=>被叫分机8001摘机"
  waitfor "通道0=>(3)Talk(通道1=0,通道2=5)"
  kc hangup 5          # and puts it down again
  waitfor "通道0=>(3)Talk 座席5挂机"
  waitfor "通道0=>(4)PlayTTS(放音类型=3;放音内容=8001;放音字符串=8001)"
  waitfor "通道0=>(4)PlayTTS正常结束" 5
  waitfor "通道0复位" 5
  kc call 1 666
  waitfor "通道1=>(1)Input PlayFileVoc .\\voice\\input.voc"
  kc key 1 8002 --gap 120
  waitfor "通道1=>被叫分机8002设置了呼叫转移,转移号码13900001111"
  waitfor "通道1复位" 5
  # Voice mail: the message goes under the folder olvaro started in, made
  # when missing, whatever the flow's voice folder.
  kc call 2 777
  waitfor "通道2=>(1)Input PlayFileVoc .\\voice\\input.voc"
  kc key 2 8003 --gap 120
  waitfor "通道2=>被叫分机8003设置语音留言"
  waitfor "通道2=>(6)RecFile $work\\leavmsg\\msg7.voc,#,10000"
  sleep 1
  kc key 2 '#'
  waitfor "通道2=>(6)RecFile 按键中止"
  waitfor "通道2复位" 5
  [ -s "$work/leavmsg/msg7.voc" ] || { say "no voice-mail message under $work/leavmsg"; fail=1; }
  stop_olvaro
fi

# 3b. A recording target that is a FIFO: refused at once, the runtime goes
# on answering calls (a blocking open would stop every line).
if start telephony.cpl; then
  rm -f "$work/voice/rec.voc"
  mkfifo "$work/voice/rec.voc"
  kc call 1 555
  waitfor "通道1=>(1)PlayFile CTIPlayFile(1,.\\voice\\welcome.voc)" 5
  kc key 1 '#'
  waitfor "通道1=>(2)Digit 输入等待3秒，重复1次"
  kc key 1 1
  waitfor "通道1=>(3)Input 输入等待5秒，重复0次"
  kc key 1 123 --gap 120
  waitfor "通道1=>(4)RecFile .\\voice\\rec.voc错误!"
  waitfor "通道1复位"
  kc call 0 556
  waitfor "0 find ivrfile,exec it"
  kc hangup 0
  waitfor "通道0复位" 5
  rm -f "$work/voice/rec.voc"
  stop_olvaro
fi

# 3c. Writing a recording fails part way (a file-size limit stands in for a
# full disk): the record block stops with the reason, not as if all went well.
config ".\\flows\\telephony.cpl"
rm -f "$work/out.log"
( cd "$work" && trap '' XFSZ && ulimit -f 8 && echo "$BASHPID" >olvaro.pid &&
  exec "$olvaro" --headless 2>err.log ) | cat >"$work/out.log" &
if waitfor "ivr流程解释线程开始执行"; then
  port=$(grep -o 'KeyCall UDP端口[0-9]*成功' "$work/out.log" | grep -o '[0-9]*')
  kc call 1 555
  waitfor "通道1=>(1)PlayFile CTIPlayFile(1,.\\voice\\welcome.voc)" 5
  kc key 1 '#'
  waitfor "通道1=>(2)Digit 输入等待3秒，重复1次"
  kc key 1 1
  waitfor "通道1=>(3)Input 输入等待5秒，重复0次"
  kc key 1 123 --gap 120
  waitfor "通道1=>(4)RecFile .\\voice\\rec.voc,#,10000"
  waitfor "通道1=>(4)RecFile 录音写入失败(File too large),录音中止" 5
  waitfor "通道1复位"
  [ "$(stat -c %s "$work/voice/rec.voc")" = 8192 ] || { say "recording not cut at the limit"; fail=1; }
fi
[ "$fail" -eq 0 ] || cat "$work/out.log"
kill -TERM "$(cat "$work/olvaro.pid")"
wait

# 3d. Flow paths that are not files: refused with the load failure, at once,
# and the runtime still ends on SIGTERM.
mkdir -p "$work/flows/folder.cpl"
mkfifo "$work/flows/fifo.cpl"
for flow in ".\\flows\\folder.cpl" ".\\flows\\fifo.cpl" /dev/zero; do
  config "$flow"
  rm -f "$work/out.log"
  (cd "$work" && exec "$olvaro" --headless >out.log 2>err.log) &
  pid=$!
  waitfor "加载流程和流程触发设置有错误" 5
  grep -qF "=>流程$flow编号0加载失败" "$work/out.log" || { say "no load failure for $flow"; fail=1; }
  stop_olvaro
done

# 4. A flow that writes the call's record into the database.
rm -f "$work/ivr.sqlite"
sqlite3 "$work/ivr.sqlite" <"$schema"
if start callrecord.cpl; then
  kc call 1 13900002222
  waitfor "通道1=>(1:10)Print I1=1"
  waitfor "通道1复位"
  row=$(sqlite3 "$work/ivr.sqlite" "select CallerNo || ',' || CalledNo || ',' || length(CallID) from T_CallRecord")
  [ "$row" = "13900002222,8888,16" ] || { say "call record row: '$row'"; fail=1; }
  stop_olvaro
fi

# 5. Start-up failures and arguments.
rm -f "$work/ivr.sqlite"
(cd "$work" && "$olvaro" --headless >out.log 2>err.log)
rc=$?
[ "$rc" -eq 1 ] || { say "missing database: exit $rc, want 1"; fail=1; }
grep -q "ivr.sqlite does not exist" "$work/err.log" || { say "no database message"; cat "$work/err.log"; fail=1; }
"$olvaro" --help | grep -q -- "--headless" || { say "--help"; fail=1; }
"$olvaro" --bogus >/dev/null 2>&1; [ $? -eq 2 ] || { say "bad argument must exit 2"; fail=1; }

[ "$fail" -eq 0 ] && say "all passed"
exit $fail
