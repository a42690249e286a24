#!/usr/bin/env bash
# Builds and runs every test. Usage: scripts/test.sh [--preset ci|asan|dev]   (default: ci)
set -euo pipefail
cd "$(dirname "$0")/.."

preset=ci
if [ "${1:-}" = "--preset" ]; then preset="$2"; fi

scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
