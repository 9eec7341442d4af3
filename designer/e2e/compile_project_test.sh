#!/usr/bin/env bash
# flowdesigner compile: output names, messages and exit statuses on good,
# failing and unreadable projects.
#   compile_project_test.sh FLOWDESIGNER SAMPLE.src
set -u
fd=$1 sample=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
say() { echo "compile test: $*"; }

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
has() { grep -qF -- "$2" "$1" || { say "$1 lacks: $2"; cat "$1"; fail=1; }; }

le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }

# The default name sits next to the project.
cp "$sample" "$tmp/a.src"
run 0 compile "$tmp/a.src"
[ "$(cat "$tmp/out")" = "$tmp/a.cpl文件编译完成" ] || { say "stdout: $(cat "$tmp/out")"; fail=1; }
[ -s "$tmp/err" ] && { say "stderr: $(cat "$tmp/err")"; fail=1; }
head -c 4 "$tmp/a.cpl" | grep -q 1001 || { say "a.cpl has no magic"; fail=1; }

run 0 compile "$tmp/a.src" -o "$tmp/other.cpl"
has "$tmp/out" "$tmp/other.cpl文件编译完成"
cmp -s "$tmp/a.cpl" "$tmp/other.cpl" || { say "-o wrote different bytes"; fail=1; }

# Block 1 is a script block with an error: the box text, the status text,
# and the file without its pool (frame, start record, int16 48).
{
  printf '1000'; le32 2
  printf '\x06\x00'; le32 1; le32 100; le32 100
  script='set s1, "x" y'
  printf '\x30\x00'; le32 0; le32 ${#script}; printf '%s' "$script"; le32 100; le32 200
  le32 0; printf '\x01\x01'
} >"$tmp/bad.src"
run 1 compile "$tmp/bad.src"
has "$tmp/err" '[0行;13列]错误的ID"y",多余标识'
has "$tmp/err" "编译错误,脚本命令1错误"
[ "$(stat -c %s "$tmp/bad.cpl")" -eq 16 ] || { say "bad.cpl is $(stat -c %s "$tmp/bad.cpl") bytes, want 16"; fail=1; }

# Not a project, cut short, missing, a folder: exit 2 with the reason.
run 2 compile "$tmp/a.cpl"
has "$tmp/err" "$tmp/a.cpl文件格式错误"
head -c 30 "$sample" >"$tmp/short.src"
run 2 compile "$tmp/short.src"
has "$tmp/err" "cut short"
[ -e "$tmp/short.cpl" ] && { say "a compiled file for a malformed project"; fail=1; }
run 2 compile "$tmp/none.src"
has "$tmp/err" "cannot read $tmp/none.src"
run 2 compile "$tmp"

# Arguments.
run 2 compile
run 2 compile "$tmp/a.src" -x
run 2 compile "$tmp/a.src" -o
run 2 compile "$tmp/a.src" "$tmp/b.src"
"$fd" compile "$tmp/a.src" -o "$tmp/no/such/dir.cpl" >/dev/null 2>"$tmp/err"
[ $? -eq 1 ] || { say "unwritable output must exit 1"; fail=1; }
has "$tmp/err" "cannot write $tmp/no/such/dir.cpl"

[ "$fail" -eq 0 ] && say "all passed"
exit $fail
