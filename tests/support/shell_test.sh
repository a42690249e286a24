# shellcheck shell=bash
# Sourced by the shell tests after their own --help handling: source shell_test.sh PREFIX.
# Makes $work, a new folder <TMPDIR, else /tmp>/PREFIX-XXXXXX that is removed when the test exits with
# status 0 and kept (and named on stderr) otherwise, and gives the two ways to report a failure:
# fail notes it and goes on (the test ends with exit "$failed"), fail_now ends the test at once;
# expect_failure checks a refused run.

work="$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")"
failed=0
trap 'if [ $? = 0 ]; then rm -rf "$work"; else echo "test files kept in $work" >&2; fi' EXIT

fail() {
  echo "FAIL: $*" >&2
  failed=1
}

fail_now() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect_failure WHAT TEXT: the last run, its status in $status and its output in $out, ended with
# status 1 and said TEXT.
expect_failure() {
  [ "$status" = 1 ] || fail "$1: status $status, expected 1: $out"
  grep -qF -- "$2" <<<"$out" || fail "$1: no '$2' in: $out"
}
