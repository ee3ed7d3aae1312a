# Shell helpers shared by the runs of scripts/ (loadrun.sh, faultrun.sh, badinput.sh, slowread.sh,
# cluster.sh): read their command line, build the programs, make an installation folder around a
# generated catalog (embedded file or the test server of scripts/fbserver.sh), run the daemon
# orvwsd, check what a run left behind (prices in the database, the log, the closing summary
# line) and end with the verdict.
#
# Sourced, never run. Expects: set -euo pipefail, $root (the repository), $build (the build
# folder; the runs set it with sim_options). Every wait is bounded.

# shellcheck source=../../scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"

SIM_SYSDBA_PASSWORD=plinthwax
SIM_FB_PORT=3050
# Seconds the daemon may take to answer on its port, and to end after SIGTERM (it closes every
# connection and waits for the running requests first).
SIM_START_WAIT_S=30
SIM_STOP_WAIT_S=60

sim_log() { printf '== %s\n' "$*"; }
sim_fail() { printf 'FALHA: %s\n' "$*" >&2; SIM_FAILURES=$((${SIM_FAILURES:-0} + 1)); }

# sim_verdict NAME [NOTE]: the run's last line, after NAME and before NOTE: how many checks failed
# (on standard error; then the script ends with status 1), or that every one passed.
sim_verdict() {
  if [ "${SIM_FAILURES:-0}" -gt 0 ]; then
    echo "$1: $SIM_FAILURES verificação(ões) falharam${2:+ $2}" >&2
    exit 1
  fi
  echo "$1: todas as verificações passaram${2:+ $2}"
}

# sim_options NAME OPTION... -- ARGUMENT...: reads the command line of scripts/NAME.sh. Each
# OPTION is "--flag META variable=default": the variable holds the default, or VALUE after
# "--flag VALUE". Every script also takes --build DIR (sets build, made absolute; default
# build-load in the repository) and --saida DIR (sets out; default <build folder>/NAME-out).
# Anything else: the usage, made from the same table, and the script ends with status 2.
sim_options() {
  local script=$1 entry flag meta assign usage="" matched
  local -a table=()
  shift
  while [ "$1" != -- ]; do table+=("$1"); shift; done
  shift
  for entry in "${table[@]}"; do
    read -r flag meta assign <<<"$entry"
    printf -v "${assign%%=*}" '%s' "${assign#*=}"
    usage+=" [$flag $meta]"
  done
  usage+=" [--build DIR] [--saida DIR]"
  build=$root/build-load
  out=''
  while [ $# -gt 0 ]; do
    case "$1" in
      --build) build=$(cd "$2" && pwd); shift 2; continue ;;
      --saida) out=$2; shift 2; continue ;;
    esac
    matched=""
    for entry in "${table[@]}"; do
      read -r flag meta assign <<<"$entry"
      if [ "$1" = "$flag" ]; then
        printf -v "${assign%%=*}" '%s' "$2"
        matched=1
        break
      fi
    done
    [ -n "$matched" ] || { echo "uso: bash scripts/$script.sh$usage" >&2; exit 2; }
    shift 2
  done
  [ -n "$out" ] || out=$build/$script-out
}

# sim_build TARGET...: configures $build (Release when new) and builds the targets.
sim_build() {
  sim_log "build ($build)"
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVWS_BENCH=OFF \
      -DORVWS_WINDOW=OFF >/dev/null
  fi
  cmake --build "$build" -j"$(nproc)" --target "$@" >/dev/null
}

SIM_SIM() { "$build/tools/simulator/orvws-sim" "$@"; }

# sim_port_free PORT: true when nothing listens on 127.0.0.1:PORT.
sim_port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

# sim_isql LOCATION: runs the SQL on standard input as SYSDBA (the embedded engine ignores the
# password), UTF-8 on the wire; prints what isql prints.
sim_isql() {
  isql-fb -q -user SYSDBA -password "$SIM_SYSDBA_PASSWORD" -ch UTF8 "$1"
}

# sim_catalog LOCATION COLLECTORS [SERVER]: a fresh catalog in which every collector user has a
# store of its own with one entry in each of two running surveys, and products whose prices in
# one entry make them known to the store's collector, to be priced in the other.
# Users are COL1..COLn (COD_USUARIO = COD_LOJA = n), bound to their store, allowed to collect.
# With SERVER, each gets a login whose password follows the service's rule (the name itself
# from 6 characters on, otherwise the name filled with '#' up to 6).
sim_catalog() {
  local location=$1 n=$2 server=${3:-}
  local per_store=${SIM_PRICES_PER_STORE:-120}
  local products=$((n * per_store))
  "$build/tools/catalog/orvws-catalog" --database "$location" --create --seed 7 \
    --users "$n" --stores "$n" --entries "$n" --running 2 --past 1 \
    --products "$products" --prices "$products" --past-prices 0 >/dev/null
  {
    echo "UPDATE TAB_USUARIO SET DES_USUARIO = 'COL' || COD_USUARIO, COD_LOJA = COD_USUARIO,"
    echo "  FLG_MULT_LOJA = 'N', FLG_COLE_WIFI = 'S';"
    echo "UPDATE UCS_USERS SET USER_NAME = 'col' || TRIM(USER_ID);"
    echo "COMMIT;"
    if [ -n "$server" ]; then
      local i name pw
      for ((i = 1; i <= n; i++)); do
        name="COL$i"
        pw=$name
        while [ ${#pw} -lt 6 ]; do pw="$pw#"; done
        echo "CREATE OR ALTER USER $name PASSWORD '$pw' USING PLUGIN Srp;"
      done
      echo "COMMIT;"
    fi
  } | sim_isql "$location" >/dev/null
}

# sim_users_file N FILE: the users of sim_catalog, one per line with its store.
sim_users_file() {
  local i
  for ((i = 1; i <= $1; i++)); do echo "COL$i;$i"; done >"$2"
}

# sim_server_folder DIR: a folder the Firebird server's user may create databases in.
sim_server_folder() {
  mkdir -p "$1"
  chown firebird:firebird "$1"
  chmod 0770 "$1"
}

# sim_install INST LOCATION PORT [SERVER]: the installation folder: SCONF.xml naming the
# database, the daemon copied to INST/bin beside its orvws.ini. For a server the file holds
# the host (with its port) and the path apart; the service joins them with ':' and logs in
# with its default Firebird credentials (the file's are not read for Firebird).
sim_install() {
  local inst=$1 location=$2 port=$3 server=${4:-}
  mkdir -p "$inst/bin"
  if [ -n "$server" ]; then
    "$build/tools/sconf/orvws-sconf" --out "$inst/SCONF.xml" --tipo 0 --servidor "${location%%:*}" \
      --gestao "${location#*:}" --online "${location#*:}" >/dev/null
  else
    "$build/tools/sconf/orvws-sconf" --out "$inst/SCONF.xml" --tipo 0 --servidor localhost \
      --gestao "$location" --online "$location" >/dev/null
  fi
  cp -f "$build/app/orvwsd/orvwsd" "$inst/bin/orvwsd"
  printf '[Conf]\nNumPorta=%s\nIniAut=1\n' "$port" >"$inst/bin/orvws.ini"
}

# sim_prepare KIND DIR COLLECTORS PORT: a whole installation in DIR for an embedded database
# ("embutido") or one on the test server ("servidor", started when it is not running; then
# SIM_STARTED_SERVER=1): catalog, DIR/usuarios.txt, DIR/orvalen, and the prices before the run
# in DIR/before.txt. Sets SIM_LOCATION and SIM_INST.
sim_prepare() {
  local kind=$1 dir=$2 n=$3 port=$4 server=""
  rm -rf "$dir"
  mkdir -p "$dir"
  SIM_INST=$dir/orvalen
  if [ "$kind" = servidor ]; then
    server=1
    if ! "$root/scripts/fbserver.sh" status >/dev/null; then
      "$root/scripts/fbserver.sh" start >/dev/null
      SIM_STARTED_SERVER=1
    fi
    sim_server_folder "$dir/db"
    SIM_LOCATION="127.0.0.1/$SIM_FB_PORT:$dir/db/gestao.fdb"
  else
    mkdir -p "$dir/db"
    SIM_LOCATION="$dir/db/gestao.fdb"
  fi
  sim_catalog "$SIM_LOCATION" "$n" "$server"
  sim_users_file "$n" "$dir/usuarios.txt"
  sim_install "$SIM_INST" "$SIM_LOCATION" "$port" "$server"
  sim_dump_prices "$SIM_LOCATION" "$dir/before.txt"
}

# sim_daemon_start INST PORT OUTDIR: starts orvwsd with INST on PATH (on the CPUs that
# SIM_DAEMON_CPUS lists, when set; with SIM_DAEMON_SESSION=1 in a session of its own, so that
# the scheduler weighs it apart from the clients, as a service of its own is); sets
# SIM_DAEMON_PID.
sim_daemon_start() {
  local inst=$1 port=$2 out=$3
  sim_port_free "$port" || { echo "a porta $port já está em uso" >&2; return 1; }
  local pin=()
  [ -z "${SIM_DAEMON_CPUS:-}" ] || pin=(taskset -c "$SIM_DAEMON_CPUS")
  [ "${SIM_DAEMON_SESSION:-0}" != 1 ] || pin+=(setsid)
  PATH="$inst:$PATH" LANG=C.UTF-8 "${pin[@]}" "$inst/bin/orvwsd" >"$out/orvwsd.out" 2>"$out/orvwsd.err" </dev/null &
  SIM_DAEMON_PID=$!
  sim_wait_listening orvwsd "$SIM_DAEMON_PID" "$port" "$SIM_START_WAIT_S" "$out/orvwsd.err"
}

# sim_wait_listening NAME PID PORT SECONDS OUTPUT: waits until the program NAME started as PID
# accepts on 127.0.0.1:PORT; fails, saying so, when it ends first (showing its OUTPUT) or does not
# answer within SECONDS.
sim_wait_listening() {
  local name=$1 status=0
  proc_wait_port "$2" 127.0.0.1 "$3" "$4" || status=$?
  case $status in
    0) return 0 ;;
    1) echo "$name terminou na partida:" >&2; cat "$5" >&2 ;;
    *) echo "$name não atendeu na porta $3" >&2 ;;
  esac
  return 1
}

# sim_daemon_kill: on the way out, SIGKILL to the daemon of sim_daemon_start if it still runs.
sim_daemon_kill() {
  if [ -n "${SIM_DAEMON_PID:-}" ] && kill -0 "$SIM_DAEMON_PID" 2>/dev/null; then kill -KILL "$SIM_DAEMON_PID" 2>/dev/null || true; fi
}

# sim_daemon_stop: SIGTERM, then waits; sets SIM_DAEMON_STATUS to the exit status (KILLED
# after the bounded wait). Not in a subshell: only this shell may wait for the daemon.
sim_daemon_stop() {
  local pid=$SIM_DAEMON_PID
  kill -TERM "$pid" 2>/dev/null || true
  if ! proc_wait_gone "$pid" "$SIM_STOP_WAIT_S"; then
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    SIM_DAEMON_STATUS=KILLED
    return 0
  fi
  SIM_DAEMON_STATUS=0
  wait "$pid" 2>/dev/null || SIM_DAEMON_STATUS=$?
}

# sim_rss_kb PID: resident set size in kB (0 when the process is gone).
sim_rss_kb() { awk '/^VmRSS:/ {print $2; found=1} END {if (!found) print 0}' "/proc/$1/status" 2>/dev/null || echo 0; }

# sim_dump_prices LOCATION FILE: every price row as header;entry;store;product;cents, sorted.
sim_dump_prices() {
  {
    echo "SET HEADING OFF;"
    echo "SELECT 'P;' || COD_PESQUISA_HEADER || ';' || COD_PESQUISA || ';' || COD_LOJA || ';' ||"
    echo "  TRIM(COD_PRODUTO) || ';' || COALESCE(CAST(VAL_PESQUISA * 100 AS INTEGER), -1)"
    echo "  FROM TAB_PRODUTO_PESQUISA;"
  } | sim_isql "$1" | sed -n 's/^P;\(.*[^ ]\) *$/\1/p' | sort >"$2"
}

# sim_check_prices BEFORE AFTER PRICES_CSV [UNCERTAIN_OK]: the rows added between the two
# dumps are exactly the prices the service confirmed ('S'), each once and with the value sent.
# With UNCERTAIN_OK (a run with faults), prices without an answer ('?') or answered "false"
# ('N': an error after the insert still answers "false") may be present or absent, but only
# whole and with the value sent.
sim_check_prices() {
  local before=$1 after=$2 csv=$3 uncertain_ok=${4:-} dir
  dir=$(dirname "$after")
  comm -13 "$before" "$after" >"$dir/added.txt"
  comm -23 "$before" "$after" >"$dir/removed.txt"
  awk -F';' '$7 == "S" {print $1";"$2";"$3";"$4";"$6}' "$csv" | sort >"$dir/confirmed.txt"
  awk -F';' '$7 == "?" || $7 == "N" {print $1";"$2";"$3";"$4";"$6}' "$csv" | sort >"$dir/uncertain.txt"
  local dup
  dup=$(awk -F';' '$7 == "S" {print $1";"$2";"$3";"$4}' "$csv" | sort | uniq -d | wc -l)
  [ "$dup" -eq 0 ] || sim_fail "$dup preços confirmados duas vezes para a mesma chave"
  [ ! -s "$dir/removed.txt" ] || sim_fail "$(wc -l <"$dir/removed.txt") linhas de preço sumiram ou mudaram de valor"
  local missing extra
  missing=$(comm -23 "$dir/confirmed.txt" "$dir/added.txt" | wc -l)
  [ "$missing" -eq 0 ] || sim_fail "$missing preços confirmados não estão no banco com o valor enviado"
  if [ -n "$uncertain_ok" ]; then
    extra=$(comm -13 "$dir/confirmed.txt" "$dir/added.txt" | comm -23 - "$dir/uncertain.txt" | wc -l)
  else
    extra=$(comm -13 "$dir/confirmed.txt" "$dir/added.txt" | wc -l)
  fi
  [ "$extra" -eq 0 ] || sim_fail "$extra linhas de preço no banco que nenhum coletor teve confirmadas"
  echo "preços: $(wc -l <"$dir/confirmed.txt") confirmados, $(wc -l <"$dir/added.txt") linhas novas no banco" \
    "($(comm -12 "$dir/uncertain.txt" "$dir/added.txt" | wc -l) de $(wc -l <"$dir/uncertain.txt") sem resposta ou com \"false\" gravados)"
}

# sim_report_value FILE KEY: a value of the simulator's key=value report.
sim_report_value() { awk -F= -v k="$2" '$1 == k {print $2; exit}' "$1"; }

# sim_check_log_lines LOGFILE REPORT: every entry of the log is whole: its marks, its text and
# CR LF, nothing of another entry inside it; and every collector line names the user that its
# address authenticated as. Text from requests has its line breaks written visible, so the one
# entry that runs over two lines is an Exec error line: the statement, the entry's own line
# break, then "; Erro: " and the database's message. Entries of addresses that start with
# SIM_HOSTILE_PREFIX (hostile traffic) may quote anything and name any user.
sim_check_log_lines() {
  local log=$1 report=$2 bad wrong
  bad=$(LC_ALL=C awk -v hostil="${SIM_HOSTILE_PREFIX:-}" '
    BEGIN { prev_cr = 1 }
    /^[0-9][0-9]\/[0-9][0-9]\/[0-9][0-9][0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9][0-9][0-9]\([0-9][0-9]:[0-9][0-9]:[0-9][0-9]\.[0-9][0-9][0-9]\), ./ {
      if (!prev_cr) { n++; if (n == 1) print "antes de: " $0 > "/dev/stderr" }
      multi = index($0, "Erro ao executar a Query: ") > 0
      line = $0
      own = hostil != "" && index($0, "), Coletor(" hostil) == 37
      if (!own && gsub(/\), Coletor\(/, "&", line) > 1) { n++; if (n == 1) print "misturada: " $0 > "/dev/stderr" }
      prev_cr = /\r$/
      next
    }
    {
      if (!multi || index($0, "; Erro: ") != 1) { n++; if (n == 1) print "solta: " $0 > "/dev/stderr" }
      multi = 0
      prev_cr = /\r$/
    }
    END { if (!prev_cr) n++; print n + 0 }' "$log")
  [ "$bad" -eq 0 ] || sim_fail "$bad linhas do log incompletas ou misturadas (exemplo acima)"
  wrong=$(LC_ALL=C awk -F'=' -v hostil="${SIM_HOSTILE_PREFIX:-}" '
    FNR == NR { if ($1 == "coletor") { split($2, a, ";"); user[a[1]] = a[2] } next }
    hostil != "" && index($0, "), Coletor(" hostil) == 37 { next }
    match($0, /\), Coletor\([^ )]+ como [^)]+\)/) {
      s = substr($0, RSTART + 11, RLENGTH - 12); split(s, b, " como ");
      if (!(b[1] in user) || user[b[1]] != b[2]) { n++; if (n == 1) print "exemplo: " s > "/dev/stderr" }
    } END { print n + 0 }' "$report" "$log")
  [ "$wrong" -eq 0 ] || sim_fail "$wrong linhas do log com usuário de outro endereço"
}

# sim_check_log LOGFILE REPORT [OUT]: sim_check_log_lines, and the collectors' lines match the
# operations the simulator made, one line each; the closing summary (OUT: the daemon's output)
# counts exactly those requests.
sim_check_log() {
  local log=$1 report=$2 out=${3:-}
  sim_check_log_lines "$log" "$report"
  local ops lines count=""
  ops=$(sim_report_value "$report" operacoes_atendidas)
  lines=$(LC_ALL=C grep -c '), Coletor(' "$log" || true)
  [ "$lines" -eq "$ops" ] || sim_fail "o log tem $lines linhas de coletor para $ops operações"
  local pair
  for pair in "Auth_ok:autenticado com sucesso!" "GetSQL_atendidas:executou processo de baixar as pesquisas!" \
    "AddItemPesquisa_ok: adicionou um item a Pesquisa" "Exec_atendidas:executou processo de atualização de pesquisas("; do
    local key=${pair%%:*} text=${pair#*:} want got
    want=$(sim_report_value "$report" "$key")
    got=$(LC_ALL=C grep -cF -- "$text" "$log" || true)
    [ "$got" -eq "$want" ] || sim_fail "log: $got linhas \"$text\" para $want operações ($key)"
  done
  if [ -n "$out" ]; then
    local summary
    summary=$(LC_ALL=C grep -a 'Aplicação recebeu ' "$out" | tail -1)
    count=$(sed -n 's/.*Aplicação recebeu \([0-9]*\) requisição(ões).*/\1/p' <<<"$summary")
    [ "${count:-x}" = "$ops" ] || sim_fail "resumo do serviço: \"$summary\", esperadas $ops requisições"
  fi
  echo "log: $(wc -l <"$log") linhas inteiras, $lines de coletores, uma por operação; resumo: ${count:-?} requisições"
}
