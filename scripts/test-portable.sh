#!/usr/bin/env bash
# The macOS workflow's tests job, and the one place that names what it builds and runs: a fresh configure
# of the dev preset in its own build folder (build/portable), the target portable_tests alone built, and
# the tests labelled portable run (they need no hostsim process and no Linux-only program, so that the
# target builds every one of them). CI runs the same on Linux, a rehearsal of the job. Arguments go to the
# configure (the workflow names Homebrew's OpenSSL).
# Usage: scripts/test-portable.sh [CMAKE_ARGUMENT...]
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."

target=portable_tests
label=portable
build=build/portable

rm -rf "$build"
# ${1+"$@"}: bash 3.2 calls an empty "$@" unbound under set -u.
cmake --preset dev -B "$build" -DQUORLEX_BUILD_BENCH=OFF ${1+"$@"}
cmake --build "$build" --target "$target"
ctest --test-dir "$build" -L "$label" --output-on-failure -j "$(getconf _NPROCESSORS_ONLN)"
