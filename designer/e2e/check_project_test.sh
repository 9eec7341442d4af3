#!/usr/bin/env bash
# flowdesigner check: the exact lines and exit statuses for the sample, the
# sample against a voice directory that lacks its files, a project with
# errors, and projects or arguments that cannot be used.
#   check_project_test.sh FLOWDESIGNER SOURCE_DIR
set -u
fd=$1 src=$2
sample=$src/samples/flows/sample.src
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
say() { echo "check test: $*"; }

# run WANT_STATUS ARGS...: runs flowdesigner, keeping stdout and stderr.
run() {
  local want=$1
  shift
  "$fd" "$@" >"$tmp/out" 2>"$tmp/err"
  local rc=$?
  if [ "$rc" -ne "$want" ]; then
    say "flowdesigner $*: exit $rc, want $want"; cat "$tmp/out" "$tmp/err"; fail=1
  fi
}
# same FILE: stdout equals the text of FILE.
same() {
  if ! diff -u "$1" "$tmp/out"; then say "stdout differs from $(basename "$1")"; fail=1; fi
}
has() { grep -qF -- "$2" "$1" || { say "$1 lacks: $2"; cat "$1"; fail=1; }; }
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }

# The sample: its one warning, exit 0, nothing on standard error.
cat >"$tmp/sample.expected" <<'EOF'
警告: 命令6(组合放音)[读出号码]: 出口1(不能放音)未连接,来电将被挂断
检查完成: 0个错误, 1个警告
EOF
run 0 check "$sample"
same "$tmp/sample.expected"
[ -s "$tmp/err" ] && { say "stderr: $(cat "$tmp/err")"; fail=1; }
run 0 check "$sample" --voice-dir "$src/samples/voice"
same "$tmp/sample.expected"

# A voice directory without the sample's prompts: four errors, exit 1; the
# same names in other letter case are found.
mkdir "$tmp/voice"
cat >"$tmp/novoice.expected" <<'EOF'
错误: 命令1(播放语音)[欢迎语,按#跳过]: 语音文件welcome.voc在语音目录中不存在
错误: 命令2(单键跳转)[主菜单:1输入号码,2留言]: 语音文件menu.voc在语音目录中不存在
错误: 命令3(按键输入)[输入四位号码到S1]: 语音文件input.voc在语音目录中不存在
警告: 命令6(组合放音)[读出号码]: 出口1(不能放音)未连接,来电将被挂断
错误: 命令7(播放语音)[再见]: 语音文件bye.voc在语音目录中不存在
检查完成: 4个错误, 1个警告
EOF
run 1 check --voice-dir "$tmp/voice" "$sample"
same "$tmp/novoice.expected"
for f in WELCOME.VOC Menu.voc input.VOC bye.voc; do : >"$tmp/voice/$f"; done
run 0 check "$sample" --voice-dir "$tmp/voice"
same "$tmp/sample.expected"

# A project with errors: block 1 is a script that spins for ever, block 2 a
# loop-playback block (a kind the runtime skips) that nothing leads to.
note=$(printf '旧的' | iconv -f UTF-8 -t GBK)
{
  printf '1000'; le32 3
  printf '\x06\x00'; le32 1; le32 100; le32 100
  script='x: goto x'
  printf '\x30\x00'; le32 0; le32 ${#script}; printf '%s' "$script"; le32 100; le32 200
  printf '\x35\x00'; head -c 12 /dev/zero; le32 9999999; le32 9999999; le32 300; le32 200
  le32 0; printf '\x01\x01\x01'
  le32 0; le32 0; le32 "$(printf "%s" "$note" | wc -c)"; printf "%s" "$note"
} >"$tmp/bad.src"
cat >"$tmp/bad.expected" <<'EOF'
错误: 命令1(脚本命令): 脚本死循环:[0行]起的循环没有出口,通道将一直执行下去
错误: 命令2(循环放音)[旧的]: 运行时不执行此类命令(模块类型53),直接从出口0继续
警告: 命令2(循环放音)[旧的]: 从开始命令无法到达
检查完成: 2个错误, 1个警告
EOF
run 1 check "$tmp/bad.src"
same "$tmp/bad.expected"

# Not a project, cut short, missing, a folder: exit 2 with the reason.
printf '1001xxxx' >"$tmp/a.cpl"
run 2 check "$tmp/a.cpl"
has "$tmp/err" "$tmp/a.cpl文件格式错误"
head -c 30 "$sample" >"$tmp/short.src"
run 2 check "$tmp/short.src"
has "$tmp/err" "cut short"
run 2 check "$tmp/none.src"
has "$tmp/err" "cannot read $tmp/none.src"
run 2 check "$tmp"

# Arguments, and a voice directory that is not one.
run 2 check
run 2 check "$sample" -x
run 2 check "$sample" --voice-dir
run 2 check "$sample" "$sample"
run 2 check "$sample" --voice-dir "$tmp/no/such/dir"
has "$tmp/err" "$tmp/no/such/dir is not a directory"
[ -s "$tmp/out" ] && { say "findings printed for a bad voice directory"; fail=1; }

# The command is in the help.
run 0 --help
has "$tmp/out" "check PROJECT.src [--voice-dir DIR]"

[ "$fail" -eq 0 ] && say "all passed"
exit $fail
