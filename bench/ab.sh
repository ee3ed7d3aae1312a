#!/usr/bin/env bash
# Two builds side by side: the HTTP road, GetPortTypeList and Auth (embedded catalog) of build A
# and build B, with nginx as the floor, the runs taking turns for ROUNDS rounds, so that the
# machine's drift touches both alike. For a change measured before it lands:
#
#   git worktree add /tmp/before <commit> && cmake -S /tmp/before -B /tmp/before/build-bench \
#     -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVWS_WINDOW=OFF -DORVWS_BENCH=ON &&
#     cmake --build /tmp/before/build-bench --target orvwsd orvws-catalog orvws-sconf bench_http_server
#   bash bench/ab.sh /tmp/before/build-bench build-bench
#
#   env: ROUNDS=3 CONNS=32 DURATION=8s
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source "$root/bench/lib.sh"
source "$root/tools/simulator/sim-lib.sh"
[ $# -eq 2 ] || { echo "usage: bash bench/ab.sh BUILD_A BUILD_B" >&2; exit 2; }
A=$(cd "$1" && pwd); B=$(cd "$2" && pwd)
DURATION=${DURATION:-8s}
bench_env 3
BENCH_PAUSE=1
bench_need_tools
work=$B/bench-ab
rm -rf "$work"; mkdir -p "$work"
bench_rows_lua "$work"
"$A/bench/http/bench_http_server" --body > "$work/body.xml"
declare -A daemon soap road road_pid
BENCH_NGX_PID=""
cleanup() {
  kill "$BENCH_NGX_PID" "${daemon[@]}" "${road_pid[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
bench_nginx_start "$work/ngx" "$NGX_PORT" "$work/body.xml"
i=0
for side in A B; do
  build=${!side}
  soap[$side]=$((9401 + i)); road[$side]=$((18401 + i)); i=$((i + 1))
  sim_prepare embutido "$work/soap$side" 4 "${soap[$side]}" >/dev/null
  sim_daemon_start "$SIM_INST" "${soap[$side]}" "$work/soap$side"
  daemon[$side]=$SIM_DAEMON_PID
  "$build/bench/http/bench_http_server" "${road[$side]}" > "$work/road$side.out" 2>&1 &
  road_pid[$side]=$!
  bench_wait_port "${road[$side]}"
done
echo "== A: $A"
echo "== B: $B"
for r in $(seq "$ROUNDS"); do
  bench_wrk "nginx #$r" "http://127.0.0.1:$NGX_PORT/soap/IOrvWs" "$work/road.lua" "$BENCH_NGX_PID"
  for side in A B; do
    bench_wrk "road $side #$r" "http://127.0.0.1:${road[$side]}/soap/IOrvWs" "$work/road.lua" "${road_pid[$side]}"
    bench_wrk "ports $side #$r" "http://127.0.0.1:${soap[$side]}/soap/IWSDLPublish" "$work/ports.lua" "${daemon[$side]}"
    bench_wrk "auth $side #$r" "http://127.0.0.1:${soap[$side]}/soap/IOrvWs" "$work/auth.lua" "${daemon[$side]}"
  done
done
