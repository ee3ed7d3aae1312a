# Shell helpers shared by the over-HTTP benchmarks (bench/http/run.sh, bench/report.sh): their
# settings from the environment, an nginx answering a fixed body (the floor), wrk scripts that
# POST one SOAP envelope per connection ("Connection: close"), and one wrk run measured with the
# server's CPU time and listen-queue drops.
#
# Sourced, never run. Expects set -euo pipefail. Every wait is bounded.

# bench_env ROUNDS: the settings of a comparison, each from its environment variable when set:
# BENCH_CONNS (CONNS, 32 connections), BENCH_DURATION (DURATION, 10s of each wrk run), ROUNDS
# (rounds of runs; default the argument) and NGX_PORT (the floor's port, 18381).
bench_env() {
  BENCH_CONNS=${CONNS:-32}
  BENCH_DURATION=${DURATION:-10s}
  ROUNDS=${ROUNDS:-$1}
  NGX_PORT=${NGX_PORT:-18381}
}

# bench_need_tools [gsoap]: wrk and nginx are there; with "gsoap" also the gSOAP toolkit
# (wsdl2h, soapcpp2, and the headers and library of libgsoap-dev) that bench/gsoap is built with.
bench_need_tools() {
  local missing=()
  command -v wrk >/dev/null || missing+=(wrk)
  command -v nginx >/dev/null || missing+=(nginx)
  if [ "${1:-}" = gsoap ]; then
    command -v wsdl2h >/dev/null && command -v soapcpp2 >/dev/null || missing+=(gsoap)
    pkg-config --exists gsoap++ 2>/dev/null || missing+=(libgsoap-dev)
  fi
  [ ${#missing[@]} -eq 0 ] || {
    echo "${missing[*]} needed (scripts/setup-deps.sh installs them)" >&2
    return 1
  }
}

# bench_wait_port PORT [SECONDS]: waits until something accepts on 127.0.0.1:PORT.
bench_wait_port() {
  local tries=$(( ${2:-10} * 10 ))
  until (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || { echo "nothing answers on port $1" >&2; return 1; }
    sleep 0.1
  done
}

# bench_nginx_start DIR PORT BODY_FILE: nginx in DIR answering every request with the body
# (no apostrophe in it), text/xml, keep-alive off; sets BENCH_NGX_PID.
bench_nginx_start() {
  local dir=$1 port=$2 body
  body=$(cat "$3")
  case "$body" in *"'"*) echo "the answer must not contain an apostrophe" >&2; return 1;; esac
  mkdir -p "$dir/logs" "$dir/tmp"
  cat > "$dir/nginx.conf" <<CONF
daemon off;
worker_processes auto;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  keepalive_timeout 0;
  client_body_temp_path $dir/tmp/body;
  proxy_temp_path $dir/tmp/proxy;
  fastcgi_temp_path $dir/tmp/fastcgi;
  uwsgi_temp_path $dir/tmp/uwsgi;
  scgi_temp_path $dir/tmp/scgi;
  server {
    listen 127.0.0.1:$port backlog=511;
    location / {
      default_type 'text/xml; charset=utf-8';
      return 200 '$body';
    }
  }
}
CONF
  nginx -p "$dir" -c "$dir/nginx.conf" 2> "$dir/start.err" &
  BENCH_NGX_PID=$!
  bench_wait_port "$port"
}

# bench_soap_lua FILE ACTION ENVELOPE: a wrk script POSTing the envelope with the SOAP action.
bench_soap_lua() {
  cat > "$1" <<LUA
wrk.method = "POST"
wrk.headers["Content-Type"] = "text/xml; charset=utf-8"
wrk.headers["SOAPAction"] = "\"$2\""
wrk.headers["Connection"] = "close"
wrk.body = '$3'
LUA
}

# Envelopes as the collectors send them.
BENCH_SOAP_HEAD='<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema"><soap:Body soap:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/">'
BENCH_SOAP_TAIL='</soap:Body></soap:Envelope>'

# bench_rows_lua DIR: the wrk scripts of the report's rows in DIR: road.lua (an Exec, answered by
# bench_http_server's fixed body), ports.lua (GetPortTypeList) and auth.lua (Auth of COL1).
bench_rows_lua() {
  bench_soap_lua "$1/road.lua" "urn:UOrvWsIntf-IOrvWs#Exec" \
    "$BENCH_SOAP_HEAD<q1:Exec xmlns:q1=\"urn:UOrvWsIntf-IOrvWs\"><Value xsi:type=\"xsd:string\">UPDATE TAB_PESQUISA SET VAL_PRECO = 1 WHERE COD_PESQUISA = 1</Value></q1:Exec>$BENCH_SOAP_TAIL"
  bench_soap_lua "$1/ports.lua" \
    "http://orvws.local/namespaces/Types-IWSDLPublish#GetPortTypeList" \
    "$BENCH_SOAP_HEAD<m:GetPortTypeList xmlns:m=\"http://orvws.local/namespaces/Types-IWSDLPublish\"/>$BENCH_SOAP_TAIL"
  bench_soap_lua "$1/auth.lua" "urn:UOrvWsIntf-IOrvWs#Auth" \
    "$BENCH_SOAP_HEAD<m:Auth xmlns:m=\"urn:UOrvWsIntf-IOrvWs\"><KeyValue xsi:type=\"xsd:string\">7be09a4f2d31e8c6a05f93d7b2e6184c</KeyValue><UserName xsi:type=\"xsd:string\">COL1</UserName></m:Auth>$BENCH_SOAP_TAIL"
}

# Listen-queue drops of one listening socket (ss -ltnm, field d of skmem), and of the host.
bench_drops() { ss -ltnmH "sport = :$1" 2>/dev/null | grep -o 'd[0-9]*)' | tr -dc '0-9'; echo; }
bench_overflows() { nstat -az TcpExtListenOverflows 2>/dev/null | awk '/ListenOverflows/ {print $2}'; }

# CPU time (clock ticks) of a process and its children (nginx's workers).
bench_cpu_ticks() {
  local total=0 p
  for p in "$1" $(pgrep -P "$1" || true); do
    [ -r "/proc/$p/stat" ] || continue
    total=$(( total + $(awk '{print $14 + $15}' "/proc/$p/stat") ))
  done
  echo "$total"
}

# bench_wrk NAME URL LUA PID: one wrk run (-t2, $BENCH_CONNS connections, $BENCH_DURATION);
# prints a line and sets BENCH_RATE, BENCH_P50, BENCH_P99 (ms), BENCH_TOTAL, BENCH_BAD (non-2xx
# answers and socket errors), BENCH_US (server CPU per request, µs), BENCH_DROPS.
bench_wrk() {
  local name=$1 url=$2 lua=$3 pid=$4 port before after o_before o_after c_before c_after out
  port=$(sed -E 's#^http://[^:/]+:([0-9]+).*#\1#' <<<"$url")
  before=$(bench_drops "$port"); o_before=$(bench_overflows); c_before=$(bench_cpu_ticks "$pid")
  out=$(wrk -t2 -c"${BENCH_CONNS:-32}" -d"${BENCH_DURATION:-10s}" --latency -s "$lua" "$url")
  after=$(bench_drops "$port"); o_after=$(bench_overflows); c_after=$(bench_cpu_ticks "$pid")
  BENCH_RATE=$(awk '/Requests\/sec/ {printf "%.0f", $2}' <<<"$out")
  BENCH_P50=$(awk '$1=="50%" {print $2}' <<<"$out" | bench_ms)
  BENCH_P99=$(awk '$1=="99%" {print $2}' <<<"$out" | bench_ms)
  BENCH_TOTAL=$(awk '/requests in/ {print $1}' <<<"$out")
  BENCH_BAD=$(awk '/Non-2xx/ {n += $NF} /Socket errors/ {gsub(",", ""); n += $4 + $6 + $8 + $10}
                   END {print n + 0}' <<<"$out")
  BENCH_US=$(awk -v t="$(( c_after - c_before ))" -v n="$BENCH_TOTAL" -v hz="$(getconf CLK_TCK)" \
             'BEGIN {if (n > 0) printf "%.0f", t / hz * 1e6 / n; else print "?"}')
  BENCH_DROPS=$(( ${after:-0} - ${before:-0} ))
  printf '%-16s %8s req/s  p50 %7s ms  p99 %7s ms  server CPU %4s us/req  bad %s  listen drops %s (host +%s)\n' \
    "$name" "$BENCH_RATE" "$BENCH_P50" "$BENCH_P99" "$BENCH_US" "$BENCH_BAD" "$BENCH_DROPS" \
    "$(( ${o_after:-0} - ${o_before:-0} ))"
  sleep "${BENCH_PAUSE:-2}"   # let the run's TIME_WAIT sockets drain a little
}

# wrk's latency ("850.00us", "2.10ms", "1.20s") in milliseconds.
bench_ms() {
  awk '{v = $1; u = v; sub(/[0-9.]+/, "", u); sub(/[a-z]+$/, "", v);
        if (u == "us") v /= 1000; else if (u == "s") v *= 1000; else if (u == "m") v *= 60000;
        printf "%.2f", v}'
}

# bench_mean "v1 v2 ..." [DECIMALS]: the mean, rounded (to whole numbers by default).
bench_mean() {
  tr ' ' '\n' <<<"$1" |
    awk -v d="${2:-0}" 'NF {s += $1; n++} END {if (n) printf "%." d "f", s / n; else print 0}'
}
# bench_ratio A B: A / B with two decimals.
bench_ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.2f", a / b; else print "?"}'; }
