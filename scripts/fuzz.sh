#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build/fuzz (or $QUORLEX_FUZZ_BUILD) and runs each for a
# fixed time on a copy of its seed corpus (the committed corpus is never changed). Fails on any crash,
# sanitizer report or failed check. Usage: scripts/fuzz.sh [seconds per target, default 15] [target...]
# Ends with one line per target: "fuzz <target> <executions> <failures>".
set -euo pipefail
case "${1:-}" in -h | --help) sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0"; exit 0 ;; esac
cd "$(dirname "$0")/.."

seconds="${1:-15}"
shift || true
build="${QUORLEX_FUZZ_BUILD:-build/fuzz}"

scripts/setup.sh

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_COMPILER=clang -DQUORLEX_BUILD_FUZZERS=ON -DQUORLEX_BUILD_TESTS=OFF -DQUORLEX_BUILD_BENCH=OFF \
  >/dev/null
cmake --build "$build" --target fuzzers >&2

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=(version_answer download_link signature_report version_file counter_file page_message install_record)
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quorlex-fuzz-run-XXXXXX")"
# The file targets write a file per input: memory-backed scratch space keeps them fast.
scratch="${TMPDIR:-/tmp}"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then scratch=/dev/shm; fi
summary=()
status=0
for target in "${targets[@]}"; do
  cp -r "fuzz/corpus/$target" "$work/$target"
  log="$work/$target.log"
  echo "== $target: ${seconds}s"
  if TMPDIR="$scratch" "$build/fuzz/${target}_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$work/$target-" "$work/$target" >"$log" 2>&1; then
    failures=0
  else
    failures=1
    status=1
    echo "!! $target failed; the log and the input that caused it are in $work:" >&2
    grep -E "ERROR|fuzz check failed|SUMMARY|Test unit written|terminate" "$log" >&2 || tail -n 30 "$log" >&2
  fi
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  summary+=("fuzz $target ${runs:-0} $failures")
done

printf '%s\n' "${summary[@]}"
if [ $status -eq 0 ]; then
  rm -rf "$work"
fi
exit $status
