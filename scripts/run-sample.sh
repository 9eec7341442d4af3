#!/usr/bin/env bash
# Builds the project and runs the main job on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/debug -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/debug -j"$(nproc)" --target cpldump
./build/debug/tools/cpldump samples/flows/sample.cpl
