#!/usr/bin/env bash
# Runs every benchmark program that was built, one after the other (they must not compete for the cores),
# with a throwaway PostgreSQL server for the comparisons that need one (unless TEST_PG_CONNINFO names one).
set -euo pipefail
build=${1:-build/release}
if [ -z "${TEST_PG_CONNINFO:-}" ] && [ -z "${RUN_BENCHMARKS_UNDER_PG:-}" ]; then
  export RUN_BENCHMARKS_UNDER_PG=1 PG_MAX_CONNECTIONS=300
  exec "$(dirname "$0")/with-postgres.sh" "$0" "$@"
fi
status=0
for program in "$build"/bin/bench_*; do
  [ -x "$program" ] || continue
  echo "=== $(basename "$program")"
  "$program" || status=1
done
exit $status
