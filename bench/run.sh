#!/usr/bin/env bash
# Runs every benchmark program of a build: bench/run.sh BUILD_DIR
set -euo pipefail
build=${1:-build-release}
status=0
for program in "$build"/bin/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" --benchmark_min_time=0.5 || status=1
done
# Side-by-side comparisons with other tools, when present.
for script in "$(dirname "$0")"/compare-*.sh; do
  [ -x "$script" ] || continue
  echo "== $(basename "$script")"
  "$script" "$build" || status=1
done
exit $status
