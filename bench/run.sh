#!/usr/bin/env bash
# The benchmark: times the installer's whole run against the floor (a minimal program doing the same
# copy and start) and against an NSIS installer with the same payload, for payloads of 1, 32 and
# 160 MiB; reads the installer's peak private memory; compares the installer's cabinet expansion with
# Wine's expand tool; measures the installer without payload. Prints a table, writes CSV files and a
# PNG plot. Installs what it needs first. See bench/README.md.
#
# Settings (environment): BENCH_BUILD_DIR (build-bench), BENCH_CPU (the last core), BENCH_ROUNDS (15),
# BENCH_WARM_UP (2).
set -eu
cd "$(dirname "$0")/.."
source_root=$PWD

packages="cmake ninja-build g++-mingw-w64-x86-64 mingw-w64-tools wine wine64 gcab 7zip googletest nsis gnuplot-nox"
missing=$(for p in $packages; do dpkg -s "$p" >/dev/null 2>&1 || echo "$p"; done)
if [ -n "$missing" ]; then
  apt-get update
  DEBIAN_FRONTEND=noninteractive apt-get install -y $missing
fi

build=${BENCH_BUILD_DIR:-build-bench}
cpu=${BENCH_CPU:-$(($(nproc) - 1))}
rounds=${BENCH_ROUNDS:-15}
warm_up=${BENCH_WARM_UP:-2}
cmake -S . -B "$build" -G Ninja -DBUILD_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target bench

build=$(cd "$build" && pwd)
bench=$build/bench
results=$bench/results
mkdir -p "$results"
rm -f "$results"/*
windows_path() { printf 'Z:%s' "${1//\//\\}"; }

# The whole measurement sits on one core: a freshly started server, Wine's own services and every
# program run; wandering between cores makes Wine's timings vary several-fold.
export WINEPREFIX=$build/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
stop_server() { wineserver -k 2>/dev/null || true; }
trap stop_server EXIT
stop_server
wineserver -w 2>/dev/null || true
taskset -c "$cpu" wineserver -p
taskset -c "$cpu" wine cmd /c exit 0 </dev/null >/dev/null 2>&1

# What an interrupted earlier run left would read as left behind by this one.
find "$bench/run" -mindepth 1 -type d -exec rm -rf {} +
echo "Running on core $cpu: $warm_up warm-up runs, then $rounds rounds of every case"
# Wine reports, for each run from drive Z:, that the root's volume label cannot be read: noise here.
status=0
taskset -c "$cpu" wine "$bench/run/bench_runner.exe" "$(windows_path "$bench/plan.tsv")" "$warm_up" "$rounds" \
  "$(windows_path "$results/runs.csv")" "$(windows_path "$results/summary.csv")" \
  2> >(grep -v 'FS volume label and serial are not available' >&2) || status=$?
# Every contender deletes what it unpacked: a directory left in the run directory is a failure.
leftovers=$(find "$bench/run" -mindepth 1 -type d)
if [ -n "$leftovers" ]; then
  echo "Left behind by a run:" $leftovers >&2
  status=1
fi
[ "$status" -eq 0 ] || { echo "The benchmark failed (exit code $status)" >&2; exit "$status"; }

stub=$build/bin/installer_stub.exe
"$source_root/bench/report.sh" "$bench" "$stub" | tee "$results/report.txt"
gnuplot -e "table='$results/table.csv'; output='$results/time_vs_payload_size.png'" "$source_root/bench/plot.gp"
echo
echo "Written: $results/summary.csv (medians per case), runs.csv (every timed run), table.csv, targets.csv,"
echo "         report.txt and time_vs_payload_size.png"
