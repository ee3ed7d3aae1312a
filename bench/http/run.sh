#!/usr/bin/env bash
# One request per connection on loopback: wrk -t2 with "Connection: close" POSTing a small SOAP
# envelope, against bench_http_server (the whole request road) and against nginx serving the
# same answer (keepalive_timeout 0), in the same run. Prints the rates, latency percentiles,
# the ratio and the listen-queue drops of each server. bench/report.sh runs this comparison
# beside the SOAP operations and GetSQL.
#
#   bench/http/run.sh [build-dir]          (default: build; the target is built if needed)
#   env: CONNS=32 DURATION=10s ROUNDS=2 BACKLOG=<listener backlog, default the built-in>
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/bench/lib.sh"
build=${1:-$root/build}
bench_env 2
BACKLOG=${BACKLOG:-}
ORV_PORT=${ORV_PORT:-18380}

bench_need_tools
cmake --build "$build" --target bench_http_server >/dev/null
server_bin="$build/bench/http/bench_http_server"

tmp=$(mktemp -d)
orv_pid=""; BENCH_NGX_PID=""
cleanup() {
  [ -n "$orv_pid" ] && kill "$orv_pid" 2>/dev/null || true
  [ -n "$BENCH_NGX_PID" ] && kill "$BENCH_NGX_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

"$server_bin" --body > "$tmp/body.xml"
bench_soap_lua "$tmp/post.lua" "urn:UOrvWsIntf-IOrvWs#Exec" \
  "$BENCH_SOAP_HEAD<q1:Exec xmlns:q1=\"urn:UOrvWsIntf-IOrvWs\"><Value xsi:type=\"xsd:string\">UPDATE TAB_PESQUISA SET VAL_PRECO = 1 WHERE COD_PESQUISA = 1</Value></q1:Exec>$BENCH_SOAP_TAIL"

"$server_bin" "$ORV_PORT" $BACKLOG > "$tmp/orv.out" 2>&1 &
orv_pid=$!
bench_nginx_start "$tmp/ngx" "$NGX_PORT" "$tmp/body.xml"
bench_wait_port "$ORV_PORT"
echo "ours: $(cat "$tmp/orv.out")"

declare -A rate
for round in $(seq "$ROUNDS"); do
  bench_wrk "orvws round $round" "http://127.0.0.1:$ORV_PORT/soap/IOrvWs" "$tmp/post.lua" "$orv_pid"
  rate[orvws]="${rate[orvws]:-} $BENCH_RATE"
  bench_wrk "nginx round $round" "http://127.0.0.1:$NGX_PORT/soap/IOrvWs" "$tmp/post.lua" "$BENCH_NGX_PID"
  rate[nginx]="${rate[nginx]:-} $BENCH_RATE"
done

o=$(bench_mean "${rate[orvws]}"); n=$(bench_mean "${rate[nginx]}")
echo "mean req/s: orvws $o, nginx $n, ratio $(bench_ratio "$o" "$n") (target >= 0.80)"
