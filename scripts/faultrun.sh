#!/usr/bin/env bash
# Fault run against the daemon orvwsd on the Firebird server of scripts/fbserver.sh:
#
# 1. Database server gone: simulated collectors (orvws-sim) work while the Firebird server is
#    stopped in the middle of the load and started again. Operations in flight must end in a
#    SOAP fault or "false" (never a dropped connection, a malformed answer or another
#    collector's data), the daemon must not crash, no price may be half-recorded (every row is
#    one a collector sent, with its value), and once the server is back the service must work
#    again without a restart: a second load after the outage must succeed in every step.
# 2. Read-only log folder: the log folder is made read-only under the running daemon
#    (a read-only bind mount, or the immutable attribute where mounting is not allowed). The
#    collectors must get a fault naming the log file, the service must keep answering, and it
#    must work again once the folder is writable.
# 3. Full disk: a 256 KiB file system is mounted over the log folder and filled; the same
#    checks as for the read-only folder, then a round once it is unmounted.
# 4. Locked row: a transaction opened beside the service (isql) holds a product's row while
#    collectors send Exec batches that update it. Each such Exec must answer "false;" within the
#    lock time-out (and a margin), every other operation must go on being served, and stopping
#    the daemon while a statement waits on the lock must end within a bound; what was committed
#    stays committed.
#
#   bash scripts/faultrun.sh [--coletores N] [--duracao S] [--porta P] [--build DIR] [--saida DIR]
#
# Defaults: 50 collectors, 45 s of load with the server stopped from second 12 to second 24,
# port 8792, build folder build-load (Release), results in <build folder>/faultrun-out. Needs root. It stops
# and starts the shared test server: do not run it beside the test suite. Exit status 0 only
# when every check passed; every wait is bounded.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=../tools/simulator/sim-lib.sh
. "$root/tools/simulator/sim-lib.sh"

sim_options faultrun "--coletores N collectors=50" "--duracao S duration=45" "--porta P port=8792" -- "$@"
[ "$duration" -ge 30 ] || { echo "--duracao: ao menos 30 s (o servidor fica parado do segundo 12 ao 24)" >&2; exit 2; }
# Moments of the outage, in seconds from the start of the load.
stop_at=12
start_at=24
# Think time of the collectors, so that the service is busy but not saturated.
pause=300
# The recovery load after the outage.
recovery=15

SIM_FAILURES=0
SIM_STARTED_SERVER=0
server_was_running=0
scripts/fbserver.sh status >/dev/null && server_was_running=1
readonly_mount=""
readonly_attr=""

cleanup() {
  if [ -n "$readonly_mount" ]; then umount "$readonly_mount" 2>/dev/null || true; fi
  if [ -n "$readonly_attr" ]; then chattr -R -i "$readonly_attr" 2>/dev/null || true; fi
  sim_daemon_kill
  if [ "$server_was_running" = 1 ]; then
    scripts/fbserver.sh start >/dev/null || true
  else
    scripts/fbserver.sh stop >/dev/null || true
  fi
}
trap cleanup EXIT

sim_build orvwsd orvws-sim orvws-catalog orvws-sconf

dir=$out/servidor
sim_log "instalação com $collectors coletores no servidor Firebird"
sim_prepare servidor "$dir" "$collectors" "$port"
inst=$SIM_INST
sim_daemon_start "$inst" "$port" "$dir"

# --- 1. The database server stops in the middle of the load -------------------------------
sim_log "carga de $duration s; servidor Firebird parado do segundo $stop_at ao $start_at"
load_status=0
timeout $((duration + 120)) "$build/tools/simulator/orvws-sim" --porta "$port" --carga "$collectors" \
  --duracao "$duration" --usuarios "$dir/usuarios.txt" --origem 127.0.1.1 --pausa "$pause" \
  --relatorio "$dir/relatorio.txt" --precos "$dir/precos.csv" --progresso 3 \
  >"$dir/resumo.txt" 2>"$dir/progresso.txt" &
load_pid=$!
sleep "$stop_at"
scripts/fbserver.sh stop
stopped_for=$((start_at - stop_at))
sleep "$stopped_for"
kill -0 "$SIM_DAEMON_PID" 2>/dev/null || sim_fail "orvwsd caiu com o servidor Firebird parado"
scripts/fbserver.sh start
wait "$load_pid" || load_status=$?
cat "$dir/progresso.txt"
cat "$dir/resumo.txt"
kill -0 "$SIM_DAEMON_PID" 2>/dev/null || sim_fail "orvwsd caiu durante a carga com queda do banco"
# Failing steps are expected while the server is away; but only as faults, "false" or busy
# refusals. A dropped connection, a malformed answer or another collector's data is a fault
# of the service.
for class in rede protocolo verificacao; do
  n=$(sim_report_value "$dir/relatorio.txt" "classe_$class")
  [ "${n:-x}" = 0 ] || sim_fail "durante a queda do banco: $n passos da classe $class"
done
faults=$(( $(sim_report_value "$dir/relatorio.txt" classe_falha) + $(sim_report_value "$dir/relatorio.txt" classe_false) ))
[ "$faults" -gt 0 ] || sim_fail "nenhuma operação sentiu a queda do banco (a parada não aconteceu?)"
echo "queda do banco: $faults operações terminaram em falha SOAP ou \"false\""

# --- The service works again without a restart --------------------------------------------
sim_log "recuperação: $collectors coletores por $recovery s sem reiniciar o serviço"
recovery_status=0
mkdir -p "$dir/recuperacao"
timeout $((recovery + 120)) "$build/tools/simulator/orvws-sim" --porta "$port" --carga "$collectors" \
  --duracao "$recovery" --usuarios "$dir/usuarios.txt" --origem 127.0.1.1 --pausa "$pause" \
  --relatorio "$dir/recuperacao/relatorio.txt" --precos "$dir/recuperacao/precos.csv" --progresso 0 \
  >"$dir/recuperacao/resumo.txt" 2>&1 || recovery_status=$?
cat "$dir/recuperacao/resumo.txt"
[ "$recovery_status" -eq 0 ] || sim_fail "depois da volta do banco o serviço ainda falha (simulador terminou com $recovery_status)"

# --- 2 and 3. Log folder read-only, then full ------------------------------------------------
logs=$inst/logs
# log_fault NAME LABEL: a round while the log folder fails must end in a SOAP fault naming the
# log file, with the service page still answering and the daemon alive.
log_fault() {
  local status=0 page
  "$build/tools/simulator/orvws-sim" --porta "$port" --usuario COL1 --origem 127.0.1.1 --itens 1 \
    --tempo-limite 30 --precos "$dir/precos-$1.csv" >"$dir/$1.txt" 2>&1 || status=$?
  cat "$dir/$1.txt"
  [ "$status" -ne 0 ] || sim_fail "$2: a operação não relatou erro"
  grep -q 'falha SOAP.*arquivo de log' "$dir/$1.txt" || sim_fail "$2: o erro não chegou ao coletor como falha clara"
  page=$(curl -s -o /dev/null -w '%{http_code}' --max-time 10 "http://127.0.0.1:$port/" || true)
  [ "$page" = 200 ] || sim_fail "$2: a página do serviço respondeu $page"
  kill -0 "$SIM_DAEMON_PID" 2>/dev/null || sim_fail "orvwsd caiu ($2)"
  echo "$2: o coletor recebeu a falha acima; a página do serviço respondeu $page"
}
# log_back NAME LABEL: once the folder works again, a whole round must pass.
log_back() {
  local status=0
  "$build/tools/simulator/orvws-sim" --porta "$port" --usuario COL1 --origem 127.0.1.1 --itens 1 \
    --precos "$dir/precos-$1.csv" >"$dir/$1.txt" 2>&1 || status=$?
  cat "$dir/$1.txt"
  [ "$status" -eq 0 ] || sim_fail "$2: o serviço ainda falha"
}

sim_log "pasta de logs somente leitura ($logs)"
if mount --bind "$logs" "$logs" 2>/dev/null; then
  readonly_mount=$logs
  mount -o remount,bind,ro "$logs" || sim_fail "não foi possível remontar $logs somente leitura"
  how="montagem somente leitura"
elif chattr -R +i "$logs" 2>/dev/null; then
  readonly_attr=$logs
  how="atributo imutável"
else
  echo "AVISO: sem mount nem chattr aqui; a parte da pasta somente leitura não foi feita" >&2
  how=""
fi
if [ -n "$how" ]; then
  log_fault somente-leitura "pasta de logs somente leitura ($how)"
  if [ -n "$readonly_mount" ]; then umount "$readonly_mount"; readonly_mount=""; fi
  if [ -n "$readonly_attr" ]; then chattr -R -i "$readonly_attr"; readonly_attr=""; fi
  log_back log-de-volta "com a pasta de logs de volta"
fi

# A full disk: a small file system mounted over the log folder, filled to its last block.
sim_log "disco cheio na pasta de logs ($logs)"
if mount -t tmpfs -o size=256k tmpfs "$logs" 2>/dev/null; then
  readonly_mount=$logs
  dd if=/dev/zero of="$logs/enchimento" bs=4k 2>/dev/null || true
  log_fault disco-cheio "disco cheio"
  umount "$logs"; readonly_mount=""
  log_back disco-de-volta "com espaço de volta na pasta de logs"
else
  echo "AVISO: sem mount aqui; a parte do disco cheio não foi feita" >&2
fi

# --- 4. A row locked by another program ------------------------------------------------------
# The service's Firebird statements wait this long for a lock (the default of the SQL layer).
lock_timeout_s=10
locked=$(printf 'SET HEADING OFF;\nSELECT FIRST 1 TRIM(COD_PRODUTO) FROM TAB_PRODUTO ORDER BY COD_PRODUTO;\n' |
  sim_isql "$SIM_LOCATION" | awk 'NF {print $1; exit}')
sim_log "linha bloqueada: uma transação ao lado do serviço segura o produto $locked"
fifo=$dir/isql.fifo
rm -f "$fifo"
mkfifo "$fifo"
isql-fb -q -user SYSDBA -password "$SIM_SYSDBA_PASSWORD" "$SIM_LOCATION" <"$fifo" >"$dir/isql.out" 2>&1 &
holder_pid=$!
exec 9>"$fifo"
echo "UPDATE TAB_PRODUTO SET DES_PRODUTO = DES_PRODUTO WHERE COD_PRODUTO = '$locked';" >&9
sleep 1
lock_sql="UPDATE TAB_PRODUTO SET DES_PRODUTO = DES_PRODUTO WHERE COD_PRODUTO = '$locked'"
lock_status=0
mkdir -p "$dir/bloqueio"
timeout 180 "$build/tools/simulator/orvws-sim" --porta "$port" --carga 10 --duracao 25 \
  --usuarios "$dir/usuarios.txt" --origem 127.0.1.1 --pausa "$pause" --exec "$lock_sql" \
  --relatorio "$dir/bloqueio/relatorio.txt" --precos "$dir/bloqueio/precos.csv" --progresso 0 \
  >"$dir/bloqueio/resumo.txt" 2>&1 || lock_status=$?
cat "$dir/bloqueio/resumo.txt"
exec_total=$(sim_report_value "$dir/bloqueio/relatorio.txt" Exec)
exec_false=$(sim_report_value "$dir/bloqueio/relatorio.txt" Exec_false)
[ "${exec_total:-0}" -gt 0 ] && [ "$exec_false" = "$exec_total" ] ||
  sim_fail "linha bloqueada: $exec_false de $exec_total Exec responderam false"
for op in Auth GetSQL AddItemPesquisa; do
  ok=$(sim_report_value "$dir/bloqueio/relatorio.txt" "${op}_ok")
  total=$(sim_report_value "$dir/bloqueio/relatorio.txt" "$op")
  [ "$ok" = "$total" ] || sim_fail "linha bloqueada: $op atendido $ok de $total vezes"
done
exec_max_ms=$(awk '$1 == "Exec" {print int($NF); exit}' "$dir/bloqueio/resumo.txt")
[ "${exec_max_ms:-999999}" -le $(((lock_timeout_s + 5) * 1000)) ] ||
  sim_fail "linha bloqueada: um Exec levou ${exec_max_ms} ms (o prazo do bloqueio é ${lock_timeout_s} s)"
echo "linha bloqueada: $exec_false Exec responderam false, o mais demorado em ${exec_max_ms:-?} ms; as outras operações atendidas"

# The stop while a statement waits on the lock: bounded by the lock time-out.
"$build/tools/simulator/orvws-sim" --porta "$port" --usuario COL1 --origem 127.0.1.1 --itens 0 \
  --exec "$lock_sql" >"$dir/bloqueio/parada.txt" 2>&1 &
waiting_pid=$!
sleep 3
stop_start=$(date +%s%N)
sim_daemon_stop
stop_ms=$(( ($(date +%s%N) - stop_start) / 1000000 ))
wait "$waiting_pid" 2>/dev/null || true
echo "ROLLBACK; QUIT;" >&9
exec 9>&-
wait "$holder_pid" 2>/dev/null || true
echo "parada com uma instrução esperando o bloqueio: ${stop_ms} ms"
[ "$stop_ms" -le $(((lock_timeout_s + 10) * 1000)) ] || sim_fail "a parada levou ${stop_ms} ms com uma instrução bloqueada"

# --- What the whole run left behind --------------------------------------------------------
[ "$SIM_DAEMON_STATUS" = 0 ] || sim_fail "orvwsd terminou com $SIM_DAEMON_STATUS"
sim_log "conferência"
cat "$dir/precos.csv" "$dir/recuperacao/precos.csv" "$dir"/precos-somente-leitura.csv \
  "$dir"/precos-log-de-volta.csv "$dir"/precos-disco-cheio.csv "$dir"/precos-disco-de-volta.csv \
  "$dir/bloqueio/precos.csv" >"$dir/precos-todos.csv" 2>/dev/null || true
sim_dump_prices "$SIM_LOCATION" "$dir/after.txt"
sim_check_prices "$dir/before.txt" "$dir/after.txt" "$dir/precos-todos.csv" incerto-aceito
sim_check_log_lines "$(ls "$inst"/logs/*.log | head -1)" "$dir/relatorio.txt"

sim_verdict faultrun
