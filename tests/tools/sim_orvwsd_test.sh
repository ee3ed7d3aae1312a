#!/usr/bin/env bash
# The simulator against the real daemon on an embedded copy of the fixture database: a collector
# bound to its store, a collector that works for several stores (its download holds every
# running survey's prices, one of them without a value), and a wrong key. Each download must be
# applicable on the handheld; the log and the closing summary must count each operation once.
#   sim_orvwsd_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
root=$1
build=$2
. "$root/tools/simulator/sim-lib.sh"
SIM_FAILURES=0
work=$(mktemp -d)
cleanup() {
  if [ -n "${SIM_DAEMON_PID:-}" ] && kill -0 "$SIM_DAEMON_PID" 2>/dev/null; then kill -KILL "$SIM_DAEMON_PID" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

inst=$work/orvalen
mkdir -p "$inst"
sed "s#'orvws.fdb'#'$inst/gestao.fdb'#" "$root/db/schema.sql" >"$work/schema.sql"
isql-fb -q -user SYSDBA -ch UTF8 -i "$work/schema.sql" >/dev/null
isql-fb -q -user SYSDBA -ch UTF8 -i "$root/db/fixture.sql" "$inst/gestao.fdb" >/dev/null
port=8800
while ! sim_port_free "$port"; do port=$((port + 1)); [ "$port" -lt 9000 ] || { echo "sem porta livre" >&2; exit 1; }; done
sim_install "$inst" "$inst/gestao.fdb" "$port"
sim_daemon_start "$inst" "$port" "$work"

run() {   # run EXPECTED_STATUS ADDRESS USER [OPTIONS...]
  local want=$1 addr=$2 user=$3 status=0
  shift 3
  "$build/tools/simulator/orvws-sim" --porta "$port" --origem "$addr" --usuario "$user" "$@" >"$work/$user.txt" 2>&1 || status=$?
  cat "$work/$user.txt"
  [ "$status" -eq "$want" ] || sim_fail "$user: orvws-sim terminou com $status, esperado $want"
  echo "coletor=$addr;$user" >>"$work/relatorio.txt"
}
run 0 127.0.6.1 ANA --itens 2
run 0 127.0.6.2 coletor1 --itens 2 --loja 2
run 1 127.0.6.3 CAIO --chave 7BE09A4F2D31E8C6A05F93D7B2E6184C
grep -q '^Auth: false' "$work/CAIO.txt" || sim_fail "a chave em maiúsculas foi aceita"
ops=$(cat "$work"/ANA.txt "$work"/coletor1.txt "$work"/CAIO.txt | grep -cE '^(Auth|GetSQL|AddItemPesquisa|Exec): ')
echo "operacoes_atendidas=$ops" >>"$work/relatorio.txt"

sim_daemon_stop
[ "$SIM_DAEMON_STATUS" = 0 ] || sim_fail "orvwsd terminou com $SIM_DAEMON_STATUS"
log=$(ls "$inst"/logs/*.log | head -1)
sim_check_log_lines "$log" "$work/relatorio.txt"
lines=$(LC_ALL=C grep -c '), Coletor(' "$log" || true)
[ "$lines" -eq "$ops" ] || sim_fail "o log tem $lines linhas de coletor para $ops operações"
LC_ALL=C grep -q "Aplicação recebeu $ops requisição(ões)" "$work/orvwsd.out" || sim_fail "resumo: $(grep -a 'Aplicação recebeu' "$work/orvwsd.out")"
[ "$SIM_FAILURES" -eq 0 ]
