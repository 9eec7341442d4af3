#!/usr/bin/env bash
# A private PostgreSQL server for the database tests, on loopback only.
#   pg-test-server.sh start DIR PORT   initdb into DIR and start; prints the
#                                      settings to export (OLVARO_PG_*)
#   pg-test-server.sh stop DIR         stop it and remove DIR
set -euo pipefail
cmd=${1:?usage: pg-test-server.sh start DIR PORT | stop DIR}
dir=${2:?missing DIR}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -n "$bin" ] || { echo "pg-test-server: no PostgreSQL server installed" >&2; exit 1; }

# The server refuses to run as root: run it as postgres then.
if [ "$(id -u)" -eq 0 ]; then as=(runuser -u postgres --); else as=(); fi

case "$cmd" in
  start)
    port=${3:?missing PORT}
    rm -rf "$dir"
    mkdir -p "$dir"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir"
    "${as[@]}" "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w \
      -o "-c listen_addresses=127.0.0.1 -p $port -k $dir" start >/dev/null ||
      { cat "$dir/server.log" >&2; exit 1; }
    "${as[@]}" psql -q -h 127.0.0.1 -p "$port" -U postgres -d postgres \
      -c "create role olvaro login password 'olvaro'" -c "create database olvaro owner olvaro"
    echo "OLVARO_PG_HOST=127.0.0.1 OLVARO_PG_PORT=$port OLVARO_PG_DB=olvaro OLVARO_PG_USER=olvaro OLVARO_PG_PASS=olvaro"
    ;;
  stop)
    [ -d "$dir/data" ] && "${as[@]}" "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null || true
    rm -rf "$dir"
    ;;
  *)
    echo "pg-test-server: unknown command '$cmd'" >&2
    exit 2
    ;;
esac
