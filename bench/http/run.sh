#!/usr/bin/env bash
# One request per connection on loopback: wrk -t2 with "Connection: close" POSTing a small SOAP
# envelope, against bench_http_server (the whole request road) and against nginx serving the
# same answer (keepalive_timeout 0), in the same run. Prints the rates, latency percentiles,
# the ratio and the listen-queue drops of each server.
#
#   bench/http/run.sh [build-dir]          (default: build; the target is built if needed)
#   env: CONNS=32 DURATION=10s ROUNDS=2 BACKLOG=<listener backlog, default the built-in>
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
CONNS=${CONNS:-32}
DURATION=${DURATION:-10s}
ROUNDS=${ROUNDS:-2}
BACKLOG=${BACKLOG:-}
ORV_PORT=${ORV_PORT:-18380}
NGX_PORT=${NGX_PORT:-18381}

command -v wrk >/dev/null && command -v nginx >/dev/null || {
  echo "wrk and nginx are needed (scripts/setup-deps.sh installs them)" >&2; exit 1; }
cmake --build "$build" --target bench_http_server >/dev/null
server_bin="$build/bench/http/bench_http_server"

tmp=$(mktemp -d)
orv_pid=""; ngx_pid=""
cleanup() {
  [ -n "$orv_pid" ] && kill "$orv_pid" 2>/dev/null || true
  [ -n "$ngx_pid" ] && kill "$ngx_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

"$server_bin" --body > "$tmp/body.xml"
body=$(cat "$tmp/body.xml")
case "$body" in *"'"*) echo "the answer must not contain an apostrophe" >&2; exit 1;; esac

mkdir -p "$tmp/ngx/logs" "$tmp/ngx/tmp"
cat > "$tmp/ngx/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $tmp/ngx/nginx.pid;
error_log $tmp/ngx/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $tmp/ngx/tmp/body;
  proxy_temp_path $tmp/ngx/tmp/proxy;
  fastcgi_temp_path $tmp/ngx/tmp/fastcgi;
  uwsgi_temp_path $tmp/ngx/tmp/uwsgi;
  scgi_temp_path $tmp/ngx/tmp/scgi;
  server {
    listen 127.0.0.1:$NGX_PORT backlog=511;
    location / {
      default_type 'text/xml; charset=utf-8';
      return 200 '$body';
    }
  }
}
CONF

cat > "$tmp/post.lua" <<'LUA'
wrk.method = "POST"
wrk.headers["Content-Type"] = "text/xml; charset=utf-8"
wrk.headers["SOAPAction"] = "\"urn:UOrvWsIntf-IOrvWs#Exec\""
wrk.headers["Connection"] = "close"
wrk.body = '<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema"><soap:Body soap:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><q1:Exec xmlns:q1="urn:UOrvWsIntf-IOrvWs"><Value xsi:type="xsd:string">UPDATE TAB_PESQUISA SET VAL_PRECO = 1 WHERE COD_PESQUISA = 1</Value></q1:Exec></soap:Body></soap:Envelope>'
LUA

"$server_bin" "$ORV_PORT" $BACKLOG > "$tmp/orv.out" 2>&1 &
orv_pid=$!
nginx -p "$tmp/ngx" -c "$tmp/ngx/nginx.conf" 2> "$tmp/ngx/start.err" &
ngx_pid=$!
for port in "$ORV_PORT" "$NGX_PORT"; do
  for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done
done
echo "ours: $(cat "$tmp/orv.out")"

# Listen-queue drops of one listening socket (ss -ltnm, field d of skmem).
drops() { ss -ltnmH "sport = :$1" 2>/dev/null | grep -o 'd[0-9]*)' | tr -dc '0-9'; echo; }
overflows() { nstat -az TcpExtListenOverflows 2>/dev/null | awk '/ListenOverflows/ {print $2}'; }

# CPU time (clock ticks) of a process and its children (nginx's workers).
cpu_ticks() {
  local total=0 p
  for p in "$1" $(pgrep -P "$1" || true); do
    [ -r "/proc/$p/stat" ] || continue
    total=$(( total + $(awk '{print $14 + $15}' "/proc/$p/stat") ))
  done
  echo "$total"
}
hz=$(getconf CLK_TCK)

declare -A rate
run() {   # name port round pid
  local before after o_before o_after out c_before c_after
  before=$(drops "$2"); o_before=$(overflows); c_before=$(cpu_ticks "$4")
  out=$(wrk -t2 -c"$CONNS" -d"$DURATION" --latency -s "$tmp/post.lua" "http://127.0.0.1:$2/soap/IOrvWs")
  after=$(drops "$2"); o_after=$(overflows); c_after=$(cpu_ticks "$4")
  local r l50 l99 errs
  r=$(awk '/Requests\/sec/ {print $2}' <<<"$out")
  l50=$(awk '$1=="50%" {print $2}' <<<"$out")
  l99=$(awk '$1=="99%" {print $2}' <<<"$out")
  errs=$(grep -E 'Socket errors|Non-2xx' <<<"$out" | tr '\n' ' ' || true)
  local total us
  total=$(awk '/requests in/ {print $1}' <<<"$out")
  us=$(awk -v t="$(( c_after - c_before ))" -v n="$total" -v hz="$hz" \
       'BEGIN {if (n > 0) printf "%.0f", t / hz * 1e6 / n; else print "?"}')
  printf '%-6s round %d: %9s req/s  p50 %-8s p99 %-8s server CPU %s us/req  listen drops %s (host overflows +%s) %s\n' \
    "$1" "$3" "$r" "$l50" "$l99" "$us" "$(( ${after:-0} - ${before:-0} ))" \
    "$(( ${o_after:-0} - ${o_before:-0} ))" "$errs"
  rate[$1]="${rate[$1]:-} $r"
  sleep 2   # let TIME_WAIT sockets of the run drain a little
}

for round in $(seq "$ROUNDS"); do
  run orvws "$ORV_PORT" "$round" "$orv_pid"
  run nginx "$NGX_PORT" "$round" "$ngx_pid"
done

mean() { tr ' ' '\n' <<<"$1" | awk 'NF {s+=$1; n++} END {printf "%.0f", s/n}'; }
o=$(mean "${rate[orvws]}"); n=$(mean "${rate[nginx]}")
echo "mean req/s: orvws $o, nginx $n, ratio $(awk -v a="$o" -v b="$n" 'BEGIN {printf "%.2f", a/b}') (target >= 0.80)"
