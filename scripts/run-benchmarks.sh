#!/usr/bin/env bash
# Runs every benchmark program that was built, one after the other (they must not compete for the cores).
set -euo pipefail
build=${1:-build/release}
status=0
for program in "$build"/bin/bench_*; do
  [ -x "$program" ] || continue
  echo "=== $(basename "$program")"
  "$program" || status=1
done
exit $status
