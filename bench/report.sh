#!/usr/bin/env bash
# The benchmark report: the service's speed and memory figures, each as a ratio to its floor,
# all measured in one run on this machine.
#   - HTTP road: bench_http_server (listener, request handler, web module, a fixed SOAP answer)
#     against nginx answering the same bytes, one request per connection;
#   - GetPortTypeList over HTTP (orvwsd, no database) against the same nginx, and against the
#     peer toolkit: a gSOAP server generated from the daemon's own WSDL of IWSDLPublish
#     (bench/gsoap), which the same request is sent to;
#   - Auth over HTTP (orvwsd on an embedded Firebird catalog, one log line each) against nginx;
#   - GetSQL against fetching the same rows (bench_getsql), and its peak heap against the size
#     of the script it returns;
#   - the daemon's peak resident memory over all its runs.
# The wrk runs take turns (nginx, road, GetPortTypeList, Auth, gSOAP, in an order that turns by
# one each round) for ROUNDS rounds, so that the machine's drift touches them all alike; each
# figure is the mean of its rounds. Any non-2xx
# answer or socket error, or an Auth count that the log does not match, fails the report.
#
#   bash bench/report.sh [--write]        --write: also puts the table in docs/bench.md
#   env: BUILD=<build folder, default build-bench (Release)> CONNS=32 DURATION=10s ROUNDS=4
#        GETSQL_ARGS=<extra bench_getsql options, e.g. "--produtos 5000">
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source "$root/bench/lib.sh"
source "$root/tools/simulator/sim-lib.sh"

write=0
case "${1:-}" in
  --write) write=1 ;;
  "") ;;
  *) echo "usage: bash bench/report.sh [--write]" >&2; exit 2 ;;
esac
build=${BUILD:-$root/build-bench}
bench_env 4
GETSQL_ARGS=${GETSQL_ARGS:-}
ROAD_PORT=${ROAD_PORT:-18380}
SOAP_PORT=${SOAP_PORT:-9391}   # the service takes ports up to 9999
GSOAP_PORT=${GSOAP_PORT:-18382}

bench_need_tools gsoap
echo "== build (Release, $build)"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVWS_WINDOW=OFF \
    -DORVWS_BENCH=ON >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target orvwsd orvws-catalog orvws-sconf \
  bench_http_server bench_getsql >/dev/null

work=$build/bench-report
rm -rf "$work"
mkdir -p "$work"
road_pid=""; gsoap_pid=""; BENCH_NGX_PID=""; SIM_DAEMON_PID=""
cleanup() {
  [ -n "$road_pid" ] && kill "$road_pid" 2>/dev/null || true
  [ -n "$gsoap_pid" ] && kill "$gsoap_pid" 2>/dev/null || true
  [ -n "$BENCH_NGX_PID" ] && kill "$BENCH_NGX_PID" 2>/dev/null || true
  [ -n "$SIM_DAEMON_PID" ] && kill "$SIM_DAEMON_PID" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

echo "== servers: nginx :$NGX_PORT, HTTP road :$ROAD_PORT, orvwsd :$SOAP_PORT, gSOAP :$GSOAP_PORT"
"$build/bench/http/bench_http_server" --body > "$work/body.xml"
bench_nginx_start "$work/ngx" "$NGX_PORT" "$work/body.xml"
"$build/bench/http/bench_http_server" "$ROAD_PORT" > "$work/road.out" 2>&1 &
road_pid=$!
bench_wait_port "$ROAD_PORT"
# A small catalog with collector users COL1..COL4 on an embedded database (sim-lib).
sim_prepare embutido "$work/soap" 4 "$SOAP_PORT" >/dev/null
sim_daemon_start "$SIM_INST" "$SOAP_PORT" "$work/soap"
# The peer toolkit's server, generated from the WSDL the daemon publishes (bench/gsoap); copied
# only when it changed, so that an unchanged WSDL is not generated and compiled again.
curl -sf -m 10 -o "$work/IWSDLPublish.wsdl" "http://127.0.0.1:$SOAP_PORT/wsdl/IWSDLPublish" ||
  { echo "orvwsd did not give the WSDL of IWSDLPublish" >&2; exit 1; }
mkdir -p "$build/bench/gsoap"
cmake -E copy_if_different "$work/IWSDLPublish.wsdl" "$build/bench/gsoap/IWSDLPublish.wsdl"
# A build folder configured before gSOAP was installed has no such target yet.
cmake --build "$build" --target help | grep bench_gsoap_server >/dev/null || cmake "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target bench_gsoap_server >/dev/null
"$build/bench/gsoap/bench_gsoap_server" "$GSOAP_PORT" > "$work/gsoap.out" 2>&1 &
gsoap_pid=$!
bench_wait_port "$GSOAP_PORT"

bench_rows_lua "$work"

# Each answer is what it should be before anything is timed.
soap_call() {   # lua-file port path
  local action body
  action=$(sed -n 's/^wrk.headers\["SOAPAction"\] = "\\"\(.*\)\\""$/\1/p' "$1")
  body=$(sed -n "s/^wrk.body = '\(.*\)'$/\1/p" "$1")
  curl -s -m 10 -H 'Content-Type: text/xml; charset=utf-8' -H "SOAPAction: \"$action\"" \
    --data-binary "$body" "http://127.0.0.1:$2$3"
}
soap_call "$work/ports.lua" "$SOAP_PORT" /soap/IWSDLPublish |
  grep -q '<item>IWSDLPublish</item><item>IOrvWs</item>' ||
  { echo "GetPortTypeList did not answer the two port types" >&2; exit 1; }
soap_call "$work/ports.lua" "$GSOAP_PORT" /soap/IWSDLPublish |
  grep -q '<item>IWSDLPublish</item><item>IOrvWs</item>' ||
  { echo "the gSOAP server's GetPortTypeList did not answer the two port types" >&2; exit 1; }
soap_call "$work/auth.lua" "$SOAP_PORT" /soap/IOrvWs | grep -q '<return xsi:type="xsd:boolean">true</return>' ||
  { echo "Auth did not answer true" >&2; exit 1; }

log_file() { ls "$SIM_INST"/logs/*.log | tail -1; }
auth_lines() { grep -c 'como COL1) autenticado com sucesso!' "$(log_file)" || true; }
auth_lines_before=$(auth_lines)

echo "== wrk -t2 -c$BENCH_CONNS -d$BENCH_DURATION, Connection: close, $ROUNDS rounds"
declare -A rate p50 p99 us
bad=0; auth_total=0
add() {   # key
  rate[$1]="${rate[$1]:-} $BENCH_RATE"; p50[$1]="${p50[$1]:-} $BENCH_P50"
  p99[$1]="${p99[$1]:-} $BENCH_P99"; us[$1]="${us[$1]:-} $BENCH_US"
  bad=$((bad + BENCH_BAD))
}
# One run of a scenario; the order turns by one each round, so that what builds up on the
# machine over a run (sockets in TIME_WAIT, the reuse of the client's ports) weighs on all
# scenarios alike.
scenario() {   # name round
  case "$1" in
    floor) bench_wrk "nginx        #$2" "http://127.0.0.1:$NGX_PORT/soap/IOrvWs" "$work/road.lua" "$BENCH_NGX_PID" ;;
    road) bench_wrk "HTTP road    #$2" "http://127.0.0.1:$ROAD_PORT/soap/IOrvWs" "$work/road.lua" "$road_pid" ;;
    ports) bench_wrk "PortTypeList #$2" "http://127.0.0.1:$SOAP_PORT/soap/IWSDLPublish" "$work/ports.lua" "$SIM_DAEMON_PID" ;;
    auth) bench_wrk "Auth         #$2" "http://127.0.0.1:$SOAP_PORT/soap/IOrvWs" "$work/auth.lua" "$SIM_DAEMON_PID"
          auth_total=$((auth_total + BENCH_TOTAL)) ;;
    gsoap) bench_wrk "gSOAP ports  #$2" "http://127.0.0.1:$GSOAP_PORT/soap/IWSDLPublish" "$work/ports.lua" "$gsoap_pid" ;;
  esac
  add "$1"
}
order=(floor road ports auth gsoap)
for round in $(seq "$ROUNDS"); do
  for i in "${!order[@]}"; do scenario "${order[(i + round - 1) % ${#order[@]}]}" "$round"; done
done
kill "$gsoap_pid" 2>/dev/null || true
wait "$gsoap_pid" 2>/dev/null || true
gsoap_pid=""
peak_rss_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$SIM_DAEMON_PID/status")
sim_daemon_stop
SIM_DAEMON_PID=""
auth_logged=$(( $(auth_lines) - auth_lines_before ))
# wrk counts the answers it read; requests still in flight when a run ends were served and
# logged but not counted, at most one per connection and round.
auth_ok=1
if [ "$auth_logged" -lt "$auth_total" ] || [ "$auth_logged" -gt $((auth_total + BENCH_CONNS * ROUNDS)) ]; then
  auth_ok=0
fi
served=$(sed -n 's/.*Aplicação recebeu \([0-9]*\) requisição.*/\1/p' "$(log_file)" | tail -1)

echo "== GetSQL against its fetch floor (bench_getsql $GETSQL_ARGS)"
# shellcheck disable=SC2086
getsql_out=$("$build/bench/getsql/bench_getsql" $GETSQL_ARGS)
echo "$getsql_out"
catalog_line=$(grep '^catalog:' <<<"$getsql_out" | sed 's/ generated in.*//; s/^catalog: //')
script_mb=$(sed -n 's/.*script: \([0-9.]*\) MB.*/\1/p' <<<"$getsql_out")
fetch_ms=$(sed -n 's/^fetch (floor): median \([0-9.]*\) ms.*/\1/p' <<<"$getsql_out")
getsql_ms=$(sed -n 's/^GetSQL: *median \([0-9.]*\) ms.*/\1/p' <<<"$getsql_out")
getsql_peak=$(sed -n 's/^GetSQL: .*peak heap \([0-9.]*\) MB.*/\1/p' <<<"$getsql_out")
time_ratio=$(sed -n 's/^time ratio GetSQL\/fetch: \([0-9.]*\).*/\1/p' <<<"$getsql_out")
mem_ratio=$(sed -n 's/^peak heap \/ script size: \([0-9.]*\).*/\1/p' <<<"$getsql_out")

# ---- The table ------------------------------------------------------------------------------
m() { bench_mean "${rate[$1]}"; }
# lat KEY: "p50 / p99", the means of the rounds in ms.
lat() { echo "$(bench_mean "${p50[$1]}" 1) / $(bench_mean "${p99[$1]}" 1)"; }
floor=$(m floor)
verdict() {   # value target-op target
  awk -v v="$1" -v t="$3" -v op="$2" 'BEGIN {ok = (op == ">=") ? (v >= t) : (v <= t);
        printf "%s", ok ? "met" : "MISSED"}'
}
road_r=$(bench_ratio "$(m road)" "$floor")
ports_r=$(bench_ratio "$(m ports)" "$floor")
auth_r=$(bench_ratio "$(m auth)" "$floor")
gsoap_r=$(bench_ratio "$(m ports)" "$(m gsoap)")
# The lowest and highest of the rounds' own ratios (each round's rate against the same round's
# nginx, or the same round's run of KEY2): how far the machine's drift moves a ratio. The
# verdict stays on the means.
spread() {   # key [key2]
  paste <(tr ' ' '\n' <<<"${rate[$1]}" | awk NF) <(tr ' ' '\n' <<<"${rate[${2:-floor}]}" | awk NF) |
    awk 'NR == 1 {lo = hi = $1 / $2} {r = $1 / $2; if (r < lo) lo = r; if (r > hi) hi = r}
         END {printf "rounds %.2f-%.2f", lo, hi}'
}
table=$(cat <<TABLE
| Measure | OrvWs | Floor | Ratio | Target |
|---|---|---|---|---|
| HTTP road, one request per connection: req/s (p50 / p99 ms; server CPU µs/req) | $(m road) ($(lat road); $(bench_mean "${us[road]}")) | nginx $floor ($(lat floor); $(bench_mean "${us[floor]}")) | $road_r ($(spread road)) | ≥ 0.85 $(verdict "$road_r" ">=" 0.85) |
| \`GetPortTypeList\` over HTTP, no database: req/s (p50 / p99 ms; µs/req) | $(m ports) ($(lat ports); $(bench_mean "${us[ports]}")) | nginx $floor | $ports_r ($(spread ports)) | ≥ 0.75 $(verdict "$ports_r" ">=" 0.75) |
| \`GetPortTypeList\` against a gSOAP server of the same WSDL: req/s (p50 / p99 ms; µs/req) | $(m ports) | gSOAP $(m gsoap) ($(lat gsoap); $(bench_mean "${us[gsoap]}")) | $gsoap_r ($(spread ports gsoap)) | ≥ 1.80 $(verdict "$gsoap_r" ">=" 1.80) |
| \`Auth\` over HTTP, embedded Firebird, one log line: req/s (p50 / p99 ms; µs/req) | $(m auth) ($(lat auth); $(bench_mean "${us[auth]}")) | nginx $floor | $auth_r ($(spread auth)) | ≥ 0.45 $(verdict "$auth_r" ">=" 0.45) |
| \`GetSQL\` time, $catalog_line ($script_mb MB script): ms | $getsql_ms | fetch of the same rows $fetch_ms | $time_ratio | ≤ 1.15 $(verdict "$time_ratio" "<=" 1.15) |
| \`GetSQL\` peak heap of the whole answer (script, envelope, HTTP pieces): MB | $getsql_peak | script size $script_mb | $mem_ratio | ≤ 2.00 $(verdict "$mem_ratio" "<=" 2.00) |
| orvwsd peak resident memory after ${served:-?} requests: MiB | $(awk -v k="$peak_rss_kb" 'BEGIN {printf "%.1f", k / 1024}') | | | |
TABLE
)
machine="$(lscpu | sed -n 's/^Model name: *//p' | head -1), $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(. /etc/os-release; echo "$PRETTY_NAME"), Linux $(uname -r)"
stamp="$(date -u '+%Y-%m-%d %H:%M UTC') (commit $(git -C "$root" rev-parse --short HEAD)$(
  git -C "$root" diff --quiet HEAD -- src app bench tools 2>/dev/null || echo ' with changes'))"
echo
echo "$table"
echo
echo "Machine: $machine; $stamp; wrk -t2 -c$BENCH_CONNS -d$BENCH_DURATION x $ROUNDS rounds."
echo "Auth answers counted by wrk: $auth_total; Auth lines in the log: $auth_logged; non-2xx answers or socket errors: $bad"

status=0
[ "$bad" -eq 0 ] || { echo "FAILED: $bad requests were not answered with 2xx" >&2; status=1; }
[ "$auth_ok" -eq 1 ] || { echo "FAILED: the log's Auth lines do not match the answers" >&2; status=1; }

if [ "$write" = 1 ]; then
  doc=$root/docs/bench.md
  block=$(cat <<BLOCK
<!-- report:begin (written by bash bench/report.sh --write; edit outside these markers) -->
Made by \`bash bench/report.sh --write\` on $stamp.
Machine: $machine. wrk -t2 -c$BENCH_CONNS -d$BENCH_DURATION, \`Connection: close\`, $ROUNDS
rounds taken in turns; each figure is the mean of its rounds (the ratio also as the lowest
and highest of the rounds' own ratios, each against the same round's nginx).

$table

Auth answers counted by wrk: $auth_total; Auth lines in the log: $auth_logged (requests still
in flight when a run ends are served and logged but not counted); non-2xx answers or socket
errors: $bad.
<!-- report:end -->
BLOCK
)
  if [ -f "$doc" ] && grep -q '<!-- report:begin' "$doc"; then
    awk -v block="$block" '/<!-- report:begin/ {print block; skip = 1} !skip {print}
                           /<!-- report:end -->/ {skip = 0}' "$doc" > "$doc.new"
    mv "$doc.new" "$doc"
  else
    printf '# Benchmarks\n\n%s\n' "$block" > "$doc"
  fi
  echo "written: $doc"
fi
exit "$status"
