#!/usr/bin/env bash
# Opening a data file of 1,000,000 lines (or $1) and 8 columns for a plot: time and peak
# memory of the plot reader, against a bare read of the same file that only counts its lines
# (measured in the same run, file in the page cache for both). Goal: under a second and under
# 100 MB. BUILD_DIR selects the build (default build/).
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
echo "$base"
echo "$plot"
bench_ratio "plot reader / bare read" "$plot" "$base"
"$bench" --zoom "$work/data127.0.0.2.txt"
