#!/usr/bin/env bash
# Builds and runs the installer benchmark. Usage: bench/installer/run.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/../.."
build="${1:-build/bench}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORLEX_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target installer_bench >&2
exec "$build/bench/installer/installer_bench" ${2:+"$2"}
