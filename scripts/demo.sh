#!/usr/bin/env bash
# Builds the product and plays its whole story in hostsim on the embedded sample.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev >/dev/null
exec build/dev/host/sim/hostsim build/dev/addins/* "$@"
