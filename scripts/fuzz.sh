#!/usr/bin/env bash
# Runs every libFuzzer target of the core (fuzz/) for SECONDS each, default 25,
# under AddressSanitizer and UndefinedBehaviorSanitizer, and prints each one's
# executions and coverage (cov: edges, ft: features).
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# Seeds come from fuzz/corpus/TARGET; what a run finds is kept in
# build/native-fuzz/corpus/TARGET for the next run, so the tree stays as it was.
# A failure stops nothing else but fails the script; its input is left in
# build/native-fuzz/crashes/ to add to fuzz/corpus once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-25}
shift || true
case $seconds in '' | *[!0-9]*) echo "usage: $0 [seconds-per-target] [target...]" >&2; exit 2 ;; esac

cmake --preset native-fuzz >/dev/null
cmake --build --preset native-fuzz -j2 >/dev/null

build=build/native-fuzz
if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/*_fuzz.cpp; do t=${f##*/}; targets+=("${t%_fuzz.cpp}"); done
fi
mkdir -p "$build/crashes"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

failed=()
printf '%-10s %12s %7s %7s %9s %6s\n' target executions cov ft exec/s time
for t in "${targets[@]}"; do
  corpus=$build/corpus/$t
  log=$build/fuzz-$t.log
  mkdir -p "$corpus"
  start=$SECONDS
  status=0
  "$build/fuzz/${t}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$t-" "$corpus" "fuzz/corpus/$t" >"$log" 2>&1 || status=$?
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  field() { sed -n "s|.* $1: *\([0-9]*\).*|\1|p" <<<"$last"; }
  printf '%-10s %12s %7s %7s %9s %5ss\n' "$t" "${execs:-?}" "$(field cov)" "$(field ft)" "$(field exec/s)" \
    "$((SECONDS - start))"
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    grep -E 'ERROR|check failed|Test unit written' "$log" | head -5 | sed 's/^/    /'
  fi
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "FAILED: ${failed[*]} (logs in $build/fuzz-TARGET.log)"
  exit 1
fi
echo "all ${#targets[@]} targets ran ${seconds}s each without a failure"
