#!/usr/bin/env bash
# Creates the sample SQLite database: make_db.sh OUT.sqlite
# An existing file is left as it is (its rows are the operator's).
set -euo pipefail
out=${1:?usage: make_db.sh OUT.sqlite}
here=$(cd "$(dirname "$0")" && pwd)
if [ -e "$out" ]; then exit 0; fi
sqlite3 "$out" <"$here/schema.sql"
