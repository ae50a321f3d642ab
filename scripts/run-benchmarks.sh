#!/usr/bin/env bash
# Runs every benchmark program of a build folder, one after the other.
set -euo pipefail
build_dir=${1:-build}
status=0
for program in "$build_dir"/bench/*_bench; do
  [ -x "$program" ] || continue
  echo "== $(basename "$program")"
  "$program" --benchmark_counters_tabular=true || status=1
done
exit $status
