#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [--preset ci|asan|tsan|darwin-shim|dev|release]   (default: ci)
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."

usage="usage: scripts/test.sh [--preset ci|asan|tsan|darwin-shim|dev|release]"
preset=ci
case $# in
  0) ;;
  2) [ "$1" = "--preset" ] || { echo "$usage" >&2; exit 2; }; preset="$2" ;;
  *) echo "$usage" >&2; exit 2 ;;
esac

scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
