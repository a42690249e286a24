#!/usr/bin/env bash
# Checks that no C or C++ source that builds on a Mac uses a call, constant, field or header that only
# Linux has (or whose signature differs on macOS), outside the two places made for them: the Linux side
# of the platform layer (shared/src/platform_linux.cpp) and the Darwin shim (tests/darwin_shim/).
# Calls whose signature differs between the systems may also appear in shared/src/platform_darwin.cpp.
# Not checked: the Linux-only programs (host/sim, hostsim itself: it re-executes through /proc; bench/,
# measured against Linux tools; fuzz/). Names each finding as FILE:LINE and the rule it breaks.
# With --root DIR, checks every file below DIR instead of the repository's tracked files.
# Usage: scripts/check-portability.sh [--root DIR]
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac

root="$(dirname "$0")/.."
case $# in
  0) ;;
  2) [ "$1" = "--root" ] || { echo "usage: scripts/check-portability.sh [--root DIR]" >&2; exit 2; }; root=$2 ;;
  *) echo "usage: scripts/check-portability.sh [--root DIR]" >&2; exit 2 ;;
esac
cd "$root"

# A loop, not mapfile: a Mac's /bin/bash (3.2) runs this script in the macOS workflow.
files=()
while IFS= read -r file; do files+=("$file"); done < <(
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1 && [ $# -eq 0 ]; then
    git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' '*.mm'
  else
    find . -type f \( -name '*.c' -o -name '*.cc' -o -name '*.cpp' -o -name '*.h' -o -name '*.hpp' \
      -o -name '*.mm' \) | sed 's|^\./||' | sort
  fi
)
[ ${#files[@]} -gt 0 ] || { echo "check-portability: no sources found" >&2; exit 1; }

linux_only='shared/src/platform_linux\.cpp|tests/darwin_shim/'
differs="$linux_only|shared/src/platform_darwin\.cpp"
not_checked='^(host/sim|bench|fuzz)/'

status=0
# check ALLOWED PATTERN ADVICE: every checked file but those whose path matches ALLOWED (an extended
# regular expression) is searched for PATTERN (grep -E); each line found is a finding.
check() {
  local allowed="^($1)" pattern=$2 advice=$3 file hit
  local selected=()
  for file in "${files[@]}"; do
    [[ $file =~ $not_checked || $file =~ $allowed ]] || selected+=("$file")
  done
  [ ${#selected[@]} -gt 0 ] || return 0
  while IFS= read -r hit; do
    file="${hit%%:*}"
    hit="${hit#*:}"
    echo "$file:${hit%%:*}: not portable ($pattern): use $advice" >&2
    status=1
  done < <(grep -nHE -- "$pattern" "${selected[@]}" || true)
}

check "$linux_only" '\bst_[amc]tim\b' 'ModificationTime/AccessTime of platform.h (macOS: st_mtimespec)'
check "$linux_only" '\bSOCK_(CLOEXEC|NONBLOCK)\b' 'socket, then fcntl(FD_CLOEXEC)'
check "$linux_only" '\baccept4\b' 'accept, then fcntl(FD_CLOEXEC)'
check "$linux_only" '\bpipe2\b' 'pipe, then fcntl(FD_CLOEXEC)'
check "$linux_only" '\bMSG_NOSIGNAL\b' 'SIGPIPE ignored (macOS: SO_NOSIGPIPE)'
check "$linux_only" '\bgetauxval\b|<sys/auxv\.h>' 'ExecutablePath of platform.h'
check "$linux_only" '/proc/' 'the platform layer (ExecutablePath, ProcessIsRunning)'
check "$linux_only" '\b(copy_file_range|sendfile|FICLONE)\b|<sys/sendfile\.h>' 'CopyFileData/CloneFileAt of platform.h'
check "$linux_only" '\b(O_PATH|O_TMPFILE|statx|renameat2|memfd_create|execvpe|epoll_[a-z_]+|inotify_[a-z_]+|prctl)\b' \
  'POSIX calls'
check "$linux_only" \
  '#[[:space:]]*include[[:space:]]*<(linux/|asm/|sys/(epoll|inotify|prctl|sysmacros|vfs|sysinfo)\.h|malloc\.h|endian\.h|mntent\.h)' \
  'POSIX headers'
# A library or bundle on macOS has no environ to link against (environ(7)); programs do.
check "$linux_only|uninstaller/|tests/.*_test\.cpp" '\bextern[[:space:]]+char[[:space:]]*\*[[:space:]]*\*[[:space:]]*environ\b' \
  'Environment() of platform_system.h (macOS: _NSGetEnviron)'
# Both systems have these, with different arguments.
check "$differs" '\b(get|set|list|remove)xattr[[:space:]]*\(|<sys/xattr\.h>' \
  'MarkAsDownloaded/QuarantineAttribute of platform.h'
[ $status -eq 0 ] || echo "check-portability: the uses above do not build or behave alike on macOS" >&2
exit $status
