#!/usr/bin/env bash
# The deployment of docs/deploy.md on one machine: a Firebird server of its own (port --fb-porta)
# with one management database, two orvwsd on it (each its own installation folder and port,
# trusting the balancer's address in ProxiesConfiaveis), and HAProxy in front terminating TLS
# with a certificate and an authority this script makes, `balance source`, the PROXY header in
# version 2 to the first instance and version 1 to the second. Then collectors through it:
#
# 1. a real SOAP toolkit (python3-suds, scripts/demo_client.py) over https, from 127.0.3.1;
# 2. the simulator over https, --coletores collectors from 127.0.2.1 on, for --duracao seconds,
#    both instances up;
# 3. the same collectors again for --duracao seconds; a third of the way in, the instance that
#    served the most collectors is killed (SIGKILL).
#
# Checks: the toolkit's round passes and its log lines name 127.0.3.1; every collector line of
# every log names the collector's own address and user, never the balancer's; each collector
# was served by one instance only while both were up, and by the one HAProxy's log names; after
# the kill, the collectors of the dead instance got errors, authenticated again on the other and
# downloaded there; every price confirmed is in the database once with the value sent, the prices left
# without an answer by the kill at most once, and no key twice; the survivor stops with status 0.
#
#   bash scripts/cluster.sh [--coletores N] [--duracao S] [--pausa MS] [--porta P]
#                           [--fb-porta P] [--build DIR] [--saida DIR]
#
# Defaults: 20 collectors, 30 s per phase, a think time of 300 ms, HAProxy on 127.0.0.1:8830 and
# the instances on 8831 and 8832, Firebird on 3061, build folder build-load (Release), results in
# <build folder>/cluster-out. Exit status 0 only when every check passed. Needs root (the
# Firebird server's user, setpriv) and the packages of scripts/setup-deps.sh. Bounded: every run
# and wait has a limit, and everything started is stopped by its PID on the way out.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=../tools/simulator/sim-lib.sh
. "$root/tools/simulator/sim-lib.sh"

sim_options cluster "--coletores N collectors=20" "--duracao S duration=30" "--pausa MS pause=300" \
  "--porta P port=8830" "--fb-porta P fb_port=3061" -- "$@"
[ "$fb_port" != 3050 ] || { echo "--fb-porta: 3050 é o servidor compartilhado dos testes" >&2; exit 2; }
for tool in haproxy openssl isql-fb /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "falta $tool (bash scripts/setup-deps.sh)" >&2; exit 1; }
done

# The balancer's own address towards the instances: the one address they trust.
proxy_source=127.0.0.9
toolkit_source=127.0.3.1
first_collector=127.0.2.1
ports=($((port + 1)) $((port + 2)))
names=(orvws1 orvws2)
# Seconds HAProxy may take to listen.
ready_wait_s=15

SIM_FAILURES=0

fb_env=(ORVWS_FBSERVER_PORT="$fb_port" ORVWS_FBSERVER_DIR="$out/fbserver")
pids=()
haproxy_pid=''
cleanup() {
  local pid
  for pid in "${pids[@]}" $haproxy_pid; do
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
  done
  env "${fb_env[@]}" "$root/scripts/fbserver.sh" stop >/dev/null 2>&1 || true
}
trap cleanup EXIT

sim_build orvwsd orvws-sim orvws-catalog orvws-sconf

for p in "$port" "${ports[@]}" "$fb_port"; do
  sim_port_free "$p" || { echo "a porta $p já está em uso" >&2; exit 1; }
done
rm -rf "$out"
mkdir -p "$out"

sim_log "Firebird na porta $fb_port, uma base de gestão para $collectors coletores e o do toolkit"
env "${fb_env[@]}" "$root/scripts/fbserver.sh" start >/dev/null
sim_server_folder "$out/db"
location="127.0.0.1/$fb_port:$out/db/gestao.fdb"
toolkit_user=COL$((collectors + 1))
sim_catalog "$location" $((collectors + 1)) 1
sim_users_file "$collectors" "$out/usuarios.txt"

sim_log "certificados: uma autoridade e o certificado do balanceador (127.0.0.1, localhost)"
tls=$out/tls
mkdir -p "$tls"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=OrvWs cluster CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign" \
  -keyout "$tls/ca.key" -out "$tls/ca.pem" 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=localhost" \
  -keyout "$tls/balanceador.key" -out "$tls/balanceador.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$tls/ext.cnf"
openssl x509 -req -in "$tls/balanceador.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
  -extfile "$tls/ext.cnf" -out "$tls/balanceador.crt" 2>/dev/null
cat "$tls/balanceador.crt" "$tls/balanceador.key" >"$tls/haproxy.pem"

sim_log "duas instâncias ($(IFS=,; echo "${ports[*]}")) confiando em $proxy_source"
for i in 0 1; do
  # The service finds its installation by the folder's name on PATH.
  inst=$out/${names[$i]}/orvalen
  sim_install "$inst" "$location" "${ports[$i]}" 1
  printf 'ProxiesConfiaveis=%s\n' "$proxy_source" >>"$inst/bin/orvws.ini"
  sim_daemon_start "$inst" "${ports[$i]}" "$out/${names[$i]}"
  pids[$i]=$SIM_DAEMON_PID
done

sim_log "HAProxy em 127.0.0.1:$port (TLS, balance source)"
cat >"$out/haproxy.cfg" <<EOF
global
    log stderr format raw daemon info
    maxconn 4000
    ssl-default-bind-options ssl-min-ver TLSv1.2

defaults
    mode tcp
    log global
    option tcplog
    timeout connect 2s
    timeout client 60s
    timeout server 60s
    # A refused connection to an instance that died is tried again, the last time on another.
    retries 3
    option redispatch

frontend coletores
    bind 127.0.0.1:$port ssl crt $tls/haproxy.pem
    default_backend orvws

backend orvws
    balance source
    hash-type consistent
    source $proxy_source
    server ${names[0]} 127.0.0.1:${ports[0]} send-proxy-v2 check inter 500ms fall 2 rise 2
    server ${names[1]} 127.0.0.1:${ports[1]} send-proxy check inter 500ms fall 2 rise 2
EOF
haproxy -c -q -f "$out/haproxy.cfg"
haproxy -db -f "$out/haproxy.cfg" >"$out/haproxy.log" 2>&1 </dev/null &
haproxy_pid=$!
sim_wait_listening HAProxy "$haproxy_pid" "$port" "$ready_wait_s" "$out/haproxy.log" || exit 1
# Servers start as up; let the first two checks of each pass all the same.
sleep 1.5

log_of() { ls "$out/${names[$1]}"/orvalen/logs/*.log 2>/dev/null | head -1; }
lines_of() { local f; f=$(log_of "$1"); [ -n "$f" ] && wc -l <"$f" || echo 0; }
# collector_addresses I FROM [TO]: the distinct addresses of collector lines in instance I's log,
# lines FROM+1..TO.
collector_addresses() {
  local f; f=$(log_of "$1")
  [ -n "$f" ] || return 0
  LC_ALL=C awk -v a="$2" -v b="${3:-999999999}" 'NR > a && NR <= b && match($0, /\), Coletor\([^ )]+/) {
      print substr($0, RSTART + 11, RLENGTH - 11) }' "$f" | sort -u
}

sim_log "toolkit (suds) por https, de $toolkit_source"
if /usr/bin/python3 "$root/scripts/demo_client.py" "https://127.0.0.1:$port" "$toolkit_user" --ca "$tls/ca.pem" \
     --origem "$toolkit_source" >"$out/toolkit.txt" 2>&1; then
  cat "$out/toolkit.txt"
else
  cat "$out/toolkit.txt"
  sim_fail "o toolkit não completou a rodada"
fi
for i in 0 1; do
  f=$(log_of $i)
  [ -n "$f" ] && LC_ALL=C grep -q "Coletor($toolkit_source como $toolkit_user) autenticado com sucesso!" "$f" && toolkit_instance=$i
done
[ -n "${toolkit_instance:-}" ] || sim_fail "nenhum log tem o Auth do toolkit com o endereço $toolkit_source"
toolkit_lines=$(LC_ALL=C grep -c "), Coletor($toolkit_source" "$(log_of "${toolkit_instance:-0}")" || true)

# Prices from here on are the simulator's.
sim_dump_prices "$location" "$out/before.txt"
sim_https=(--https --ca "$tls/ca.pem" --host 127.0.0.1 --porta "$port" --carga "$collectors"
           --duracao "$duration" --usuarios "$out/usuarios.txt" --origem "$first_collector" --pausa "$pause" --progresso 10)

sim_log "fase 1: $collectors coletores por $duration s, as duas instâncias no ar"
phase1_status=0
timeout $((duration + 120)) "$build/tools/simulator/orvws-sim" "${sim_https[@]}" --relatorio "$out/relatorio1.txt" \
  --precos "$out/precos1.csv" >"$out/resumo1.txt" 2>"$out/progresso1.txt" || phase1_status=$?
cat "$out/resumo1.txt"
[ "$phase1_status" -eq 0 ] || sim_fail "fase 1: o simulador terminou com $phase1_status (falhas acima)"
end1=($(lines_of 0) $(lines_of 1))
# Who is who: the simulator's collectors and the toolkit.
{ grep '^coletor=' "$out/relatorio1.txt"; echo "coletor=$toolkit_source;$toolkit_user"; } >"$out/quem.txt"
served1=()
lines1=0
for i in 0 1; do
  collector_addresses $i 0 "${end1[$i]}" | grep -vx "$toolkit_source" >"$out/enderecos1-${names[$i]}.txt" || true
  served1[$i]=$(wc -l <"$out/enderecos1-${names[$i]}.txt")
  sim_check_log_lines "$(log_of $i)" "$out/quem.txt"
  lines1=$((lines1 + $(LC_ALL=C grep -c '), Coletor(' "$(log_of $i)" || true)))
done
lines1=$((lines1 - toolkit_lines))
ops1=$(sim_report_value "$out/relatorio1.txt" operacoes_atendidas)
[ "$lines1" -eq "$ops1" ] || sim_fail "fase 1: os logs têm $lines1 linhas de coletor para $ops1 operações"
echo "fase 1: ${names[0]} atendeu ${served1[0]} coletores, ${names[1]} ${served1[1]}"
both=$(comm -12 "$out/enderecos1-${names[0]}.txt" "$out/enderecos1-${names[1]}.txt" | wc -l)
[ "$both" -eq 0 ] || sim_fail "fase 1: $both coletores atendidos pelas duas instâncias (sem afinidade)"
[ $((served1[0] + served1[1])) -eq "$collectors" ] ||
  sim_fail "fase 1: $((served1[0] + served1[1])) coletores nos logs para $collectors"
[ "${served1[0]}" -gt 0 ] && [ "${served1[1]}" -gt 0 ] || sim_fail "fase 1: uma instância não atendeu ninguém"
for i in 0 1; do
  if LC_ALL=C grep -qE "Coletor\((127\.0\.0\.1|$proxy_source) " "$(log_of $i)"; then
    sim_fail "${names[$i]}: linhas de coletor com o endereço do balanceador"
  fi
done
# HAProxy's connection log names the instance of each connection: each collector's must be
# the instance whose log names it.
LC_ALL=C awk -v s="${names[0]}|${names[1]}" '{
    for (i = 1; i <= NF; i++) if ($i ~ ("^orvws/(" s ")$")) { split($i, b, "/"); srv = b[2] }
    split($1, a, ":"); if (srv != "" && a[1] ~ /^127\.0\.2\./) print a[1] " " srv; srv = "" }' \
  "$out/haproxy.log" | sort -u >"$out/haproxy-fase1.txt"
for i in 0 1; do
  mismatch=$(awk -v n="${names[$i]}" '$2 == n {print $1}' "$out/haproxy-fase1.txt" | sort -u |
    comm -3 - "$out/enderecos1-${names[$i]}.txt" | wc -l)
  [ "$mismatch" -eq 0 ] || sim_fail "fase 1: $mismatch coletores em que o HAProxy e o log de ${names[$i]} discordam"
done

# The instance to kill: the one that served more collectors, so that many lose it.
victim=0
[ "${served1[1]}" -gt "${served1[0]}" ] && victim=1
survivor=$((1 - victim))
kill_at=$((duration / 3))
sim_log "fase 2: $collectors coletores por $duration s; ${names[$victim]} morto (SIGKILL) aos $kill_at s"
timeout $((duration + 120)) "$build/tools/simulator/orvws-sim" "${sim_https[@]}" --relatorio "$out/relatorio2.txt" \
  --precos "$out/precos2.csv" >"$out/resumo2.txt" 2>"$out/progresso2.txt" &
sim_pid=$!
sleep "$kill_at"
at_kill=($(lines_of 0) $(lines_of 1))
kill -KILL "${pids[$victim]}"
wait "${pids[$victim]}" 2>/dev/null || true
phase2_status=0
wait "$sim_pid" || phase2_status=$?
cat "$out/resumo2.txt"
[ "$phase2_status" -le 1 ] || sim_fail "fase 2: o simulador terminou com $phase2_status"
for cls in verificacao ocupado; do
  n=$(sim_report_value "$out/relatorio2.txt" "classe_$cls")
  [ "${n:-0}" -eq 0 ] || sim_fail "fase 2: $n passos de classe $cls"
done

# The dead instance's collectors: errors, then Auth on the survivor, then a download there.
sim_check_log_lines "$(log_of $survivor)" "$out/quem.txt"
collector_addresses "$victim" "${end1[$victim]}" "${at_kill[$victim]}" >"$out/enderecos2-mortos.txt"
moved=0 stuck=0
survivor_log=$(log_of $survivor)
while read -r addr; do
  if LC_ALL=C awk -v a="${end1[$survivor]}" -v ip="$addr" 'NR > a && index($0, "), Coletor(" ip " como ") {
        if (index($0, "autenticado com sucesso!")) auth = 1; else if (auth && index($0, "executou processo de baixar as pesquisas!")) { ok = 1; exit } }
      END { exit ok ? 0 : 1 }' "$survivor_log"; then
    moved=$((moved + 1))
  else
    stuck=$((stuck + 1))
  fi
done <"$out/enderecos2-mortos.txt"
errors2=$(( $(sim_report_value "$out/relatorio2.txt" operacoes) - $(sim_report_value "$out/relatorio2.txt" classe_ok) ))
echo "fase 2: $(wc -l <"$out/enderecos2-mortos.txt") coletores em ${names[$victim]} ao morrer; $moved autenticaram de novo em" \
  "${names[$survivor]} e seguiram; $errors2 passos sem ok"
[ "$(wc -l <"$out/enderecos2-mortos.txt")" -gt 0 ] || sim_fail "fase 2: ${names[$victim]} não tinha coletores ao morrer"
[ "$stuck" -eq 0 ] || sim_fail "fase 2: $stuck coletores de ${names[$victim]} não seguiram em ${names[$survivor]}"
[ "$errors2" -gt 0 ] || sim_fail "fase 2: nenhum coletor viu a instância morrer"
# Before the kill each collector stayed on its instance.
collector_addresses "$victim" "${end1[$victim]}" "${at_kill[$victim]}" | comm -23 - "$out/enderecos1-${names[$victim]}.txt" \
  >"$out/fora-do-lugar.txt"
[ ! -s "$out/fora-do-lugar.txt" ] || sim_fail "fase 2: $(wc -l <"$out/fora-do-lugar.txt") coletores mudaram de instância antes da morte"

sim_log "parando ${names[$survivor]} e o HAProxy"
SIM_DAEMON_PID=${pids[$survivor]}
sim_daemon_stop
[ "$SIM_DAEMON_STATUS" = 0 ] || sim_fail "${names[$survivor]} terminou com $SIM_DAEMON_STATUS"
kill -TERM "$haproxy_pid" 2>/dev/null || true
wait "$haproxy_pid" 2>/dev/null || true

sim_log "conferência dos preços"
cat "$out/precos1.csv" "$out/precos2.csv" >"$out/precos.csv"
sim_dump_prices "$location" "$out/after.txt"
sim_check_prices "$out/before.txt" "$out/after.txt" "$out/precos.csv" uncertain
twice=$(cut -d';' -f1-4 "$out/after.txt" | sort | uniq -d | wc -l)
[ "$twice" -eq 0 ] || sim_fail "$twice chaves de preço gravadas duas vezes"

sim_verdict cluster "(resultados em $out)"
