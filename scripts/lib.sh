# Process helpers shared by the scripts (scripts/fbserver.sh, and through
# tools/simulator/sim-lib.sh the load and fault runs): waiting for a process started in the
# background to answer on its port, and for a stopped one to end. Each wait is bounded and polls
# ten times a second.
#
# Sourced, never run.

# proc_wait_port PID HOST PORT SECONDS: waits until something accepts on HOST:PORT. Status 0 once
# it does, 1 when the process PID ended first, 2 when it still does not after SECONDS.
proc_wait_port() {
  local pid=$1 host=$2 port=$3 tries=$(($4 * 10))
  until (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null; do
    kill -0 "$pid" 2>/dev/null || return 1
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 2
    sleep 0.1
  done
}

# proc_wait_gone PID SECONDS: waits until the process PID has ended; false when it still runs
# after SECONDS.
proc_wait_gone() {
  local pid=$1 tries=$(($2 * 10))
  while kill -0 "$pid" 2>/dev/null && [ "$tries" -gt 0 ]; do
    sleep 0.1
    tries=$((tries - 1))
  done
  ! kill -0 "$pid" 2>/dev/null
}
