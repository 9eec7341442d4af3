#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  # build and tests
  cmake ninja-build g++ clang libclang-rt-14-dev clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # database access: SOCI over SQLite, PostgreSQL and ODBC; a PostgreSQL
  # server and the SQLite ODBC driver for the database tests
  libsoci-dev libsqlite3-dev libpq-dev unixodbc unixodbc-dev libsqliteodbc odbc-postgresql
  postgresql
  # echo canceller baseline for the benchmarks
  libspeexdsp-dev
  # tools used by the scripts and tests
  python3 sqlite3
  # FSK decoder that checks the voice box's FSK file writer
  minimodem
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if [ "$(id -u)" -eq 0 ]; then SUDO=(); else SUDO=(sudo); fi
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -qq
  "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi
