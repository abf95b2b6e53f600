# Shared by the benchmark scripts: builds the targets they name in $build (configuring it
# first if needed), makes a scratch folder $work and stops the peer $sim_pid on exit.
bench_prepare() {
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target "$@" >/dev/null
  work=$(mktemp -d)
  sim_pid=
  trap bench_cleanup EXIT
}

bench_cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}

# Starts the virtual unit of this build on the given description as $sim_pid and waits until
# it listens.
bench_start_unit() {
  "$build/tools/unitsim/veltrane-unitsim" "$@" >"$work/sim.out" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    grep -q "ready" "$work/sim.out" 2>/dev/null && return 0
    kill -0 "$sim_pid" 2>/dev/null || { cat "$work/sim.out"; exit 1; }
    sleep 0.1
  done
}

# Prints "<label>: N.Nx the time" for two lines of bench_data_file (the seconds precede " s ").
bench_ratio() {
  awk -v label="$1" -v a="$2" -v b="$3" 'BEGIN {
    split(a, x, " s "); split(b, y, " s ");
    na = split(x[1], xa, " "); nb = split(y[1], yb, " ");
    printf "%s: %.1fx the time\n", label, xa[na] / yb[nb] }'
}
