#!/usr/bin/env bash
# Builds the project (debug) and runs every test with CTest.
#   --all  also the sanitizer builds (ASan+UBSan, ThreadSanitizer) of the core
#          libraries with their tests, and each fuzz target for 60 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
all=0
for a in "$@"; do
  case "$a" in
    --all) all=1 ;;
    -h|--help) sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test.sh: unknown option '$a' (try --help)" >&2; exit 2 ;;
  esac
done

step() { printf '\n==== %s\n' "$*"; }

# A private PostgreSQL server on loopback for the database tests; without
# one those tests are skipped (and say so).
pgdir=$(mktemp -d /tmp/olvaro-pg.XXXXXX)
trap 'bash scripts/pg-test-server.sh stop "$pgdir" >/dev/null 2>&1 || true' EXIT
pgport=$(( 20000 + $$ % 20000 ))
if pgenv=$(bash scripts/pg-test-server.sh start "$pgdir" "$pgport"); then
  export $pgenv
  echo "test.sh: PostgreSQL for the database tests on 127.0.0.1:$pgport"
else
  echo "test.sh: no PostgreSQL server could start; its database tests are skipped" >&2
fi

step "debug build and tests"
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/debug -j"$jobs"
ctest --test-dir build/debug --output-on-failure -j"$jobs"

if [ "$all" -eq 1 ]; then
  step "ASan+UBSan build of the core libraries and their tests"
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOLVARO_SANITIZE=ON \
        -DOLVARO_CORE_ONLY=ON -DOLVARO_BENCH=OFF >/dev/null
  cmake --build build/asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan --output-on-failure -j"$jobs"

  step "ThreadSanitizer build of the core libraries and their tests"
  cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOLVARO_TSAN=ON \
        -DOLVARO_CORE_ONLY=ON -DOLVARO_BENCH=OFF >/dev/null
  cmake --build build/tsan -j"$jobs"
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 atexit_sleep_ms=0" \
    ctest --test-dir build/tsan --output-on-failure -j"$jobs"

  step "fuzz targets (clang, libFuzzer, ASan+UBSan)"
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DOLVARO_FUZZ=ON -DOLVARO_SANITIZE=ON -DOLVARO_CORE_ONLY=ON \
        -DOLVARO_TESTS=OFF -DOLVARO_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j"$jobs"
  ctest --test-dir build/fuzz -L fuzz --output-on-failure -j"$jobs"
fi
