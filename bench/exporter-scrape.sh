#!/usr/bin/env bash
# Scrape benchmark of veltrane-cli serve: COUNT virtual units (default 200) on as many loopback
# addresses, served by one veltrane-unitsim, each answering after DELAY ms (default 100) as a
# unit across a network would; four sensors per unit. Prints the time until every unit's first
# discovery scan ended, then, over SCRAPES (default 20) scrapes of all units at once: the scrape
# time against the slowest unit's request time in the same scrape, and against one unit scraped
# alone (the baseline, measured in the same run), then the exporter's CPU time (per scrape and
# per unit per scrape) and resident memory, the page's size without and with gzip and the time a
# client waits for it each way (curl's total, the compression included). Then the same exporter
# probed as Prometheus probes it (bench_probe): one /probe of one unit, SCRAPES times, against
# the unit's own request time in the same answer, and every unit probed once, 50 probes at a
# time, with the exporter's CPU time per probe (a few probes alone take less than the clock's
# tick). Nothing asserts on time.
# Needs root (the units listen on port 161):
#   sudo scripts/isolated bench/exporter-scrape.sh [COUNT [DELAY]]
# BUILD_DIR selects the build (default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
units=${1:-200}
delay=${2:-${DELAY_MS:-100}}
scrapes=${SCRAPES:-20}

. "$top/bench/common.sh"
bench_prepare veltrane-cli veltrane-unitsim bench_probe
exporters=()
cleanup_all() {
  for pid in "${exporters[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  bench_cleanup
}
trap cleanup_all EXIT

prefix=.1.3.6.1.4.1.$(sed -n 's/^VELTRANE_ENTERPRISE_NUMBER:STRING=//p' "$build/CMakeCache.txt")
address() { echo "127.77.$(($1 / 250)).$(($1 % 250 + 1))"; }

# The units, and two configurations: all of them, and the first one alone.
{
  echo '{"units": ['
  for i in $(seq 0 $((units - 1))); do
    [ "$i" -gt 0 ] && echo ','
    printf '{"address": "%s", "name": "Bench %d", "numbering": 0, "faults": {"delayMs": %d}, "ports": [' \
      "$(address "$i")" "$i" "$delay"
    for p in 0 1 2 3; do
      [ "$p" -gt 0 ] && printf ','
      printf '{"index": %d, "table16": {"status": 1, "description": "Sensor %d", "value": %d}}' "$p" "$p" $((i + p))
    done
    printf ']}'
  done
  echo ']}'
} >"$work/units.json"
config() { # first last
  echo '{"timeout": 2, "retries": 0, "rescanMinutes": 0, "units": ['
  for i in $(seq "$1" "$2"); do
    [ "$i" -gt "$1" ] && echo ','
    printf '{"name": "Bench %d", "address": "%s", "community": "public", "oids": [' "$i" "$(address "$i")"
    for p in 0 1 2 3; do
      [ "$p" -gt 0 ] && printf ','
      printf '"%s.1.2.2.1.16.1.3.%d"' "$prefix" "$p"
    done
    printf ']}'
  done
  echo ']}'
}
config 0 $((units - 1)) >"$work/all.json"
config 0 0 >"$work/one.json"
chmod 600 "$work/all.json" "$work/one.json"

bench_start_unit "$work/units.json"

# Starts an exporter on port $2 for config $1 and waits until every unit's scan has ended;
# scan_seconds is then the time that took.
start_exporter() {
  local count started
  count=$(grep -c '"name"' "$1")
  started=$(date +%s.%N)
  "$build/cli/veltrane-cli" serve --listen "127.77.255.1:$2" "$1" 2>"$1.log" &
  exporters+=($!)
  for _ in $(seq 6000); do
    local scanned
    scanned=$(grep -c ': scan ' "$1.log" 2>/dev/null) || true
    if [ "${scanned:-0}" -ge "$count" ]; then
      scan_seconds=$(awk -v a="$(date +%s.%N)" -v b="$started" 'BEGIN { print a - b }')
      return 0
    fi
    sleep 0.1
  done
  echo "the scans did not end within 600 s:"; tail -5 "$1.log"; exit 1
}

# Scrapes port $1 $scrapes times; prints "scrape_seconds slowest_unit_seconds" per scrape.
# A request within a second of the last scrape gets that page: wait past it every time.
scrape() {
  for _ in $(seq "$scrapes"); do
    sleep 1.05
    curl -sf "http://127.77.255.1:$1/metrics" | awk '
      /^veltrane_unit_request_seconds/ { if ($NF > slowest) slowest = $NF }
      /^veltrane_unit_up/ { up += $NF }
      /^veltrane_scrape_duration_seconds/ { scrape = $NF }
      END { printf "%s %s %d\n", scrape, slowest, up }'
  done
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
cpu_seconds() { awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"; }
memory() { awk '/^VmRSS|^VmHWM/ { printf "%s %d MiB  ", $1, $2 / 1024 }' "/proc/$1/status"; }

start_exporter "$work/one.json" 9812
scrape 9812 >"$work/one.txt"
one=$(cut -d' ' -f1 "$work/one.txt" | median)

start_exporter "$work/all.json" 9811
pid=${exporters[-1]}
cpu_before=$(cpu_seconds "$pid")
scrape 9811 >"$work/all.txt"
cpu_after=$(cpu_seconds "$pid")
all=$(cut -d' ' -f1 "$work/all.txt" | median)
slowest=$(cut -d' ' -f2 "$work/all.txt" | median)
up=$(cut -d' ' -f3 "$work/all.txt" | sort -n | head -1)

# The page both ways, as a client gets it: its bytes and the time until the last one came.
page_both_ways() {
  for _ in $(seq "$scrapes"); do
    sleep 1.05
    curl -s -o /dev/null "$@" -w '%{size_download} %{time_total}\n' "http://127.77.255.1:9811/metrics"
  done
}
page_both_ways >"$work/plain.txt"
page_both_ways -H 'Accept-Encoding: gzip' >"$work/gzip.txt"
plain_bytes=$(cut -d' ' -f1 "$work/plain.txt" | median)
gzip_bytes=$(cut -d' ' -f1 "$work/gzip.txt" | median)
plain_seconds=$(cut -d' ' -f2 "$work/plain.txt" | median)
gzip_seconds=$(cut -d' ' -f2 "$work/gzip.txt" | median)

echo "exporter scrape: $units units, $delay ms answer delay, 4 OIDs each, $scrapes scrapes (medians)"
printf '  first scans of all units:  %.1f s\n' "$scan_seconds"
printf '  one unit alone:            scrape %.4f s\n' "$one"
printf '  all %d units at once:     scrape %.4f s (fewest units up in a scrape: %d)\n' "$units" "$all" "$up"
printf '  slowest unit in a scrape:  request %.4f s\n' "$slowest"
printf '  scrape / slowest unit:     %.2f   (target: at most 2)\n' "$(awk -v a="$all" -v s="$slowest" 'BEGIN { print a / s }')"
printf '  scrape / one unit alone:   %.2f\n' "$(awk -v a="$all" -v o="$one" 'BEGIN { print a / o }')"
printf '  exporter CPU time:         %.3f s for %d scrapes (%.1f ms each)\n' \
  "$(awk -v a="$cpu_after" -v b="$cpu_before" 'BEGIN { print a - b }')" "$scrapes" \
  "$(awk -v a="$cpu_after" -v b="$cpu_before" -v n="$scrapes" 'BEGIN { print (a - b) * 1000 / n }')"
printf '  CPU per unit per scrape:   %.1f µs\n' \
  "$(awk -v a="$cpu_after" -v b="$cpu_before" -v n="$scrapes" -v u="$units" 'BEGIN { print (a - b) * 1e6 / n / u }')"
echo "  exporter memory:           $(memory "$pid")"
printf '  page:                      %.0f bytes; gzipped %.0f bytes (%.1f %%)\n' "$plain_bytes" "$gzip_bytes" \
  "$(awk -v g="$gzip_bytes" -v p="$plain_bytes" 'BEGIN { print 100 * g / p }')"
printf '  page as a client waits:    %.4f s plain, %.4f s gzipped (gzipped / plain %.2f)\n' "$plain_seconds" \
  "$gzip_seconds" "$(awk -v g="$gzip_seconds" -v p="$plain_seconds" 'BEGIN { print g / p }')"

# Prometheus-style: one target per probe, on the exporter serving all units.
for i in $(seq 0 $((units - 1))); do address "$i"; done >"$work/targets.txt"
address 0 >"$work/first.txt"
read -r _ _ _ _ probe_one unit_one < <("$build/bench/bench_probe" 127.77.255.1 9811 "$work/first.txt" 1 "$scrapes")
cpu_before=$(cpu_seconds "$pid")
read -r wall ok refused up_probed _ _ < <("$build/bench/bench_probe" 127.77.255.1 9811 "$work/targets.txt" 50 1)
cpu_after=$(cpu_seconds "$pid")
printf '  one /probe of one unit:    probe %.4f s, the unit request %.4f s (medians of %d)\n' "$probe_one" "$unit_one" "$scrapes"
printf '  probe / unit request:      %.2f   (target: at most 1.5)\n' "$(awk -v a="$probe_one" -v s="$unit_one" 'BEGIN { print a / s }')"
printf '  all %d units probed, 50 at a time: %.2f s (%d answered, %d refused, %d units up)\n' \
  "$units" "$wall" "$ok" "$refused" "$up_probed"
printf '  CPU per unit probed:       %.1f µs   (per unit per /metrics scrape above)\n' \
  "$(awk -v a="$cpu_after" -v b="$cpu_before" -v u="$units" 'BEGIN { print (a - b) * 1e6 / u }')"
