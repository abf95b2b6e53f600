#!/usr/bin/env bash
# Exporting a data file of 1,000,000 lines (or $1) and 8 columns, collected over two OID lists,
# to CSV: time and peak memory of the export against two reads of the same file measured in
# the same run (file in the page cache for all): a bare read that only counts its lines, and
# the plot reader, which parses every line as the export must. Goal: about the time of reading
# it, in memory that does not grow with the file. BUILD_DIR selects the build (default build/).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
lines=${1:-1000000}

. "$top/bench/common.sh"
bench_prepare bench_data_file

bench="$build/bench/bench_data_file"
"$bench" --make "$work/data127.0.0.2.txt" "$lines"
echo "file: $lines lines, $(( $(stat -c %s "$work/data127.0.0.2.txt") / 1048576 )) MiB"
cat "$work/data127.0.0.2.txt" >/dev/null
base=$("$bench" --baseline "$work/data127.0.0.2.txt")
plot=$("$bench" --plot "$work/data127.0.0.2.txt")
export=$("$bench" --export "$work/data127.0.0.2.txt" "$work/out.csv")
echo "$base"
echo "$plot"
echo "$export"
echo "csv: $(( $(stat -c %s "$work/out.csv") / 1048576 )) MiB; header: $(head -c 160 "$work/out.csv" | head -n 1)"
bench_ratio "export / bare read" "$export" "$base"
bench_ratio "export / plot reader" "$export" "$plot"
