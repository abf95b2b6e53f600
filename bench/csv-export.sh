#!/usr/bin/env bash
# Exporting a data file of 1,000,000 lines (or $1) and 8 columns, collected over two OID lists,
# to CSV: time and peak memory of the export against a bare read of the same file that only
# counts its lines (file in the page cache for both). Goal: about the time of reading it, in
# memory that does not grow with the file. BUILD_DIR selects the build (default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
lines=${1:-1000000}

. "$top/bench/common.sh"
bench_prepare bench_csv_export

bench="$build/bench/bench_csv_export"
"$bench" --make "$work/data127.0.0.2.txt" "$lines"
echo "file: $lines lines, $(( $(stat -c %s "$work/data127.0.0.2.txt") / 1048576 )) MiB"
cat "$work/data127.0.0.2.txt" >/dev/null
base=$("$bench" --baseline "$work/data127.0.0.2.txt")
export=$("$bench" --export "$work/data127.0.0.2.txt" "$work/out.csv")
echo "$base"
echo "$export"
echo "csv: $(( $(stat -c %s "$work/out.csv") / 1048576 )) MiB; header: $(head -c 160 "$work/out.csv" | head -n 1)"
awk -v b="$base" -v p="$export" 'BEGIN {
  split(b, x, " s "); split(p, y, " s ");
  nb = split(x[1], xb, " "); np = split(y[1], yp, " ");
  printf "export / bare read: %.1fx the time\n", yp[np] / xb[nb] }'
