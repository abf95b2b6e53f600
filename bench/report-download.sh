#!/usr/bin/env bash
# Download benchmarks: report writing speed (no network), then a whole download of the demo
# unit from the virtual unit on a loopback address of its own. The second part needs root
# (port 811). BUILD_DIR selects the build (default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
address=127.0.62.62

. "$top/bench/common.sh"
bench_prepare bench_report_download veltrane-unitsim

"$build/bench/bench_report_download" report "$work"

if [ "$(id -u)" != 0 ]; then
  echo "whole download: skipped (the virtual unit needs root for port 811)"
  exit 0
fi
sed "s/\"address\": *\"[0-9.]*\"/\"address\": \"$address\"/" "$top/tools/unitsim/units/demo.json" >"$work/unit.json"
"$build/tools/unitsim/veltrane-unitsim" "$work/unit.json" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q "ready" "$work/sim.out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.out"; exit 1; }
  sleep 0.1
done
mkdir "$work/reports"
"$build/bench/bench_report_download" unit "$address" "$work/reports"
ls -l "$work/reports" | sed 's/^/  /'
