#!/usr/bin/env bash
# Starts, stops or reports a Firebird 3 server on 127.0.0.1:3050 for the tests where real logins
# matter. SYSDBA's password is set to "plinthwax" through the security database before the start.
#
#   scripts/fbserver.sh start|stop|status
#
# Idempotent: "start" on a running server and "stop" on a stopped one do nothing and succeed.
# The server runs in the foreground binary as user firebird; its PID is kept in $STATE_DIR.
# Needs root (setpriv) and the packages of scripts/setup-deps.sh.
#
# ORVWS_FBSERVER_PORT and ORVWS_FBSERVER_DIR make a second server beside the shared one (for
# scripts/cluster.sh). It gets a root of its own in its folder, with its own security database
# and lock folder: a Firebird 3 server keeps the security database it uses locked, and the
# other server could then check no login at all.
set -euo pipefail
# shellcheck source=lib.sh
. "$(dirname "$0")/lib.sh"

PORT=${ORVWS_FBSERVER_PORT:-3050}
HOST=127.0.0.1
SYSDBA_PASSWORD=plinthwax
DEFAULT_STATE_DIR=/tmp/orvws-fbserver
STATE_DIR=${ORVWS_FBSERVER_DIR:-$DEFAULT_STATE_DIR}
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

  local lock_dir=/tmp/firebird
  local -a env_own=()
  if [ "$STATE_DIR" != "$DEFAULT_STATE_DIR" ]; then
    # A root of its own: firebird.conf naming its security database, the character sets (a
    # copy: a symbolic link is refused); plugins and messages come from the system's paths.
    local root_dir=$STATE_DIR/root
    SECURITY_DB=$STATE_DIR/security3.fdb
    lock_dir=$STATE_DIR/lock
    mkdir -p "$root_dir/intl"
    cp -f /usr/lib/x86_64-linux-gnu/firebird/3.0/intl/libfbintl.so "$root_dir/intl/"
    cp -f /etc/firebird/3.0/fbintl.conf "$root_dir/intl/" 2>/dev/null || true
    printf 'SecurityDatabase = %s\n' "$SECURITY_DB" >"$root_dir/firebird.conf"
    env_own=(FIREBIRD="$root_dir" FIREBIRD_LOCK="$lock_dir")
    if [ ! -f "$SECURITY_DB" ]; then
      # The user manager makes its table in an empty database on the first CREATE USER.
      echo "CREATE DATABASE '$SECURITY_DB'; COMMIT;" |
        env "${env_own[@]}" isql-fb -q -user SYSDBA >"$STATE_DIR/isql.log" 2>&1 || {
          echo "fbserver: could not create $SECURITY_DB:" >&2; cat "$STATE_DIR/isql.log" >&2; return 1; }
    fi
    chown -R firebird:firebird "$STATE_DIR"
  fi

  # The embedded engine edits the security database while no server holds it open.
  echo "CREATE OR ALTER USER SYSDBA PASSWORD '$SYSDBA_PASSWORD' USING PLUGIN Srp; COMMIT;" |
    env "${env_own[@]}" isql-fb -q -user SYSDBA "$SECURITY_DB" >"$STATE_DIR/isql.log" 2>&1 || {
      echo "fbserver: could not set the SYSDBA password:" >&2; cat "$STATE_DIR/isql.log" >&2; return 1; }
  # The embedded run as root may leave the security database owned by root.
  chown firebird:firebird "$SECURITY_DB" 2>/dev/null || true
  # The lock folder must be usable by the server's user.
  mkdir -p "$lock_dir" && chown firebird:firebird "$lock_dir" && chmod 0770 "$lock_dir"

  env "${env_own[@]}" setpriv --reuid=firebird --regid=firebird --init-groups "$SERVER_BIN" -p "$PORT" \
    >"$LOG_FILE" 2>&1 </dev/null &
  pid=$!
  echo "$pid" >"$PID_FILE"

  local status=0
  proc_wait_port "$pid" "$HOST" "$PORT" "$START_WAIT_S" || status=$?
  if [ "$status" -eq 1 ]; then
    echo "fbserver: the server ended at start; its output:" >&2
    cat "$LOG_FILE" >&2
    rm -f "$PID_FILE"
    return 1
  elif [ "$status" -ne 0 ]; then
    echo "fbserver: port $PORT not answering after ${START_WAIT_S}s" >&2
    do_stop || true
    return 1
  fi
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
  if ! proc_wait_gone "$pid" "$STOP_WAIT_S"; then
    kill -KILL "$pid" 2>/dev/null || true
    proc_wait_gone "$pid" 5 || true
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
