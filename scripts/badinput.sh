#!/usr/bin/env bash
# Bad input at the whole-system level: beside normal simulated collectors (orvws-sim), a bounded
# mix of malformed HTTP, malformed SOAP, oversized bodies, slow senders, thousands of idle
# connections and the attacks at scale of tools/simulator/hostil.py (a thousand connections
# announcing a megabyte and sending a byte, a thousand sending header lines of 16 000 bytes,
# envelopes of 2 000 000 elements or 200 000 attributes, log forgery, a 64 MiB Exec of ";", ...)
# against the daemon orvwsd on an embedded database. First one group of collectors runs alone
# (--base), then another, with stores in the same state, beside the attacks (--duracao). The
# service runs on a core of its own, in a session of its own, and every client on the other
# cores (two or more).
# Checks: every collector step succeeds; the collectors' p99 beside the attacks is at most twice
# their p99 alone (per operation; at least 20 ms, since on two cores shared with the attackers a
# request that waits one turn of the scheduler already doubles a p99 of a few milliseconds); the hostile traffic gets HTTP errors or SOAP
# faults (never a non-HTTP answer, an accepted malformed call, a body past the cap taken in, an
# interim answer before a refusal, a shape refused late); the service's memory (VmRSS from
# /proc, sampled twice a second) stays under a bound; no dispatch thread is busy for 2 s without
# a break (so no request takes 2 s of CPU); nothing crashes; the daemon stops cleanly; every log
# entry is whole and on its own line, the collectors' entries are one per operation, the hostile
# ones are the calls hostil.py made that reached an operation, and no other entry is there.
#
#   bash scripts/badinput.sh [--coletores N] [--base S] [--duracao S] [--ociosas N] [--lentos N]
#                            [--grandes N] [--escala 0|1] [--limite-rss-mib M] [--porta P]
#                            [--build DIR] [--saida DIR]
#
# Defaults: 20 collectors, 60 s alone, then 60 s beside 3000 idle connections,
# 50 slow senders, 2 senders of large bodies at once (40 MiB of junk, or past the 64 MiB cap)
# and the attacks at scale (--escala 0: without them); an RSS bound of 512 MiB, port 8793,
# build folder build-load (Release), results in <build folder>/badinput-out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=../tools/simulator/sim-lib.sh
. "$root/tools/simulator/sim-lib.sh"

sim_options badinput "--coletores N collectors=20" "--base S base=60" "--duracao S duration=60" \
  "--ociosas N idle=3000" "--lentos N slow=50" "--grandes N big=2" "--escala 0|1 scale=1" \
  "--limite-rss-mib M rss_limit_mib=512" "--porta P port=8793" -- "$@"
# Think time of the collectors.
pause=300

SIM_FAILURES=0
# Hostile clients come from 127.0.3.x and the other addresses hostil.py uses; their log entries
# may quote anything.
SIM_HOSTILE_PREFIX=127.0.3.
sampler_pid=""
hostile_pid=""
cpu_pid=""
others_pid=""
cleanup() {
  [ -z "$hostile_pid" ] || kill "$hostile_pid" 2>/dev/null || true
  [ -z "$others_pid" ] || kill "$others_pid" 2>/dev/null || true
  [ -z "$sampler_pid" ] || kill "$sampler_pid" 2>/dev/null || true
  [ -z "$cpu_pid" ] || kill "$cpu_pid" 2>/dev/null || true
  sim_daemon_kill
}
trap cleanup EXIT

sim_build orvwsd orvws-sim orvws-catalog orvws-sconf

dir=$out/embutido
# Two groups of collectors, each user with a store of its own: one group alone, the other
# beside the attacks, both starting from stores in the same state (a store's download grows
# with the prices collected in it).
sim_log "instalação com 2 x $collectors coletores (banco embutido)"
sim_prepare embutido "$dir" $((2 * collectors)) "$port"
inst=$SIM_INST
head -n "$collectors" "$dir/usuarios.txt" >"$dir/usuarios-sozinhos.txt"
tail -n +"$((collectors + 1))" "$dir/usuarios.txt" >"$dir/usuarios-atacados.txt"
attacked_from=127.0.1.$((collectors + 1))
# Room for the idle connections on both sides (the daemon inherits the limit).
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
# The service on a core of its own, every client on the others: on one machine the clients
# stand for other machines, and what is measured is what the service does with their traffic.
# The service also runs in a session of its own. With the kernel's automatic grouping of
# sessions (kernel.sched_autogroup_enabled), a session's share of a core is divided among its
# cores by the weight of what runs on each: sharing the clients' session, where the collectors'
# simulator runs at -10, the service got about a seventh of its own core whenever anything of
# another session (someone's build) ran there too. A service of its own (systemd gives it a
# group of its own) is not weighed against its clients. (SIM_DAEMON_SESSION=0 in the
# environment: in the clients' session, as before, to compare.)
clients=()
if [ "$(nproc)" -ge 2 ]; then
  SIM_DAEMON_CPUS=0
  SIM_DAEMON_SESSION=${SIM_DAEMON_SESSION:-1}
  clients=(taskset -c "1-$(($(nproc) - 1))")
fi
# The collectors' simulator ahead of the hostile clients on the clients' cores (as root; the
# same in both phases), so that what its latencies show is the service, not the attackers'
# share of the client side.
sim_nice=0
[ "$(id -u)" -ne 0 ] || sim_nice=-10
sim_daemon_start "$inst" "$port" "$dir"
rss_start=$(sim_rss_kb "$SIM_DAEMON_PID")

# RSS twice a second while the daemon lives.
( while kill -0 "$SIM_DAEMON_PID" 2>/dev/null; do sim_rss_kb "$SIM_DAEMON_PID"; sleep 0.5; done ) >"$dir/rss.txt" &
sampler_pid=$!

# The CPU that processes of others (not of this run) take from the machine during a phase.
others_start() {
  "${clients[@]}" nice -n 19 python3 "$root/tools/simulator/cpu_outros.py" --pid $$ --duracao "$1" >"$2" 2>&1 &
  others_pid=$!
}
others_end() {
  wait "$others_pid" 2>/dev/null || true
  others_pid=""
}

# The collectors alone first: their latencies without the attacks.
sim_log "$base s: $collectors coletores sozinhos"
others_start "$base" "$dir/cpu-outros-base.txt"
base_status=0
timeout $((base + 120)) "${clients[@]}" nice -n "$sim_nice" "$build/tools/simulator/orvws-sim" --porta "$port" --carga "$collectors" \
  --duracao "$base" --usuarios "$dir/usuarios-sozinhos.txt" --origem 127.0.1.1 --pausa "$pause" \
  --relatorio "$dir/relatorio-base.txt" --precos "$dir/precos-base.csv" \
  >"$dir/resumo-base.txt" 2>/dev/null || base_status=$?
others_end
cat "$dir/resumo-base.txt"
[ "$base_status" -eq 0 ] || sim_fail "os coletores sozinhos falharam (simulador terminou com $base_status)"

"${clients[@]}" python3 "$root/tools/simulator/cpu_threads.py" --pid "$SIM_DAEMON_PID" --prefixo orv-despacho \
  --duracao $((duration + 60)) >"$dir/cpu.txt" 2>&1 &
cpu_pid=$!
sim_log "$duration s: $collectors coletores, $idle conexões ociosas, $slow remetentes lentos, HTTP e SOAP malformados, corpos grandes$([ "$scale" = 1 ] && echo ", ataques em escala")"
others_start "$duration" "$dir/cpu-outros.txt"
# The hostile clients run at the lowest priority of the clients' cores.
timeout $((duration + 180)) "${clients[@]}" nice -n 19 python3 "$root/tools/simulator/hostil.py" --porta "$port" --duracao "$duration" \
  --ociosas "$idle" --lentos "$slow" --grandes "$big" --escala "$scale" >"$dir/hostil.txt" 2>&1 &
hostile_pid=$!
sim_status=0
timeout $((duration + 120)) "${clients[@]}" nice -n "$sim_nice" "$build/tools/simulator/orvws-sim" --porta "$port" --carga "$collectors" \
  --duracao "$duration" --usuarios "$dir/usuarios-atacados.txt" --origem "$attacked_from" --pausa "$pause" \
  --relatorio "$dir/relatorio.txt" --precos "$dir/precos.csv" --progresso 10 \
  >"$dir/resumo.txt" 2>"$dir/progresso.txt" || sim_status=$?
others_end
hostile_status=0
wait "$hostile_pid" || hostile_status=$?
hostile_pid=""
cat "$dir/progresso.txt" "$dir/resumo.txt" "$dir/hostil.txt"
[ "$sim_status" -eq 0 ] || sim_fail "os coletores não trabalharam em paz (simulador terminou com $sim_status)"
[ "$hostile_status" -eq 0 ] || sim_fail "o tráfego hostil não rodou até o fim ($hostile_status)"
grep -q '^hostil: ok$' "$dir/hostil.txt" || sim_fail "o serviço respondeu mal ao tráfego hostil (PROBLEMA acima)"
kill -0 "$SIM_DAEMON_PID" 2>/dev/null || sim_fail "orvwsd caiu"
hostile_ops=$(sed -n 's/^operacoes=//p' "$dir/hostil.txt")
hostile_ops=${hostile_ops:-0}

# Latencies beside the attacks against those alone, per operation. Others' processes on the
# machine (a build) take cores from the service and the clients alike, in one phase more than in
# the other: their share is printed, so that a failure can be read.
others_base=$(sed -n 's/^cpu_outros_pct=//p' "$dir/cpu-outros-base.txt")
others_attack=$(sed -n 's/^cpu_outros_pct=//p' "$dir/cpu-outros.txt")
echo "CPU da máquina tomada por outros processos: ${others_base:-?}% com os coletores sozinhos," \
  "${others_attack:-?}% ao lado dos ataques (de $(nproc) núcleos; acima de uns 10% as duas fases comparam mal)"
for op in Auth GetSQL AddItemPesquisa Exec; do
  alone=$(sim_report_value "$dir/relatorio-base.txt" "${op}_p99_us")
  attacked=$(sim_report_value "$dir/relatorio.txt" "${op}_p99_us")
  [ -n "$alone" ] && [ -n "$attacked" ] || continue
  bound=$((alone > 10000 ? 2 * alone : 20000))
  echo "p99 de $op: $((alone / 1000)) ms sozinho, $((attacked / 1000)) ms ao lado dos ataques (limite $((bound / 1000)) ms)"
  [ "$attacked" -le "$bound" ] || sim_fail "o p99 de $op ao lado dos ataques passou do dobro: $((attacked / 1000)) ms"
done

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
wait "$cpu_pid" 2>/dev/null || true
cpu_pid=""
busy=$(sed -n 's/^cpu_thread_max_s=//p' "$dir/cpu.txt")
echo "despacho: uma thread ocupada sem pausa por no máximo ${busy:-?} s"
awk -v b="${busy:-99}" 'BEGIN { exit !(b < 2.0) }' || sim_fail "uma thread de despacho ficou ocupada ${busy:-?} s sem pausa"
sim_log "conferência"
# The collectors alone, beside the attacks and the last single one all count.
ops_after=$(grep -cE '^(Auth|GetSQL|AddItemPesquisa|Exec): ' "$dir/depois.txt" || true)
ops_base=$(sim_report_value "$dir/relatorio-base.txt" operacoes_atendidas)
{
  awk -F= -v extra="$((ops_after + ops_base))" '$1 == "operacoes_atendidas" {print $1 "=" $2 + extra; next} {print}' \
    "$dir/relatorio.txt"
  grep '^coletor=' "$dir/relatorio-base.txt"
} >"$dir/relatorio-total.txt"
cat "$dir/precos-base.csv" "$dir/precos.csv" "$dir/precos-depois.csv" >"$dir/precos-todos.csv"
sim_dump_prices "$SIM_LOCATION" "$dir/after.txt"
sim_check_prices "$dir/before.txt" "$dir/after.txt" "$dir/precos-todos.csv"
log=$(ls "$inst"/logs/*.log | head -1)
sim_check_log_lines "$log" "$dir/relatorio-total.txt"
# The entries of collectors (127.0.1.x), of hostile calls that reached an operation (127.0.3.x),
# and of nobody else; a forged entry would start a line of its own.
read -r lines hostile_lines other_lines forged <<<"$(LC_ALL=C awk '
  /^[0-9][0-9]\/[0-9][0-9]\/[0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9][0-9][0-9]\([0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9][0-9][0-9]\), Coletor\(/ {
    if (index($0, "), Coletor(127.0.1.") == 37) c++
    else if (index($0, "), Coletor(127.0.3.") == 37) h++
    else o++
    if (index($0, "Coletor(10.9.9.9 como admin)") == 40) f++
  }
  END { print c + 0, h + 0, o + 0, f + 0 }' "$log")"
want=$(sim_report_value "$dir/relatorio-total.txt" operacoes_atendidas)
[ "$lines" -eq "$want" ] || sim_fail "o log tem $lines linhas de coletor para $want operações"
[ "$hostile_lines" -eq "$hostile_ops" ] || sim_fail "o log tem $hostile_lines linhas do tráfego hostil para $hostile_ops chamadas que chegaram a uma operação"
[ "$other_lines" -eq 0 ] || sim_fail "o log tem $other_lines linhas de coletor de endereços que ninguém usou (forjadas?)"
[ "$forged" -eq 0 ] || sim_fail "o log tem $forged entradas forjadas"
summary=$(LC_ALL=C grep -a 'Aplicação recebeu ' "$dir/orvwsd.out" | tail -1)
count=$(sed -n 's/.*Aplicação recebeu \([0-9]*\) requisição(ões).*/\1/p' <<<"$summary")
[ "${count:-x}" = "$((want + hostile_ops))" ] || sim_fail "resumo do serviço: \"$summary\", esperadas $((want + hostile_ops)) requisições"
echo "log: $lines linhas de coletores, uma por operação; $hostile_lines do tráfego hostil, uma por chamada que chegou a uma operação; nenhuma outra; resumo: ${count:-?} requisições"

sim_verdict badinput
