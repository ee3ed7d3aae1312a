#!/usr/bin/env bash
# Installs everything the build, the tests, the benchmarks and the demo need on Debian 12 (as root).
# Idempotent: a second run only checks that the packages are present.
#
#   bash scripts/setup-deps.sh          # everything
#   bash scripts/setup-deps.sh --demo   # the packages only, not the Node.js client of the tests
set -euo pipefail

with_interop=1
case "${1:-}" in
  --demo) with_interop=0 ;;
  "") ;;
  *) echo "usage: bash scripts/setup-deps.sh [--demo]" >&2; exit 2 ;;
esac

PKGS=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libgtest-dev googletest libgmock-dev libbenchmark-dev
  libsoci-dev libboost-dev libboost-system-dev firebird-dev libfbclient2
  firebird3.0-server-core firebird3.0-utils firebird3.0-server
  unixodbc unixodbc-dev tdsodbc libsqliteodbc
  libxml2-dev libsqlite3-dev sqlite3 libssl-dev
  qt6-base-dev xvfb xauth
  clang libclang-rt-14-dev
  curl python3 python3-zeep python3-suds
  wrk nginx-light haproxy gsoap libgsoap-dev
)

missing=()
# Node.js comes with some images (from its own repository); take Debian's only where none is present.
command -v npm >/dev/null 2>&1 || PKGS+=(nodejs npm)
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # Package scripts must not try to start services (no init system here).
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d && chmod +x /usr/sbin/policy-rc.d
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Node.js SOAP client of the interoperability tests, pinned by its lock file.
# Node.js trusts only its own bundled authorities unless told otherwise; it is pointed at the
# system's store, so a network whose HTTPS needs a locally installed authority works as apt does.
root=$(cd "$(dirname "$0")/.." && pwd)
if [ "$with_interop" = 1 ] && [ -f "$root/tests/interop/package-lock.json" ] &&
   [ ! -d "$root/tests/interop/node_modules/soap" ]; then
  if [ -z "${NODE_EXTRA_CA_CERTS:-}" ] && [ -r /etc/ssl/certs/ca-certificates.crt ]; then
    export NODE_EXTRA_CA_CERTS=/etc/ssl/certs/ca-certificates.crt
  fi
  (cd "$root/tests/interop" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
fi
