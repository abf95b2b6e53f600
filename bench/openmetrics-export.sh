#!/usr/bin/env bash
# OpenMetrics export of a data file of 1,000,000 lines (or $1) and 8 columns (two OID lists),
# against the plot reader on the same file, measured in the same run with the file in the page
# cache; then the same at a quarter of the lines, to show that memory does not grow with the
# file. Goal: at most twice the plot reader's time, memory flat. BUILD_DIR selects the build.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
lines=${1:-1000000}

. "$top/bench/common.sh"
bench_prepare bench_data_file

bench="$build/bench/bench_data_file"
for n in $(( lines / 4 )) "$lines"; do
    file=$work/data127.0.0.2.txt
    "$bench" --make "$file" "$n"
    cat "$file" >/dev/null
    plot=$("$bench" --plot "$file")
    om=$("$bench" --openmetrics "$file" "$work/out.om")
    echo "file: $n lines, $(( $(stat -c %s "$file") / 1048576 )) MiB; OpenMetrics $(( $(stat -c %s "$work/out.om") / 1048576 )) MiB"
    printf '%s\n' "$plot" "$om"
    bench_ratio "openmetrics / plot reader" "$om" "$plot"
    rm -f "$work/out.om"
done
