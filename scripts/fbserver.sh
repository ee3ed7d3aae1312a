#!/usr/bin/env bash
# Starts, stops or reports a Firebird 3 server on 127.0.0.1:3050 for the tests where real logins
# matter. SYSDBA's password is set to "plinthwax" through the security database before the start.
#
#   scripts/fbserver.sh start|stop|status
#
# Idempotent: "start" on a running server and "stop" on a stopped one do nothing and succeed.
# The server runs in the foreground binary as user firebird; its PID is kept in $STATE_DIR.
# Needs root (setpriv) and the packages of scripts/setup-deps.sh.
set -euo pipefail

PORT=${ORVWS_FBSERVER_PORT:-3050}
HOST=127.0.0.1
SYSDBA_PASSWORD=plinthwax
STATE_DIR=${ORVWS_FBSERVER_DIR:-/tmp/orvws-fbserver}
PID_FILE=$STATE_DIR/firebird.pid
LOG_FILE=$STATE_DIR/firebird.log
SECURITY_DB=/var/lib/firebird/3.0/system/security3.fdb
SERVER_BIN=/usr/sbin/firebird
# Seconds to wait for the port after the start; the server answers within a fraction of a second.
START_WAIT_S=15
# Seconds to wait after SIGTERM: Firebird 3 sometimes ignores it for good, then SIGKILL follows.
STOP_WAIT_S=5

port_open() { (exec 3<>"/dev/tcp/$HOST/$PORT") 2>/dev/null; }

running_pid() {
  [ -f "$PID_FILE" ] || return 1
  local pid
  pid=$(cat "$PID_FILE" 2>/dev/null || true)
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
  # The PID must still be our server, not a recycled number.
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null || true)" = "$SERVER_BIN" ] || return 1
  echo "$pid"
}

do_status() {
  local pid
  if pid=$(running_pid); then
    echo "fbserver: running (pid $pid) on $HOST:$PORT"
    return 0
  fi
  echo "fbserver: not running"
  return 3
}

do_start() {
  local pid
  if pid=$(running_pid); then
    echo "fbserver: already running (pid $pid)"
    return 0
  fi
  if port_open; then
    echo "fbserver: port $PORT is taken by another process; not starting" >&2
    return 1
  fi
  [ -x "$SERVER_BIN" ] || { echo "fbserver: $SERVER_BIN missing (run scripts/setup-deps.sh)" >&2; return 1; }
  id firebird >/dev/null 2>&1 || { echo "fbserver: user firebird missing" >&2; return 1; }
  mkdir -p "$STATE_DIR"
  rm -f "$PID_FILE"

  # The embedded engine edits the security database while no server holds it open.
  echo "CREATE OR ALTER USER SYSDBA PASSWORD '$SYSDBA_PASSWORD' USING PLUGIN Srp; COMMIT;" |
    isql-fb -q -user SYSDBA "$SECURITY_DB" >"$STATE_DIR/isql.log" 2>&1 || {
      echo "fbserver: could not set the SYSDBA password:" >&2; cat "$STATE_DIR/isql.log" >&2; return 1; }
  # The embedded run as root may leave the security database owned by root.
  chown firebird:firebird "$SECURITY_DB" 2>/dev/null || true
  # The lock folder must be usable by the server's user.
  mkdir -p /tmp/firebird && chown firebird:firebird /tmp/firebird && chmod 0770 /tmp/firebird

  setpriv --reuid=firebird --regid=firebird --init-groups "$SERVER_BIN" -p "$PORT" \
    >"$LOG_FILE" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$PID_FILE"

  local tries=$((START_WAIT_S * 10))
  while ! port_open; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "fbserver: the server ended at start; its output:" >&2
      cat "$LOG_FILE" >&2
      rm -f "$PID_FILE"
      return 1
    fi
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then
      echo "fbserver: port $PORT not answering after ${START_WAIT_S}s" >&2
      do_stop || true
      return 1
    fi
    sleep 0.1
  done
  echo "fbserver: started (pid $pid) on $HOST:$PORT, SYSDBA/$SYSDBA_PASSWORD"
}

do_stop() {
  local pid
  if ! pid=$(running_pid); then
    rm -f "$PID_FILE"
    echo "fbserver: not running"
    return 0
  fi
  kill -TERM "$pid" 2>/dev/null || true
  local tries=$((STOP_WAIT_S * 10))
  while kill -0 "$pid" 2>/dev/null && [ "$tries" -gt 0 ]; do
    sleep 0.1
    tries=$((tries - 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null || true
    tries=50
    while kill -0 "$pid" 2>/dev/null && [ "$tries" -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
  fi
  rm -f "$PID_FILE"
  echo "fbserver: stopped (pid $pid)"
}

case "${1:-}" in
  start) do_start ;;
  stop) do_stop ;;
  status) do_status ;;
  *) echo "usage: $0 start|stop|status" >&2; exit 2 ;;
esac
