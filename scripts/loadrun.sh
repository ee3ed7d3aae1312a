#!/usr/bin/env bash
# Load run: at least 200 simulated collectors (orvws-sim), each from its own loopback address
# with its own user and store, for a fixed time against the daemon orvwsd, first on an embedded
# database, then on the Firebird server of scripts/fbserver.sh. Afterwards it checks that every
# price the service confirmed is in the database exactly once with the value sent (and nothing
# else was added), that the log holds one whole line per operation naming the right user, and
# that the daemon's closing summary counts exactly the operations made. Prints throughput and
# latency percentiles per operation. Then a shift-start burst on each database: --rajada
# collectors, each its own address and user, released at the same instant for two rounds of
# Auth and GetSQL; no request may be refused as busy (they wait for a free module instead).
#
#   bash scripts/loadrun.sh [--coletores N] [--duracao S] [--banco embutido|servidor|ambos]
#                           [--pausa MS] [--rajada N] [--porta P] [--build DIR] [--saida DIR]
#
# Defaults: 200 collectors, 60 s per database, both databases, a think time of 1000 ms on
# average before each operation (--pausa 0 measures the service flat out), a burst of 64
# collectors (--rajada 0: none), port 8791, build folder build-load (Release), results in
# <build folder>/loadrun-out. Exit status 0 only when every check passed.
# Needs root for the server run (scripts/fbserver.sh); bounded: each run ends after its
# duration, every wait has a limit.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=../tools/simulator/sim-lib.sh
. "$root/tools/simulator/sim-lib.sh"

sim_options loadrun "--coletores N collectors=200" "--duracao S duration=60" \
  "--banco embutido|servidor|ambos databases=ambos" "--pausa MS pause=1000" "--rajada N burst=64" \
  "--porta P port=8791" -- "$@"
case "$databases" in embutido|servidor|ambos) ;; *) echo "--banco: embutido, servidor ou ambos" >&2; exit 2 ;; esac
SIM_FAILURES=0

sim_build orvwsd orvws-sim orvws-catalog orvws-sconf

SIM_STARTED_SERVER=0
cleanup() {
  sim_daemon_kill
  if [ "$SIM_STARTED_SERVER" = 1 ]; then scripts/fbserver.sh stop >/dev/null || true; fi
}
trap cleanup EXIT

# run_load KIND: one whole run on one database kind; results in $out/KIND.
run_load() {
  local kind=$1 dir=$out/$1
  sim_log "$kind: catálogo para $collectors coletores"
  sim_prepare "$kind" "$dir" "$collectors" "$port"
  local inst=$SIM_INST location=$SIM_LOCATION

  sim_log "$kind: $collectors coletores por $duration s"
  sim_daemon_start "$inst" "$port" "$dir"
  local rss_start sim_status=0
  rss_start=$(sim_rss_kb "$SIM_DAEMON_PID")
  timeout $((duration + 120)) "$build/tools/simulator/orvws-sim" --porta "$port" --carga "$collectors" \
    --duracao "$duration" --usuarios "$dir/usuarios.txt" --origem 127.0.1.1 --pausa "$pause" \
    --relatorio "$dir/relatorio.txt" --precos "$dir/precos.csv" --progresso 10 \
    >"$dir/resumo.txt" 2>"$dir/progresso.txt" || sim_status=$?
  local rss_end
  rss_end=$(sim_rss_kb "$SIM_DAEMON_PID")
  sim_daemon_stop
  cat "$dir/resumo.txt"
  [ "$sim_status" -eq 0 ] || sim_fail "$kind: o simulador terminou com $sim_status (falhas acima)"
  [ "$SIM_DAEMON_STATUS" = 0 ] || sim_fail "$kind: orvwsd terminou com $SIM_DAEMON_STATUS"
  [ ! -s "$dir/orvwsd.err" ] || sim_fail "$kind: orvwsd escreveu erros: $(head -3 "$dir/orvwsd.err")"

  sim_log "$kind: conferência"
  sim_dump_prices "$location" "$dir/after.txt"
  sim_check_prices "$dir/before.txt" "$dir/after.txt" "$dir/precos.csv"
  sim_check_log "$(ls "$inst"/logs/*.log | head -1)" "$dir/relatorio.txt" "$dir/orvwsd.out"
  echo "memória do serviço (RSS): $((rss_start / 1024)) MiB no início, $((rss_end / 1024)) MiB no fim da carga"
}

# run_burst KIND: a shift-start burst on one database kind; results in $out/KIND-rajada.
run_burst() {
  local kind=$1 dir=$out/$1-rajada
  sim_log "$kind: rajada de $burst coletores"
  sim_prepare "$kind" "$dir" "$burst" "$port"
  local inst=$SIM_INST sim_status=0
  sim_daemon_start "$inst" "$port" "$dir"
  timeout 300 "$build/tools/simulator/orvws-sim" --porta "$port" --carga "$burst" --rajada 2 \
    --itens 0 --sem-exec --usuarios "$dir/usuarios.txt" --origem 127.0.2.1 \
    --relatorio "$dir/relatorio.txt" --precos "$dir/precos.csv" --progresso 0 \
    >"$dir/resumo.txt" 2>"$dir/progresso.txt" || sim_status=$?
  sim_daemon_stop
  cat "$dir/resumo.txt"
  [ "$sim_status" -eq 0 ] || sim_fail "$kind: a rajada terminou com $sim_status (falhas acima)"
  [ "$SIM_DAEMON_STATUS" = 0 ] || sim_fail "$kind: orvwsd terminou com $SIM_DAEMON_STATUS"
  local refused busy
  refused=$(sim_report_value "$dir/relatorio.txt" recusas)
  busy=$(sim_report_value "$dir/relatorio.txt" classe_ocupado)
  echo "rajada ($kind): $(sim_report_value "$dir/relatorio.txt" operacoes) chamadas em $(sim_report_value "$dir/relatorio.txt" duracao_s) s, ${refused:-?} recusas por ocupação"
  [ "${refused:-x}" = 0 ] && [ "${busy:-x}" = 0 ] || sim_fail "$kind: a rajada teve ${refused:-?} recusas por ocupação (esperado 0)"
  sim_check_log "$(ls "$inst"/logs/*.log | head -1)" "$dir/relatorio.txt" "$dir/orvwsd.out"
}

mkdir -p "$out"
kinds=$databases
[ "$kinds" = ambos ] && kinds="embutido servidor"
for kind in $kinds; do run_load "$kind"; done
if [ "$burst" -gt 0 ]; then
  for kind in $kinds; do run_burst "$kind"; done
fi

sim_verdict loadrun
