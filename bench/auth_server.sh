#!/usr/bin/env bash
# Auth over a Firebird server against its floor: the same user lookup and commit straight from
# N management connections (bench_lookup), N = 1 and N = the service's pool of management
# connections (kConexoesConsultaGestao, 4), and Auth through orvwsd on the same server with wrk
# (-c32, one request per connection, user COL1). The runs take turns for ROUNDS rounds; each
# figure is the mean of its rounds. Any non-2xx answer, socket error or failed lookup fails it.
#
#   bash bench/auth_server.sh
#   env: BUILD=<build folder, default build-bench (Release)> CONNS=32 DURATION=10 ROUNDS=3
#
# Uses the test server of scripts/fbserver.sh (started when it is not running, and then stopped
# by its PID at the end).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source "$root/bench/lib.sh"
source "$root/tools/simulator/sim-lib.sh"

build=${BUILD:-$root/build-bench}
BENCH_CONNS=${CONNS:-32}
seconds=${DURATION:-10}
BENCH_DURATION=${seconds}s
ROUNDS=${ROUNDS:-3}
SOAP_PORT=${SOAP_PORT:-9392}
pool=4

bench_need_tools
echo "== build (Release, $build)"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVWS_WINDOW=OFF \
    -DORVWS_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target orvwsd orvws-catalog orvws-sconf bench_lookup >/dev/null

work=$build/bench-auth-server
SIM_DAEMON_PID=""; SIM_STARTED_SERVER=""
cleanup() {
  [ -n "$SIM_DAEMON_PID" ] && kill "$SIM_DAEMON_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -n "$SIM_STARTED_SERVER" ] && "$root/scripts/fbserver.sh" stop >/dev/null || true
}
trap cleanup EXIT

echo "== Firebird server, 4 collector users, orvwsd :$SOAP_PORT"
sim_prepare servidor "$work/soap" 4 "$SOAP_PORT" >/dev/null
sim_daemon_start "$SIM_INST" "$SOAP_PORT" "$work/soap"
bench_soap_lua "$work/auth.lua" "urn:UOrvWsIntf-IOrvWs#Auth" \
  "$BENCH_SOAP_HEAD<m:Auth xmlns:m=\"urn:UOrvWsIntf-IOrvWs\"><KeyValue xsi:type=\"xsd:string\">7be09a4f2d31e8c6a05f93d7b2e6184c</KeyValue><UserName xsi:type=\"xsd:string\">COL1</UserName></m:Auth>$BENCH_SOAP_TAIL"
curl -s -m 10 -H 'Content-Type: text/xml; charset=utf-8' -H 'SOAPAction: "urn:UOrvWsIntf-IOrvWs#Auth"' \
  --data-binary "$(sed -n "s/^wrk.body = '\(.*\)'$/\1/p" "$work/auth.lua")" \
  "http://127.0.0.1:$SOAP_PORT/soap/IOrvWs" | grep -q '<return xsi:type="xsd:boolean">true</return>' ||
  { echo "Auth did not answer true" >&2; exit 1; }

lookup() {   # connections
  "$build/bench/auth/bench_lookup" --banco "$SIM_LOCATION" --usuarios COL1,COL2,COL3,COL4 \
    --conexoes "$1" --segundos "$seconds" | tee /dev/stderr |
    sed -n 's/.*connections: \([0-9]*\)\/s/\1/p'
}
declare -A rate
bad=0
for round in $(seq "$ROUNDS"); do
  r1=$(lookup 1); rate[raw1]="${rate[raw1]:-} $r1"
  rn=$(lookup "$pool"); rate[rawn]="${rate[rawn]:-} $rn"
  bench_wrk "Auth (server) #$round" "http://127.0.0.1:$SOAP_PORT/soap/IOrvWs" "$work/auth.lua" "$SIM_DAEMON_PID"
  rate[auth]="${rate[auth]:-} $BENCH_RATE"; us="${us:-} $BENCH_US"
  bad=$((bad + BENCH_BAD))
done
sim_daemon_stop
SIM_DAEMON_PID=""

m() { bench_mean "${rate[$1]}"; }
ratio=$(bench_ratio "$(m auth)" "$(m rawn)")
verdict=$(awk -v v="$ratio" 'BEGIN {print (v >= 0.8) ? "met" : "MISSED"}')
echo
echo "| Measure | OrvWs | Floor | Ratio | Target |"
echo "|---|---|---|---|---|"
echo "| \`Auth\` over HTTP, Firebird server, $BENCH_CONNS connections: req/s (server CPU µs/req) | $(m auth) ($(bench_mean "$us")) | lookup + commit from $pool connections $(m rawn) (from 1: $(m raw1)) | $ratio | ≥ 0.80 $verdict |"
echo
echo "Machine: $(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores; $(date -u '+%Y-%m-%d %H:%M UTC') (commit $(git -C "$root" rev-parse --short HEAD)); wrk -t2 -c$BENCH_CONNS -d$BENCH_DURATION x $ROUNDS rounds."
[ "$bad" -eq 0 ] || { echo "FAILED: $bad requests were not answered with 2xx" >&2; exit 1; }
