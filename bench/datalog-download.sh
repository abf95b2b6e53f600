#!/usr/bin/env bash
# A full datalog download from the virtual unit on loopback: 16 channels of 32,767 four-byte
# records each, against the floor of as many plain UDP round trips measured in the same run.
# Needs root (the virtual unit listens on port 811); runs in a private network namespace where
# it can. BUILD_DIR selects the build (default build/); $1 sets the runs (default 3).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
runs=${1:-3}
address=127.0.81.81

if [ "${VELTRANE_ISOLATED:-}" != 1 ]; then
  exec "$top/scripts/isolated" "$0" "$@"
fi

. "$top/bench/common.sh"
bench_prepare bench_datalog_download veltrane-unitsim

channels=
for port in 0 1 2 3 4 5 6 7; do
  for channel in 0 1; do
    channels+="${channels:+,}{\"port\": $port, \"channel\": $channel, \"width\": 4, \"capacity\": 32767,
      \"writeIndex\": $((port * 1000 + channel)), \"records\": {\"count\": 32767, \"ramp\": {\"start\": -16000}}}"
  done
done
cat >"$work/unit.json" <<JSON
{"units": [{"address": "$address", "datalog": {"password": "orchid", "channels": [$channels]}}]}
JSON
bench_start_unit "$work/unit.json"
"$build/bench/bench_datalog_download" "$address" orchid "$runs"
