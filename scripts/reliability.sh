#!/usr/bin/env bash
# Prints, as a table for the README, what the robustness checks tried and how many of them failed:
# fuzz executions per target, installations and start-counter rewrites killed at random moments,
# network fault scenarios and uninstaller guard and failure cases (the tests that hold them, run anew).
# A named test set that matches no test, or a crash run that reports no trials, counts as a failure.
# Usage: scripts/reliability.sh [fuzz seconds per target, default 15] [--build DIR]
#   --build DIR: an already built tree to take the tests from, instead of building the ci preset.
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."

seconds=15
build=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build="$2"; shift 2 ;;
    *[!0-9]* | "") echo "reliability: unknown argument $1 (see --help)" >&2; exit 2 ;;
    *) seconds="$1"; shift ;;
  esac
done

scripts/setup.sh
if [ -z "$build" ]; then
  cmake --preset ci >/dev/null
  cmake --build --preset ci >&2
  build=build/ci
fi

# The tests that hold each kind of case, by the beginnings of their names. Each must match a test.
network=('FetchTest\.OtherSchemes' 'FetchTest\.BothSchemeOptions' 'FetchTest\.RedirectLoop'
         'FetchTest\.TextAnswerOverTheLimit' 'FetchTest\.Stalled' 'FetchTest\.Untrusted' 'FetchTest\.FailedDownload'
         'FetchTest\.AnswersWithoutAKnownEnd' 'FetchTest\.TrickleBelow' 'FetchTest\.KilledDownload'
         'FetchTest\.RefusedFile' 'FetchTest\.TargetThatCannot'
         'NewVersionTest\.FailedLinkQuery' 'NewVersionTest\.UnreachableLinkServer' 'NewVersionTest\.FailedDownload'
         'NewVersionTest\.PinnedTeam' 'NewVersionTest\.RefusedQuarantine' 'NewVersionTest\.AddressWithALineBreak'
         'NewVersionTest\.MissingDownloadsFolder' 'CheckTest\.FailedQuery')
guards=('Uninstall\.EndsSilently' 'Uninstall\.RemovesLinked' 'Uninstall\.ReportsFileSystemError' 'Uninstall\.DryRun'
        'Uninstall\.TreeBelowAPlainFile' 'Uninstall\.RemovesTheGuideAddinOnly' 'Uninstall\.UnreadableRecord'
        'RunUninstaller\.Refuses' 'UninstallerProgram\.Refuses' 'UninstallerProgram\.ChangesNothing'
        'UninstallerProgram\.RunStopped' 'UninstallerProgram\.RefusalInsideABundle')

log="$(mktemp -d "${TMPDIR:-/tmp}/quorlex-reliability-XXXXXX")"
rows=()
total_failures=0
row() { # what, how many, failures
  rows+=("| $1 | $2 | $3 |")
  total_failures=$((total_failures + $3))
}

# How many tests of the build match a regular expression.
tests_matching() {
  local total
  total="$(ctest --test-dir "$build" -N -R "$1" | sed -n 's/^Total Tests: //p')"
  echo "${total:-0}"
}

# Runs the tests whose names begin with any of the given patterns; sets count and failed. A pattern
# that matches no test is a failure of its own: a renamed test must not vanish from the table.
run_tests() {
  local name="$1" pattern
  shift
  failed=0
  for pattern in "$@"; do
    if [ "$(tests_matching "^$pattern")" -eq 0 ]; then
      echo "reliability: no test in $build matches $pattern" >&2
      failed=$((failed + 1))
    fi
  done
  pattern="^($(IFS='|'; echo "$*"))"
  count="$(tests_matching "$pattern")"
  if [ "$count" -gt 0 ] && ! ctest --test-dir "$build" -R "$pattern" -j2 >"$log/$name.log" 2>&1; then
    local ctest_failed
    ctest_failed="$(sed -n 's/.*tests passed, \([0-9]*\) tests failed.*/\1/p' "$log/$name.log")"
    failed=$((failed + ${ctest_failed:-1}))
  fi
}

fuzz_status=0
QUORLEX_FUZZ_BUILD="${QUORLEX_FUZZ_BUILD:-build/fuzz}" scripts/fuzz.sh "$seconds" >"$log/fuzz.log" || fuzz_status=$?
while read -r _ target runs failures; do
  row "Fuzzing \`$target\`: executions in ${seconds} s" "$runs" "$failures"
done < <(grep '^fuzz ' "$log/fuzz.log")
if [ $fuzz_status -ne 0 ] && ! grep -q '^fuzz ' "$log/fuzz.log"; then
  row "Fuzzing (did not build or run: $log/fuzz.log)" 0 1
fi

crash_status=0
"$build/tests/crash/crash_tests" >"$log/crash.log" 2>&1 || crash_status=$?
install_line="$(grep 'install crash trials: .* kills' "$log/crash.log" || true)"
counter_line="$(grep 'counter crash trials: .* killed' "$log/crash.log" || true)"
install_failed="$(grep -c '^\[  FAILED  \] InstallCrash\.' "$log/crash.log" || true)"
counter_failed="$(grep -c '^\[  FAILED  \] CounterCrash\.' "$log/crash.log" || true)"
[ $crash_status -eq 0 ] || [ $((install_failed + counter_failed)) -gt 0 ] || install_failed=1
# A crash test that no longer reports its trials tried nothing.
[ -n "$install_line" ] || install_failed=$((install_failed + 1))
[ -n "$counter_line" ] || counter_failed=$((counter_failed + 1))
kills="$(sed -n 's/.* trials, \([0-9]*\) kills.*/\1/p' <<<"$install_line")"
trials="$(sed -n 's/.*: \([0-9]*\) trials.*/\1/p' <<<"$install_line")"
inside="$(sed -n 's/.* kills, \([0-9]*\) of them during.*/\1/p' <<<"$install_line")"
row "Installations killed (SIGKILL) at random moments, then run to the end: trials (kills, of them inside a run)" \
  "${trials:-0} (${kills:-0}, ${inside:-0})" "$install_failed"
counter_kills="$(sed -n 's/.* trials, \([0-9]*\) killed.*/\1/p' <<<"$counter_line")"
row "Start-counter rewrites killed (SIGKILL) at random moments" "${counter_kills:-0}" "$counter_failed"

run_tests network "${network[@]}"
row "Network fault scenarios (tests: refused schemes, redirect loop, oversized answer, stalls, untrusted certificate, failed transfers, answers without a known end, trickles, killed downloads, refused packages)" \
  "${count:-0}" "$failed"
run_tests guards "${guards[@]}"
row "Uninstaller guard and failure cases (tests: no home, wrong folder or home, links, file-system errors, a run finished by a second run, refusal inside a bundle, a tree below a plain file, an unreadable record, dry run)" \
  "${count:-0}" "$failed"

echo "| What was tried | How many | Failures |"
echo "|---|---|---|"
printf '%s\n' "${rows[@]}"
if [ $total_failures -ne 0 ]; then
  echo "Failures: the logs are in $log" >&2
  exit 1
fi
rm -rf "$log"
