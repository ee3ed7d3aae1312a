#!/usr/bin/env bash
# A slow reader of a large download: the daemon orvwsd on an embedded catalog of --produtos
# products (50 000 give the 23.8 MB script of the benchmarks), and a handheld reading its GetSQL
# at --kbps kilobytes a second (tools/simulator/leitor_lento.py). The whole script must arrive
# however long it takes (the service's send deadline measures progress, not the transfer), and
# the log must not report a failed send. Then a reader that stops after a megabyte: the service
# must cut it after its progress deadline and report the failed send in the log.
#
#   bash scripts/slowread.sh [--produtos N] [--kbps K] [--porta P] [--build DIR] [--saida DIR]
#
# Defaults: 50 000 products, 40 KB/s (about ten minutes), port 8794, build folder build-load
# (Release), results in <build folder>/slowread-out. Bounded: the reader gives up after an hour.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# shellcheck source=../tools/simulator/sim-lib.sh
. "$root/tools/simulator/sim-lib.sh"

sim_options slowread "--produtos N products=50000" "--kbps K kbps=40" "--porta P port=8794" -- "$@"
SIM_FAILURES=0
trap sim_daemon_kill EXIT

sim_build orvwsd orvws-catalog orvws-sconf
rm -rf "$out"
mkdir -p "$out/db"
location=$out/db/gestao.fdb
sim_log "catálogo de $products produtos"
"$build/tools/catalog/orvws-catalog" --database "$location" --create --seed 7 \
  --products "$products" --barcodes $((2 * products)) --prices "$products" >/dev/null
inst=$out/orvalen
sim_install "$inst" "$location" "$port"
sim_daemon_start "$inst" "$port" "$out"

sim_log "leitor a $kbps KB/s"
status=0
timeout 3600 python3 "$root/tools/simulator/leitor_lento.py" --porta "$port" --kbps "$kbps" \
  >"$out/leitor.txt" 2>&1 || status=$?
cat "$out/leitor.txt"
[ "$status" -eq 0 ] || sim_fail "o script não chegou inteiro ao leitor lento"

sim_log "leitor que para depois de 1 MB"
status=0
timeout 900 python3 "$root/tools/simulator/leitor_lento.py" --porta "$port" --kbps 4000 \
  --parar-apos $((1024 * 1024)) --origem 127.0.7.2 >"$out/parado.txt" 2>&1 || status=$?
cat "$out/parado.txt"
[ "$status" -eq 0 ] || sim_fail "o leitor que para não rodou"
sim_daemon_stop
[ "$SIM_DAEMON_STATUS" = 0 ] || sim_fail "orvwsd terminou com $SIM_DAEMON_STATUS"

log=$(ls "$inst"/logs/*.log | head -1)
failed=$(LC_ALL=C grep -c 'Erro ao enviar resposta' "$log" || true)
echo "log: $failed envio(s) com falha relatados"
[ "$failed" -eq 1 ] || sim_fail "o log relata $failed envios com falha (esperado 1: o do leitor que parou)"

sim_verdict slowread
