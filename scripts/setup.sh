#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine; does nothing when all is there.
# Usage: scripts/setup.sh
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac

# pkg-config: the test servers find cpp-httplib through it, and no other package here pulls it in.
# attr: getfattr, with which the demo shows the downloaded package's quarantine attribute.
# libxml2-utils (xmllint) and shellcheck: the installer package's tests check its scripts and distribution.
# python3: scripts/check-include-cycles.py, which CI runs over the product's sources.
packages=(cmake ninja-build pkg-config g++ clang libclang-rt-14-dev libcurl4-openssl-dev libgtest-dev libgmock-dev
          libcpp-httplib-dev libssl-dev openssl curl rsync ca-certificates attr shellcheck libxml2-utils python3)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi
