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
  # the designer's window: Qt 6 Widgets, a CJK font for its Chinese captions,
  # and a virtual X display for looking at it on a server
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-wqy-microhei xvfb xauth
  # tools used by the scripts and tests
  python3 sqlite3
  # FSK decoder that checks the voice box's FSK file writer
  minimodem
  # soxi checks the voice box's wave files; sox makes wave files for its tests
  sox
  # the runtime's window: Qt Widgets, Qt Multimedia (voice mail heard on the
  # computer), a CJK font for the captions, and a virtual display
  qt6-base-dev qt6-multimedia-dev fonts-wqy-microhei xvfb xauth
  # SIP access: libre (SIP, SDP, RTP); baresip and linphonec call the runtime
  # in the end-to-end tests, sipvicious's scanners probe it, kamailio is the
  # SIP server it registers with (its registrar, usrloc, auth and tm modules
  # are in the package itself; the tests start it in the foreground)
  libre-dev pkg-config baresip-core linphone-cli sipvicious kamailio
)
# node and npm for nzh below; a machine may already have them from elsewhere.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  packages+=(nodejs npm)
fi

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

# nzh, an npm library of Chinese numerals: the combined playback's readings
# are compared with it (hardware/combine_nzh_test.js). It goes into
# build/npm, which git ignores, at a fixed version.
nzh_version=1.0.14
nzh_dir="$(cd "$(dirname "$0")/.." && pwd)/build/npm"
have=$(node -p "require('$nzh_dir/node_modules/nzh/package.json').version" 2>/dev/null || true)
if [ "$have" != "$nzh_version" ]; then
  echo "setup: installing nzh $nzh_version into $nzh_dir"
  mkdir -p "$nzh_dir"
  npm install --prefix "$nzh_dir" --no-save --no-audit --no-fund --loglevel=error "nzh@$nzh_version"
else
  echo "setup: nzh $nzh_version present"
fi
