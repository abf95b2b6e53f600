#!/usr/bin/env bash
# Time of one SNMP GET of 1, 16 and 64 OIDs on loopback against snmpsim: through CSnmpSession
# (on an open session, and as a collection cycle does it: open, get, close), through a bare
# snmp_sess_synch_response call, and through net-snmp's snmpget command. Prints figures only.
# As root snmpsim gets port 161 and runs as nobody; otherwise it listens on port 1161.
# BUILD_DIR selects the build (default build/); $1 sets the repetitions (default 200).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
repetitions=${1:-200}
address=127.0.62.62
prefix=.1.3.6.1.4.1.32473.98.1

. "$top/bench/common.sh"
bench_prepare bench_snmp_get

mkdir "$work/data" "$work/cache"
for i in $(seq 64); do
  echo "${prefix#.}.$i|2|$i"
done | sort -t. -k10,10n >"$work/data/public.snmprec"

options=()
if [ "$(id -u)" -eq 0 ]; then
  port=161
  chmod 755 "$work" "$work/data"
  chmod 644 "$work/data/public.snmprec"
  chown nobody:nogroup "$work/cache"
  options=(--process-user=nobody --process-group=nogroup)
else
  port=1161
fi
snmpsimd --data-dir="$work/data" --cache-dir="$work/cache" \
  --agent-udpv4-endpoint="$address:$port" "${options[@]}" >"$work/sim.out" 2>&1 &
sim_pid=$!

agent=$address
[ "$port" = 161 ] || agent=$address:$port
for _ in $(seq 300); do
  snmpget -v1 -c public -t 0.2 -r 0 "$agent" "$prefix.1" >/dev/null 2>&1 && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.out"; exit 1; }
done

"$build/bench/bench_snmp_get" "$agent" public "$prefix" "$repetitions"
