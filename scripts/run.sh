#!/usr/bin/env bash
# The project's main job: the gateway, headless, on 127.0.0.1 port 1007 (PORT= overrides) with the demo
# SQLite database and the example middle tier, until Ctrl-C.
#   scripts/run.sh [--ui] [build folder]      (default build/release; `make run` passes its own)
# With --ui (`make run-ui`) the gateway shows its terminal forms instead: the start-up form filled with the
# same demo settings, then, after "Run Server", the monitor window until F10 or Ctrl-Q.
# The demo database examples/demo/demo.db is created from examples/demo/demo-db.sql when absent. The middle
# tier is registered in a class registry file inside the build folder, so nothing outside the checkout is
# touched; the settings file there stays empty in headless mode, since every setting is given by a flag (the
# forms save what "Run Server" runs with there).
set -euo pipefail
cd "$(dirname "$0")/.."
mode=--headless
if [ "${1:-}" = --ui ]; then
  mode=
  shift
fi
build=${1:-build/release}
port=${PORT:-1007}
program="$build/bin/vantrel"
middle_tier="$build/lib/libmtier.so"
for needed in "$program" "$middle_tier"; do
  [ -e "$needed" ] || { echo "run: $needed is missing; build first (make run does)" >&2; exit 1; }
done

database="$PWD/examples/demo/demo.db"
if [ ! -f "$database" ]; then
  command -v sqlite3 >/dev/null || { echo "run: the sqlite3 program is needed to create $database" >&2; exit 1; }
  # Built beside and renamed, so an interrupted run never leaves half a database behind.
  rm -f "$database.new"
  sqlite3 "$database.new" < examples/demo/demo-db.sql
  mv "$database.new" "$database"
  echo "run: created the demo database $database"
fi

registry="$PWD/$build/classes.conf"
echo "Mtier.Interface = $(realpath "$middle_tier") : mtier_create_object" > "$registry"

if [ -n "$mode" ]; then
  echo "run: vantrel on 127.0.0.1 port $port with $database; Ctrl-C stops it"
else
  [ -t 0 ] && [ -t 1 ] || { echo "run: the forms need a terminal" >&2; exit 1; }
fi
exec env CLASS_REGISTRY="$registry" "$program" $mode --settings "$PWD/$build/vantrel-settings.ini" \
  --provider SQLite --connect "Data Source=$database" --ip 127.0.0.1 --port "$port" --cursor-location 3
