#!/usr/bin/env bash
# Builds the fuzz preset (clang 14, libFuzzer, the library under
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs every fuzz target
# for a bounded time from its seed corpus in fuzz/corpus/<target>/. Any crash,
# leak, sanitizer report, time-out or uncaught exception fails the run; the
# input that caused it is left in build/fuzz/findings/.
# Usage: scripts/fuzz.sh [seconds per target]   (20 by default)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-20}"

bash scripts/install-deps.sh
cmake --preset fuzz
cmake --build --preset fuzz --parallel "$(nproc)"

bin=build/fuzz/fuzz/bin
work=build/fuzz/corpus
findings=build/fuzz/findings
mkdir -p "$work" "$findings"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
for seeds in fuzz/corpus/*/; do
  target="$(basename "$seeds")"
  mkdir -p "$work/$target"
  echo "== fuzz_$target: ${seconds}s"
  # New inputs go to the build tree; the seed corpus stays as committed, and
  # every seed (crash regressions included) is run first.
  if ! "$bin/fuzz_$target" "$work/$target" "$seeds" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$findings/$target-" 2>"$work/$target.log"; then
    tail -n 60 "$work/$target.log"
    failed+=("$target")
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$work/$target.log" || true
  fi
done

total=$(ls -d fuzz/corpus/*/ | wc -l)
echo "fuzz: $((total - ${#failed[@]})) passed, ${#failed[@]} failed"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "failing targets: ${failed[*]}"
  exit 1
fi
