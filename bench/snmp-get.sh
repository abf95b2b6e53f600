#!/usr/bin/env bash
# Time of one SNMP GET of 1, 16 and 64 OIDs on loopback: through CSnmpSession (on an open
# session, and as a collection cycle does it: open, get, close), through a bare
# snmp_sess_synch_response call, and through net-snmp's snmpget command; then, per OID count,
# the ratios: our Get and our cycle against the bare call, snmpget against our cycle.
# Prints figures only. Usage: bench/snmp-get.sh [--agent unitsim|snmpsim] [repetitions]
#   unitsim (default): the virtual unit, whose answer costs little, so the figures show us;
#   snmpsim: snmpsim (about 12 ms per 64-OID answer, which hides our own cost).
# The agent listens on port 161, so run it as root (snmpsim then runs as nobody).
# BUILD_DIR selects the build (default build/); repetitions default to 200.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
agent_kind=unitsim
if [ "${1:-}" = --agent ]; then
  agent_kind=${2:?--agent unitsim or snmpsim}
  shift 2
fi
repetitions=${1:-200}
address=127.0.62.62

. "$top/bench/common.sh"
if [ "$(id -u)" -ne 0 ]; then
  echo "snmp-get.sh: the agent needs port 161: run as root" >&2
  exit 1
fi

case "$agent_kind" in
  unitsim)
    bench_prepare bench_snmp_get veltrane-unitsim
    # Family 30 of a one-based unit with 64 entries: its status column answers INTEGER 0.
    prefix=.1.3.6.1.4.1.32473.1.2.2.1.19.30.2.1.5
    cat >"$work/unit.json" <<JSON
{"units": [{"address": "$address", "numbering": 1, "families": {"30": {"count": 64}}}]}
JSON
    bench_start_unit "$work/unit.json" ;;
  snmpsim)
    bench_prepare bench_snmp_get
    prefix=.1.3.6.1.4.1.32473.98.1
    mkdir "$work/data" "$work/cache"
    for i in $(seq 64); do
      echo "${prefix#.}.$i|2|$i"
    done | sort -t. -k10,10n >"$work/data/public.snmprec"
    chmod 755 "$work" "$work/data"
    chmod 644 "$work/data/public.snmprec"
    chown nobody:nogroup "$work/cache"
    snmpsimd --data-dir="$work/data" --cache-dir="$work/cache" --agent-udpv4-endpoint="$address:161" \
      --process-user=nobody --process-group=nogroup >"$work/sim.out" 2>&1 &
    sim_pid=$!
    for _ in $(seq 300); do
      snmpget -v1 -c public -t 0.2 -r 0 "$address" "$prefix.1" >/dev/null 2>&1 && break
      kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.out"; exit 1; }
    done ;;
  *)
    echo "snmp-get.sh: --agent unitsim or snmpsim, not $agent_kind" >&2
    exit 2 ;;
esac

echo "Agent: $agent_kind"
"$build/bench/bench_snmp_get" "$address" public "$prefix" "$repetitions"
