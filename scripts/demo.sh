#!/usr/bin/env bash
# Runs OrvWs on an embedded demo database: installs the dependencies, builds (Release, in
# build-demo), makes the demo installation folder ./demo/orvalen (a small generated catalog in
# gestao.fdb and its scrambled SCONF.xml), puts that folder on PATH, checks the deployment
# (orvwsd --check prints the address collectors must use) and runs the operator window when a
# display exists ($DISPLAY), the headless daemon otherwise.
#
#   bash scripts/demo.sh              # port 8080, or ORVWS_PORT (at most 9999)
#   bash scripts/demo.sh --prepare    # only build and make the demo folder (used by screenshot.sh)
#
# The programs are copied to ./demo/orvalen/bin, beside their settings file orvws.ini; the daily
# log goes to ./demo/orvalen/logs. Stop the daemon with Ctrl+C (it writes its closing lines).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

prepare_only=0
case "${1:-}" in
  --prepare) prepare_only=1 ;;
  "") ;;
  *) echo "usage: bash scripts/demo.sh [--prepare]" >&2; exit 2 ;;
esac

port=${ORVWS_PORT:-8080}
case "$port" in
  ''|*[!0-9]*) echo "ORVWS_PORT must be a number (1-9999), not \"$port\"" >&2; exit 2 ;;
esac

echo "== dependencies"
bash scripts/setup-deps.sh --demo

echo "== build (Release, build-demo)"
cmake -S . -B build-demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVWS_BENCH=OFF >/dev/null
targets=(orvwsd orvws-catalog orvws-sconf)
available=$(cmake --build build-demo --target help)
if grep -q '^OrvWs:' <<<"$available"; then targets+=(OrvWs); fi
cmake --build build-demo -j"$(nproc)" --target "${targets[@]}"

echo "== demo installation"
inst="$root/demo/orvalen"
mkdir -p "$inst/bin"
# A fresh, small catalog at every run (seeded: the same rows each time).
rm -f "$inst/gestao.fdb"
build-demo/tools/catalog/orvws-catalog --database "$inst/gestao.fdb" --create --seed 1
build-demo/tools/sconf/orvws-sconf --out "$inst/SCONF.xml" --tipo 0 --servidor localhost \
  --gestao "$inst/gestao.fdb" --online "$inst/gestao.fdb"
for p in orvwsd OrvWs; do
  if [ -x "build-demo/app/$p/$p" ]; then cp -f "build-demo/app/$p/$p" "$inst/bin/$p"; fi
done
# The window starts listening by itself (the daemon always does).
printf '[Conf]\nNumPorta=%s\nIniAut=1\n' "$port" > "$inst/bin/orvws.ini"
export PATH="$inst:$PATH"

echo "Installation folder: $inst (on PATH); log folder: $inst/logs"
if [ "$prepare_only" = 1 ]; then exit 0; fi

# What the service will serve, and the address to give the collectors, exactly as the start
# finds them; a start that would fail says why here and the demo ends.
echo "== orvwsd --check"
"$inst/bin/orvwsd" --check || exit 1

if [ -n "${DISPLAY:-}" ] && [ -x "$inst/bin/OrvWs" ]; then
  echo "== running the operator window (close it to stop the service)"
  exec "$inst/bin/OrvWs"
fi
echo "== running the daemon (Ctrl+C to stop)"
exec "$inst/bin/orvwsd"
