#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [--preset ci|asan|dev]   (default: ci)
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: scripts/test.sh [--preset ci|asan|dev]"
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
