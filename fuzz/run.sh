#!/usr/bin/env bash
# Runs the libFuzzer targets built in BUILD_DIR (cmake -DTARVO_BUILD_FUZZERS=ON):
# first every kept regression input under fuzz/regressions/<target>/, then each
# target for SECONDS from its seed corpus in fuzz/corpus/<target>/. New inputs
# go to BUILD_DIR/fuzz-work (the checked-in corpus is left as it is); a finding
# is written to BUILD_DIR/fuzz-findings/<target>/ and fails the run. Keep every
# finding as a regression input: copy it into fuzz/regressions/<target>/ with a
# name that says what it found, next to the fix and its test.
# Usage: fuzz/run.sh BUILD_DIR [SECONDS]
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="$(cd "$1" && pwd)"
SECONDS_PER_TARGET="${2:-20}"
TARGETS=(flag_file settings ai_answer selector action_inference)
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

status=0
for target in "${TARGETS[@]}"; do
  bin="$BUILD/fuzz/fuzz_$target"
  log="$BUILD/fuzz-$target.log"
  regressions=()
  if [ -d "$ROOT/fuzz/regressions/$target" ]; then
    while IFS= read -r -d '' f; do regressions+=("$f"); done \
      < <(find "$ROOT/fuzz/regressions/$target" -type f -print0 | sort -z)
  fi
  if [ "${#regressions[@]}" -gt 0 ]; then
    if ! "$bin" "${regressions[@]}" >"$log" 2>&1; then
      echo "fuzz_$target: a kept regression input fails again:"; tail -n 30 "$log"
      status=1
      continue
    fi
  fi
  work="$BUILD/fuzz-work/$target"
  findings="$BUILD/fuzz-findings/$target"
  mkdir -p "$work" "$findings"
  if "$bin" -max_total_time="$SECONDS_PER_TARGET" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$findings/" "$work" "$ROOT/fuzz/corpus/$target" >"$log" 2>&1; then
    done_line="$(grep -a '^Done ' "$log" | tail -n 1)"
    runs="$(sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\1/' <<<"$done_line")"
    secs="$(sed -E 's/^Done ([0-9]+) runs in ([0-9]+) second.*/\2/' <<<"$done_line")"
    echo "fuzz_$target: ${#regressions[@]} regression input(s) replayed, $runs executions in $secs s"
  else
    echo "fuzz_$target: FINDING (kept in $findings; copy it into fuzz/regressions/$target/):"
    grep -a -E 'property violated|ERROR|SUMMARY|Test unit written' -A2 "$log" | head -n 30
    status=1
  fi
done
exit "$status"
