#!/usr/bin/env bash
# Puts the sample data package where the package's own installation file would on the Mac:
# ROOT/Library/Vornid, for a simulated Mac whose root is ROOT (hostsim --root ROOT).
# Usage: samples/package/install.sh ROOT
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
root="${1:?usage: install.sh ROOT}"
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$root/Library/Vornid"
for folder in vornidfu VornidQM vornidca vornidhe; do
  cp -R "$here/$folder" "$root/Library/Vornid/"
done
