#!/usr/bin/env bash
# Bad input at the whole-system level: beside normal simulated collectors (orvws-sim), a bounded
# mix of malformed HTTP, malformed SOAP, oversized bodies, slow senders and thousands of idle
# connections (tools/simulator/hostil.py) against the daemon orvwsd on an embedded database.
# Checks: every collector step succeeds, the hostile traffic gets HTTP errors or SOAP faults
# (never a non-HTTP answer, an accepted malformed call or a body past the cap taken in), the
# service's memory (VmRSS from /proc, sampled twice a second) stays under a bound, nothing
# crashes, the daemon stops cleanly, and its log and closing summary count exactly the
# collectors' operations (no hostile request reaches an operation).
#
#   bash scripts/badinput.sh [--coletores N] [--duracao S] [--ociosas N] [--lentos N]
#                            [--grandes N] [--limite-rss-mib M] [--porta P] [--build DIR] [--saida DIR]
#
# Defaults: 20 collectors, 60 s, 3000 idle connections, 50 slow senders, 2 senders of large
# bodies at once (40 MiB of junk, or past the 64 MiB cap), an RSS bound of
# 1024 MiB, port 8793, build folder build-load (Release), results in <build folder>/badinput-out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

collectors=20
duration=60
idle=3000
slow=50
big=2
rss_limit_mib=1024
port=8793
build=$root/build-load
out=''
while [ $# -gt 0 ]; do
  case "$1" in
    --coletores) collectors=$2; shift 2 ;;
    --duracao) duration=$2; shift 2 ;;
    --ociosas) idle=$2; shift 2 ;;
    --lentos) slow=$2; shift 2 ;;
    --grandes) big=$2; shift 2 ;;
    --limite-rss-mib) rss_limit_mib=$2; shift 2 ;;
    --porta) port=$2; shift 2 ;;
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --saida) out=$2; shift 2 ;;
    *) echo "uso: bash scripts/badinput.sh [--coletores N] [--duracao S] [--ociosas N] [--lentos N] [--grandes N] [--limite-rss-mib M] [--porta P] [--build DIR] [--saida DIR]" >&2; exit 2 ;;
  esac
done
[ -n "$out" ] || out=$build/badinput-out
# Think time of the collectors.
pause=300

# shellcheck source=../tools/simulator/sim-lib.sh
. "$root/tools/simulator/sim-lib.sh"
SIM_FAILURES=0
sampler_pid=""
hostile_pid=""
cleanup() {
  [ -z "$hostile_pid" ] || kill "$hostile_pid" 2>/dev/null || true
  [ -z "$sampler_pid" ] || kill "$sampler_pid" 2>/dev/null || true
  if [ -n "${SIM_DAEMON_PID:-}" ] && kill -0 "$SIM_DAEMON_PID" 2>/dev/null; then kill -KILL "$SIM_DAEMON_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT

sim_log "build ($build)"
sim_build orvwsd orvws-sim orvws-catalog orvws-sconf

dir=$out/embutido
sim_log "instalação com $collectors coletores (banco embutido)"
sim_prepare embutido "$dir" "$collectors" "$port"
inst=$SIM_INST
# Room for the idle connections on both sides (the daemon inherits the limit).
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
sim_daemon_start "$inst" "$port" "$dir"
rss_start=$(sim_rss_kb "$SIM_DAEMON_PID")

# RSS twice a second while the daemon lives.
( while kill -0 "$SIM_DAEMON_PID" 2>/dev/null; do sim_rss_kb "$SIM_DAEMON_PID"; sleep 0.5; done ) >"$dir/rss.txt" &
sampler_pid=$!

sim_log "$duration s: $collectors coletores, $idle conexões ociosas, $slow remetentes lentos, HTTP e SOAP malformados, corpos grandes"
timeout $((duration + 180)) python3 "$root/tools/simulator/hostil.py" --porta "$port" --duracao "$duration" \
  --ociosas "$idle" --lentos "$slow" --grandes "$big" >"$dir/hostil.txt" 2>&1 &
hostile_pid=$!
sim_status=0
timeout $((duration + 120)) "$build/tools/simulator/orvws-sim" --porta "$port" --carga "$collectors" \
  --duracao "$duration" --usuarios "$dir/usuarios.txt" --origem 127.0.1.1 --pausa "$pause" \
  --relatorio "$dir/relatorio.txt" --precos "$dir/precos.csv" --progresso 10 \
  >"$dir/resumo.txt" 2>"$dir/progresso.txt" || sim_status=$?
hostile_status=0
wait "$hostile_pid" || hostile_status=$?
hostile_pid=""
cat "$dir/progresso.txt" "$dir/resumo.txt" "$dir/hostil.txt"
[ "$sim_status" -eq 0 ] || sim_fail "os coletores não trabalharam em paz (simulador terminou com $sim_status)"
[ "$hostile_status" -eq 0 ] || sim_fail "o tráfego hostil não rodou até o fim ($hostile_status)"
grep -q '^hostil: ok$' "$dir/hostil.txt" || sim_fail "o serviço respondeu mal ao tráfego hostil (PROBLEMA acima)"
kill -0 "$SIM_DAEMON_PID" 2>/dev/null || sim_fail "orvwsd caiu"

# After the storm: the service still serves a collector, and its memory comes back down.
sleep 5
after_status=0
"$build/tools/simulator/orvws-sim" --porta "$port" --usuario COL1 --origem 127.0.1.1 --itens 1 \
  --precos "$dir/precos-depois.csv" >"$dir/depois.txt" 2>&1 || after_status=$?
[ "$after_status" -eq 0 ] || sim_fail "depois do tráfego hostil um coletor falhou: $(tail -3 "$dir/depois.txt")"
rss_after=$(sim_rss_kb "$SIM_DAEMON_PID")
kill "$sampler_pid" 2>/dev/null || true
sampler_pid=""
rss_peak=$(sort -n "$dir/rss.txt" | tail -1)
rss_peak=${rss_peak:-0}
echo "memória do serviço (RSS): $((rss_start / 1024)) MiB no início, pico de $((rss_peak / 1024)) MiB," \
  "$((rss_after / 1024)) MiB depois ($(wc -l <"$dir/rss.txt") amostras; limite $rss_limit_mib MiB)"
[ "$rss_peak" -le $((rss_limit_mib * 1024)) ] || sim_fail "a memória do serviço passou do limite: $((rss_peak / 1024)) MiB"

sim_daemon_stop
[ "$SIM_DAEMON_STATUS" = 0 ] || sim_fail "orvwsd terminou com $SIM_DAEMON_STATUS"
sim_log "conferência"
# The last single collector's operations count too.
ops_after=$(grep -cE '^(Auth|GetSQL|AddItemPesquisa|Exec): ' "$dir/depois.txt" || true)
awk -F= -v extra="$ops_after" '$1 == "operacoes_atendidas" {print $1 "=" $2 + extra; next} {print}' \
  "$dir/relatorio.txt" >"$dir/relatorio-total.txt"
cat "$dir/precos.csv" "$dir/precos-depois.csv" >"$dir/precos-todos.csv"
sim_dump_prices "$SIM_LOCATION" "$dir/after.txt"
sim_check_prices "$dir/before.txt" "$dir/after.txt" "$dir/precos-todos.csv"
sim_check_log_lines "$(ls "$inst"/logs/*.log | head -1)" "$dir/relatorio-total.txt"
lines=$(LC_ALL=C grep -c '), Coletor(' "$(ls "$inst"/logs/*.log | head -1)" || true)
want=$(sim_report_value "$dir/relatorio-total.txt" operacoes_atendidas)
[ "$lines" -eq "$want" ] || sim_fail "o log tem $lines linhas de coletor para $want operações (tráfego hostil chegou a uma operação?)"
summary=$(LC_ALL=C grep -a 'Aplicação recebeu ' "$dir/orvwsd.out" | tail -1)
count=$(sed -n 's/.*Aplicação recebeu \([0-9]*\) requisição(ões).*/\1/p' <<<"$summary")
[ "${count:-x}" = "$want" ] || sim_fail "resumo do serviço: \"$summary\", esperadas $want requisições"
echo "log: $lines linhas de coletores, uma por operação; resumo: ${count:-?} requisições"

if [ "$SIM_FAILURES" -gt 0 ]; then
  echo "badinput: $SIM_FAILURES verificação(ões) falharam" >&2
  exit 1
fi
echo "badinput: todas as verificações passaram"
