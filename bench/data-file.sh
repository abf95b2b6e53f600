#!/usr/bin/env bash
# A data file of 1,000,000 lines (or $1) and 8 columns, collected over two OID lists: time and
# peak memory of opening it for a plot and of exporting it to CSV, against a bare read of the
# same file that only counts its lines (measured in the same run, file in the page cache for
# all), then the time and bytes of a zoom to one hour. Goals: the plot under a second and under
# 100 MB; the export about the time of reading the file (the plot reader parses every line as
# the export must), in memory that does not grow with the file. BUILD_DIR selects the build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
lines=${1:-1000000}

. "$top/bench/common.sh"
bench_prepare bench_data_file

bench="$build/bench/bench_data_file"
file=$work/data127.0.0.2.txt
"$bench" --make "$file" "$lines"
echo "file: $lines lines, $(( $(stat -c %s "$file") / 1048576 )) MiB"
cat "$file" >/dev/null
base=$("$bench" --baseline "$file")
plot=$("$bench" --plot "$file")
export=$("$bench" --export "$file" "$work/out.csv")
printf '%s\n' "$base" "$plot" "$export"
echo "csv: $(( $(stat -c %s "$work/out.csv") / 1048576 )) MiB; header: $(head -c 160 "$work/out.csv" | head -n 1)"
bench_ratio "plot reader / bare read" "$plot" "$base"
bench_ratio "export / bare read" "$export" "$base"
bench_ratio "export / plot reader" "$export" "$plot"
"$bench" --zoom "$file"
