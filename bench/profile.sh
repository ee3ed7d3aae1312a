#!/usr/bin/env bash
# Where each benchmark row's server time goes: the HTTP road (bench_http_server), GetPortTypeList
# and Auth (orvwsd on an embedded catalog) under the report's load (wrk -t2 -c32, one request
# per connection), each sampled with perf for the length of its run, and the samples summed by
# where they fell: the kernel, the database engine, libxml2, the C and C++ libraries, our own
# code. Prints one table.
#
#   bash bench/profile.sh
#   env: BUILD=<build folder, default build-bench (Release)> CONNS=32 DURATION=10s
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source "$root/bench/lib.sh"
source "$root/tools/simulator/sim-lib.sh"
bench_env 1
build=${BUILD:-$root/build-bench}
ROAD_PORT=${ROAD_PORT:-18390}
SOAP_PORT=${SOAP_PORT:-9392}
command -v perf >/dev/null || { echo "perf is needed (apt-get install linux-perf)" >&2; exit 1; }
bench_need_tools
cmake --build "$build" -j"$(nproc)" --target orvwsd orvws-catalog orvws-sconf bench_http_server >/dev/null

work=$build/bench-profile
rm -rf "$work"
mkdir -p "$work"
road_pid=""; SIM_DAEMON_PID=""
cleanup() {
  [ -n "$road_pid" ] && kill "$road_pid" 2>/dev/null || true
  [ -n "$SIM_DAEMON_PID" ] && kill "$SIM_DAEMON_PID" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

"$build/bench/http/bench_http_server" "$ROAD_PORT" > "$work/road.out" 2>&1 &
road_pid=$!
bench_wait_port "$ROAD_PORT"
sim_prepare embutido "$work/soap" 4 "$SOAP_PORT" >/dev/null
sim_daemon_start "$SIM_INST" "$SOAP_PORT" "$work/soap"

bench_rows_lua "$work"

# The share of a profile's samples by where they fell, as "kernel db xml libc ours other".
shares() {
  perf report -i "$1" --no-children --sort dso --stdio 2>/dev/null | awk '
    /^ *[0-9.]+%/ {
      p = $1; sub("%", "", p); d = $2
      if (d ~ /kernel/) k += p
      else if (d ~ /Engine|fbclient|firebird|libicu/) db += p
      else if (d ~ /libxml2/) x += p
      else if (d ~ /^libc|^libm|ld-linux|libstdc|libgcc/) c += p
      else if (d ~ /orvwsd|bench_http_server/) o += p
      else r += p
    }
    END { printf "%.0f%% | %.0f%% | %.0f%% | %.0f%% | %.0f%% | %.0f%%", k, db, x, c, o, r }'
}

# row port path lua pid
profile() {
  local secs=${BENCH_DURATION%s}
  perf record -q -F 2999 -g -p "$5" -o "$work/$1.perf" -- sleep "$secs" >/dev/null 2>&1 &
  local perf_pid=$!
  wrk -t2 -c"$BENCH_CONNS" -d"$BENCH_DURATION" -s "$4" "http://127.0.0.1:$2$3" > "$work/$1.wrk"
  wait "$perf_pid" || true
  echo "| $1 | $(awk '/Requests\/sec/ {printf "%.0f", $2}' "$work/$1.wrk") | $(shares "$work/$1.perf") |"
}

echo "== perf -F 2999 -g on the server, wrk -t2 -c$BENCH_CONNS -d$BENCH_DURATION, Connection: close"
echo
echo "| Row | req/s | kernel | database engine | libxml2 | C/C++ libraries | ours | other |"
echo "|---|---|---|---|---|---|---|---|"
profile "HTTP road" "$ROAD_PORT" /soap/IOrvWs "$work/road.lua" "$road_pid"
profile "GetPortTypeList" "$SOAP_PORT" /soap/IWSDLPublish "$work/ports.lua" "$SIM_DAEMON_PID"
profile "Auth" "$SOAP_PORT" /soap/IOrvWs "$work/auth.lua" "$SIM_DAEMON_PID"
echo
echo "Profiles kept in $work (perf report -i <file>)."
