#!/usr/bin/env bash
# Runs a command with a throwaway PostgreSQL cluster on 127.0.0.1 and TEST_PG_CONNINFO pointing at it.
#
#   scripts/with-postgres.sh <command> [args...]
#
# The cluster lives in a temporary directory owned by an unprivileged user (initdb refuses root), listens on
# a free port on 127.0.0.1 only, and is stopped and removed when the command ends, whatever its status.
# PG_MAX_CONNECTIONS sets the server's max_connections (default 200; bench_gateway opens 256 at once).
# Without a PostgreSQL installation the command runs without TEST_PG_CONNINFO and those tests skip.
set -euo pipefail

bindir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [ -z "$bindir" ] || [ ! -x "$bindir/initdb" ]; then
  echo "with-postgres: no PostgreSQL server found; PostgreSQL tests will be skipped" >&2
  exec "$@"
fi

as_owner() { "$@"; }
owner=$(id -un)
if [ "$(id -u)" = 0 ]; then
  owner=postgres
  id "$owner" >/dev/null 2>&1 || useradd --system --no-create-home --shell /usr/sbin/nologin "$owner"
  as_owner() { runuser -u "$owner" -- "$@"; }
fi

dir=$(mktemp -d /tmp/pgtest.XXXXXX)
chown "$owner" "$dir"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])' 2>/dev/null \
       || echo $(( 20000 + RANDOM % 20000 )))

cleanup() {
  as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap cleanup EXIT

as_owner "$bindir/initdb" -D "$dir/data" -U tester --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 \
  || { cat "$dir/initdb.log" >&2; exit 1; }
as_owner "$bindir/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
  -o "-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=off -c max_connections=${PG_MAX_CONNECTIONS:-200}" start >/dev/null \
  || { cat "$dir/server.log" >&2; exit 1; }
as_owner "$bindir/createdb" -h 127.0.0.1 -p "$port" -U tester testdb

export TEST_PG_CONNINFO="host=127.0.0.1 port=$port dbname=testdb user=tester"
set +e
"$@"
status=$?
set -e
exit $status
