#!/usr/bin/env bash
# Soak benchmark of the collection: 10,000 cycles (or $1) against the virtual unit on a
# loopback address, as fast as the unit answers. Prints resident memory, open descriptors and
# threads at the start and the end, and lines written against cycles run.
# Needs root (the virtual unit listens on port 161). BUILD_DIR selects the build (default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
cycles=${1:-10000}
address=127.0.61.61

. "$top/bench/common.sh"
bench_prepare collect_soak veltrane-unitsim

cat >"$work/unit.json" <<JSON
{"units": [{"address": "$address", "community": "public", "name": "Soak", "numbering": 0,
  "ports": [
    {"index": 0, "table16": {"status": 1, "description": "Soak temperature",
                             "value": {"base": 22, "amplitude": 3, "periodSeconds": 60}}},
    {"index": 1, "table17": {"status": 1, "description": "Soak humidity", "type": 3, "value": 45}}]}]}
JSON
bench_start_unit "$work/unit.json"

prefix=.1.3.6.1.4.1.$(sed -n 's/^VELTRANE_ENTERPRISE_NUMBER:STRING=//p' "$build/CMakeCache.txt")
mkdir "$work/data"
echo "collect soak: $cycles cycles against $address, two OIDs per read"
"$build/bench/collect_soak" "$address" "$work/data" "$cycles" \
  "$prefix.1.2.2.1.16.1.3.0" "$prefix.1.2.2.1.17.1.3.1"
