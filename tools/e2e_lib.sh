# Shared by the end-to-end test scripts: a scratch folder, olvaro --headless
# started in it and stopped, keycall, and waiting for trace lines.
# Before sourcing, set: olvaro, keycall (program paths) and e2e_name (a
# prefix for messages). Provides: work, fail, pid, port and the functions
# below.
work=$(mktemp -d)
pid=
port=
fail=0
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
say() { echo "$e2e_name: $*"; }

# waitfor TEXT [SECONDS]: until the log holds a line ending in TEXT.
waitfor() {
  local n=$(( ${2:-10} * 20 ))
  for ((i = 0; i < n; i++)); do
    grep -qF -- "=>$1" "$work/out.log" 2>/dev/null && return 0
    sleep 0.05
  done
  say "no line '$1' within ${2:-10} s"
  fail=1
  return 1
}

# start_olvaro: runs olvaro --headless in $work (its sysconfig.ini there
# should say keycallport=0) and takes the KeyCall port from its log.
start_olvaro() {
  rm -f "$work/out.log"  # so that no line of an earlier run is taken for this one
  (cd "$work" && exec "$olvaro" --headless >out.log 2>err.log) &
  pid=$!
  waitfor "ivr流程解释线程开始执行" || { cat "$work/out.log" "$work/err.log"; return 1; }
  port=$(grep -o 'KeyCall UDP端口[0-9]*成功' "$work/out.log" | grep -o '[0-9]*')
  [ -n "$port" ] || { say "no KeyCall port in the log"; fail=1; return 1; }
}

# stop_olvaro: SIGTERM, which must end it with status 0; the log is shown
# when something failed.
stop_olvaro() {
  [ "$fail" -eq 0 ] || { say "log so far:"; cat "$work/out.log"; }
  kill -TERM "$pid"
  wait "$pid"
  local rc=$?
  pid=
  [ "$rc" -eq 0 ] || { say "olvaro exited $rc after SIGTERM"; fail=1; }
}

kc() { "$keycall" --port "$port" "$@" || { say "keycall $* failed"; fail=1; }; }
