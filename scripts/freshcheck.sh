#!/usr/bin/env bash
# The fresh-machine check: a clean Debian 12 root (debootstrap, minbase: what the official
# container image holds) with a fresh clone of this repository's HEAD, where the README's two
# commands must do all the set-up. Runs, inside it, with an empty environment:
#   1. bash scripts/demo.sh, until the service answers (then scripts/demo_client.py calls it
#      through python3-suds, and the daemon is stopped with Ctrl+C's signal);
#   2. bash scripts/test.sh.
# Prints the time of each. Needs root (debootstrap, chroot, mounts) and Debian's mirror.
#
#   bash scripts/freshcheck.sh [--dir DIR] [--so-demo] [--manter]
#
# --dir: where the root goes (default build-fresh; emptied first). --so-demo: skip the tests.
# --manter: leave the root in place afterwards (its mounts are always undone).
# The root shares this machine's network: port 8080 and the test server's port 3050 must be free
# (do not run it beside the test suite). Certificate authorities installed locally on this
# machine (/usr/local/share/ca-certificates) are copied in, as the network they serve is shared.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

dir=$root/build-fresh
demo_only=0
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --dir) dir=$2; shift 2 ;;
    --so-demo) demo_only=1; shift ;;
    --manter) keep=1; shift ;;
    *) echo "usage: bash scripts/freshcheck.sh [--dir DIR] [--so-demo] [--manter]" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" = 0 ] || { echo "freshcheck: needs root" >&2; exit 2; }
for p in 8080 3050; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
    echo "freshcheck: port $p is in use here; stop what listens on it first" >&2; exit 2
  fi
done
command -v debootstrap >/dev/null ||
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap >/dev/null

fresh=$dir/root
log=$dir/logs
demo_pid=''
unmount() {
  for m in dev/shm dev/pts dev sys proc; do
    if mountpoint -q "$fresh/$m" 2>/dev/null; then umount -R "$fresh/$m" || umount -lR "$fresh/$m"; fi
  done
}
finish() {
  if [ -n "$demo_pid" ]; then kill -INT "$demo_pid" 2>/dev/null || true; wait "$demo_pid" 2>/dev/null || true; fi
  # Whatever still runs inside the root (the tests stop their server by PID; this is a guard).
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/root" 2>/dev/null)" = "$fresh" ]; then kill -TERM "${p#/proc/}" 2>/dev/null || true; fi
  done
  unmount
  if [ "$keep" = 0 ]; then rm -rf "$fresh"; fi
}
trap finish EXIT

# Runs a command inside the root as a fresh container would: root, HOME=/root, a plain PATH,
# no locale set.
in_root() {
  exec chroot "$fresh" /usr/bin/env -i HOME=/root TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$1"
}
inside() { (in_root "$1"); }
elapsed() { echo $(( $(date +%s) - $1 )); }

unmount
rm -rf "$fresh" "$log"
mkdir -p "$fresh" "$log"
echo "== fresh Debian 12 root in $fresh"
t=$(date +%s)
debootstrap --variant=minbase bookworm "$fresh" http://deb.debian.org/debian >"$log/debootstrap.log" 2>&1 ||
  { tail -20 "$log/debootstrap.log"; exit 1; }
rm -f "$fresh/etc/apt/sources.list"
cat > "$fresh/etc/apt/sources.list.d/debian.sources" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
cp /etc/resolv.conf "$fresh/etc/resolv.conf"
printf '127.0.0.1\tlocalhost\n::1\tlocalhost ip6-localhost ip6-loopback\n127.0.1.1\t%s\n' \
  "$(hostname)" > "$fresh/etc/hosts"
if compgen -G "/usr/local/share/ca-certificates/*.crt" >/dev/null; then
  mkdir -p "$fresh/usr/local/share/ca-certificates"
  cp /usr/local/share/ca-certificates/*.crt "$fresh/usr/local/share/ca-certificates/"
fi
mount -t proc proc "$fresh/proc"
mount --rbind /sys "$fresh/sys"
mount --bind /dev "$fresh/dev"
mount --bind /dev/pts "$fresh/dev/pts"
mount -t tmpfs tmpfs "$fresh/dev/shm"
git clone -q "$root" "$fresh/root/orvws"
echo "root made in $(elapsed "$t") s; clone at $(git -C "$fresh/root/orvws" log --oneline -1)"

echo "== bash scripts/demo.sh (log: $log/demo.log)"
t=$(date +%s)
# Every step execs the next, so this PID ends as the daemon's own (the signal reaches it).
(in_root 'cd /root/orvws && exec bash scripts/demo.sh') >"$log/demo.log" 2>&1 &
demo_pid=$!
until curl -sf -o /dev/null --max-time 2 http://127.0.0.1:8080/wsdl/IOrvWs; do
  if ! kill -0 "$demo_pid" 2>/dev/null; then
    echo "freshcheck: demo.sh ended before the service answered:" >&2; tail -30 "$log/demo.log" >&2; exit 1
  fi
  if [ "$(elapsed "$t")" -gt 3600 ]; then echo "freshcheck: no answer within an hour" >&2; exit 1; fi
  sleep 2
done
demo_s=$(elapsed "$t")
echo "service answering after $demo_s s"
echo "== a SOAP client (python3-suds, inside the root) against the demo"
inside 'cd /root/orvws && /usr/bin/python3 scripts/demo_client.py http://127.0.0.1:8080 ANA'
kill -INT "$demo_pid"
wait "$demo_pid" || true
demo_pid=''
tail -3 "$log/demo.log"

if [ "$demo_only" = 1 ]; then echo "demo: $demo_s s"; exit 0; fi
echo "== bash scripts/test.sh (log: $log/test.log)"
t=$(date +%s)
if ! inside 'cd /root/orvws && bash scripts/test.sh' >"$log/test.log" 2>&1; then
  echo "freshcheck: test.sh failed after $(elapsed "$t") s:" >&2; tail -40 "$log/test.log" >&2; exit 1
fi
test_s=$(elapsed "$t")
grep -E "tests passed|tests failed" "$log/test.log" || true
echo "demo.sh: $demo_s s to a serving daemon; test.sh: $test_s s (from the demo's packages on)"
