#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need, when run as root and some are
# missing. Without root it only reports what is missing, so a developer's machine is never changed unasked.
set -euo pipefail

packages=(g++ make cmake pkg-config googletest libgtest-dev libgmock-dev libbenchmark-dev
          libsqlite3-dev sqlite3 libpq-dev libinih-dev postgresql libncurses-dev libreadline-dev python3
          locales   # localedef sources: the tests build comma-decimal and Turkish locales
          tmux      # the end-to-end test of the gateway's terminal forms
          stunnel4 openssl    # the test of the README's TLS tunnel
          clang libclang-rt-dev)  # the fuzz targets: clang and its libFuzzer and sanitizer run times

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "install-deps: missing packages: ${missing[*]} (run as root to install them)" >&2
  exit 0
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq </dev/null
apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
# The server package starts a cluster of its own; the tests use a throwaway one, so it is not needed.
if command -v pg_lsclusters >/dev/null 2>&1; then
  pg_lsclusters -h 2>/dev/null | awk '{print $1, $2}' | while read -r ver name; do
    pg_ctlcluster "$ver" "$name" stop 2>/dev/null || true
  done
fi
