#!/usr/bin/env bash
# The benchmark: times the installer's whole run against the floor (a minimal program doing the same
# copy and start) and against NSIS installers with the same payload (as shipped by default, and with
# their CRC check off), for payloads of 1, 32, 160 and 1024 MiB; reads the installer's peak private
# memory; compares the installer's cabinet expansion with Wine's expand tool; measures the installer
# without payload. Prints a table, checks the targets, writes CSV files and a PNG plot. Installs what
# it needs first. See bench/README.md.
#
#   bash bench/run.sh [--sizes 1,32,160,1024]
#
# Settings (environment): BENCH_BUILD_DIR (build-bench), BENCH_CPU (the last core), BENCH_ROUNDS (15),
# BENCH_WARM_UP (2).
set -eu
cd "$(dirname "$0")/.."
source_root=$PWD

sizes=1,32,160,1024
while [ $# -gt 0 ]; do
  case $1 in
    --sizes) [ $# -ge 2 ] || { echo "--sizes needs a list of MiB, such as 1,32,160" >&2; exit 2; }
             sizes=$2; shift 2 ;;
    --sizes=*) sizes=${1#--sizes=}; shift ;;
    *) echo "usage: bash bench/run.sh [--sizes 1,32,160,1024]" >&2; exit 2 ;;
  esac
done
if ! [[ $sizes =~ ^[1-9][0-9]*(,[1-9][0-9]*)*$ ]]; then
  echo "--sizes takes whole MiB separated by commas, such as 1,32,160 (got \"$sizes\")" >&2
  exit 2
fi

# The project's own list of packages, and what only the benchmark needs.
bash scripts/install-packages.sh nsis gnuplot-nox

build=${BENCH_BUILD_DIR:-build-bench}
cpu=${BENCH_CPU:-$(($(nproc) - 1))}
rounds=${BENCH_ROUNDS:-15}
warm_up=${BENCH_WARM_UP:-2}
cmake -S . -B "$build" -G Ninja -DBUILD_BENCHMARKS=ON "-DBENCH_PAYLOAD_SIZES_MIB=${sizes//,/;}" >/dev/null
cmake --build "$build" --target bench -j 2
# The build has just written gigabytes; left to the kernel's writeback they would be flushed during
# the timed runs and throttle whichever contender is writing then.
sync

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
