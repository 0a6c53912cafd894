#!/usr/bin/env bash
# The project's main job: the gateway when it has been built; until then, say what it will start and show
# the pieces that exist.
set -euo pipefail
build=${1:-build/release}
if [ -x "$build/bin/Vantrel" ]; then
  exec "$build/bin/Vantrel" "${@:2}"
fi
echo "The gateway (Vantrel) is not built yet. When it is, 'make run' starts it: it asks for the database"
echo "provider, connection string, address and port (default 127.0.0.1:1007), then serves clients."
if [ -x "$build/bin/skelda-demo" ]; then
  echo
  echo "Meanwhile, the database component on a demo database:"
  exec "$build/bin/skelda-demo"
fi
