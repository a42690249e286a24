#!/usr/bin/env bash
# scripts/check-portability.sh: the repository passes; in a scratch tree each Linux-only use is found
# where the Mac builds it, and left alone in the Linux side of the platform layer and the Darwin shim.
# Usage: tests/scripts/check_portability_test.sh SOURCE_DIR
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
source_dir="${1:?usage: check_portability_test.sh SOURCE_DIR}"
check="$source_dir/scripts/check-portability.sh"
"$check"

tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
uses=(
  'return status.st_mtim.tv_sec;'
  'socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);'
  'accept4(fd, nullptr, nullptr, 0);'
  'pipe2(fds, O_CLOEXEC);'
  'getauxval(AT_EXECFN);'
  'fs::read_symlink("/proc/self/exe");'
  'copy_file_range(in, nullptr, out, nullptr, n, 0);'
  'getxattr(path, "user.x", value, sizeof value);'
  '#include <linux/fs.h>'
  'extern char** environ;'
)
status=0
for index in "${!uses[@]}"; do
  mkdir -p "$tree/$index/tests/support" "$tree/$index/shared/src" "$tree/$index/tests/darwin_shim"
  for allowed in shared/src/platform_linux.cpp tests/darwin_shim/shim.cpp; do
    echo "${uses[$index]}" >"$tree/$index/$allowed"
  done
  "$check" --root "$tree/$index" 2>/dev/null || { echo "FAIL allowed place refused: ${uses[$index]}" >&2; status=1; }
  printf 'int x;\n%s\n' "${uses[$index]}" >"$tree/$index/tests/support/use.cpp"
  if found="$("$check" --root "$tree/$index" 2>&1)"; then
    echo "FAIL not found: ${uses[$index]}" >&2
    status=1
  elif ! grep -q '^tests/support/use.cpp:2: ' <<<"$found"; then
    echo "FAIL not named by file and line: ${uses[$index]}: $found" >&2
    status=1
  fi
done
exit $status
