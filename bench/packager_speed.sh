#!/usr/bin/env bash
# The speed of the Linux drelix-pack against the plain tools doing the least of its work:
# packing an archive of random bytes against `cp` of that archive, and `--inspect` of the installer
# against `openssl dgst -sha256` of it. The cases run interleaved, their order rotated every round,
# so that a busy spell of the machine falls on all of them alike.
#
#   bash bench/packager_speed.sh [--rounds N] [--size-mib M] [--dir DIRECTORY]
#
# Settings: DRELIX_PACK (the tool measured; default $BUILD_DIR/bin/drelix-pack, BUILD_DIR default
# build), DRELIX_PACK_BASELINE (another build of the tool, run beside it for a before/after).
# The directory (default build-bench/packager-speed) needs three times the archive size free.
set -eu
cd "$(dirname "$0")/.."
rounds=6 size_mib=1024 directory=build-bench/packager-speed
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --size-mib) size_mib=$2; shift 2 ;;
    --dir) directory=$2; shift 2 ;;
    *) echo "usage: $0 [--rounds N] [--size-mib M] [--dir DIRECTORY]" >&2; exit 2 ;;
  esac
done
tool=${DRELIX_PACK:-${BUILD_DIR:-build}/bin/drelix-pack}
baseline=${DRELIX_PACK_BASELINE:-}
for program in "$tool" ${baseline:+"$baseline"}; do
  [ -x "$program" ] || { echo "$program is missing: build first (bash scripts/test.sh, or cmake --build build)" >&2; exit 1; }
done

mkdir -p "$directory"
archive=$directory/archive.7z setup=$directory/setup.exe
if [ "$(stat -c %s "$archive" 2>/dev/null || echo 0)" -ne $((size_mib << 20)) ]; then
  head -c $((size_mib << 20)) /dev/urandom >"$archive"
fi
[ -f "$setup" ] || head -c 65536 /dev/urandom >"$setup"
runs=$directory/runs.txt
: >"$runs"
trap 'rm -f "$directory"/copy.bin "$directory"/installer*.exe' EXIT

# Appends "<round> <case> <wall s> <user s> <system s>" for one run of the command.
TIMEFORMAT='%R %U %S'
timed() {
  local round=$1 case=$2
  shift 2
  local times
  times=$({ time "$@" >/dev/null 2>&1; } 2>&1) || { echo "$case failed" >&2; exit 1; }
  echo "$round $case $times" >>"$runs"
}
pack() { "$1" --archive "$archive" --setup "$setup" --output "$2"; }

# Each write starts after `sync`, so it never pays for the write-back of another run's output (the
# installer is kept through its round, for the digests).
run_case() {
  local round=$1 installer=$directory/installer.exe
  case $2 in
    cp) sync; timed "$round" cp cp "$archive" "$directory/copy.bin"; rm -f "$directory/copy.bin" ;;
    pack) sync; timed "$round" pack pack "$tool" "$installer" ;;
    pack_baseline)
      sync
      timed "$round" pack_baseline pack "$baseline" "$directory/installer_b.exe"
      rm -f "$directory/installer_b.exe"
      ;;
    openssl) timed "$round" openssl openssl dgst -sha256 "$installer" ;;
    inspect) timed "$round" inspect "$tool" --inspect "$installer" ;;
    inspect_baseline) timed "$round" inspect_baseline "$baseline" --inspect "$installer" ;;
  esac
}
writes=(pack cp) digests=(inspect openssl)
if [ -n "$baseline" ]; then writes+=(pack_baseline) digests+=(inspect_baseline); fi

# One round: the writes, then the digests of what the measured tool packed, each list rotated by
# one place every round so that every case takes every place in turn. Round 0 warms the caches and
# is not counted.
one_round() {
  local round=$1 index
  for ((index = 0; index < ${#writes[@]}; index++)); do
    run_case "$round" "${writes[(round + index) % ${#writes[@]}]}"
  done
  for ((index = 0; index < ${#digests[@]}; index++)); do
    run_case "$round" "${digests[(round + index) % ${#digests[@]}]}"
  done
  rm -f "$directory/installer.exe"
}

sync
echo "drelix-pack speed: $size_mib MiB archive, $rounds rounds in $directory, $(nproc) CPUs"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 0 "$rounds"); do one_round "$round"; done
echo "load average at the end:   $(cut -d' ' -f1-3 /proc/loadavg)"

# Per case: median and minimum wall time and median CPU time (user + system); per pair: the median
# of the per-round ratios (each round's two runs met the same load) and the ratio of the minimums.
awk -v rounds="$rounds" '
  function median(list,   sorted, count, i, j, value) {
    count = split(list, sorted, " ")
    for (i = 2; i <= count; i++) {
      value = sorted[i] + 0
      for (j = i - 1; j >= 1 && sorted[j] + 0 > value; j--) sorted[j + 1] = sorted[j]
      sorted[j + 1] = value
    }
    return count % 2 ? sorted[(count + 1) / 2] : (sorted[count / 2] + sorted[count / 2 + 1]) / 2
  }
  function minimum(list,   values, count, i, least) {
    count = split(list, values, " ")
    least = values[1]
    for (i = 2; i <= count; i++) if (values[i] + 0 < least + 0) least = values[i]
    return least
  }
  $1 > 0 {
    wall[$2] = wall[$2] " " $3
    cpu[$2] = cpu[$2] " " ($4 + $5)
    at[$1, $2] = $3
    seen[$2] = 1
  }
  END {
    printf "%-18s %10s %10s %10s\n", "case", "median s", "min s", "median CPU s"
    split("cp pack pack_baseline openssl inspect inspect_baseline", cases, " ")
    for (i = 1; i <= 6; i++) if (cases[i] in seen)
      printf "%-18s %10.3f %10.3f %10.3f\n", cases[i], median(wall[cases[i]]), minimum(wall[cases[i]]), median(cpu[cases[i]])
    split("pack:cp:1.5 pack_baseline:cp:- inspect:openssl:1.3 inspect_baseline:openssl:-", pairs, " ")
    for (i = 1; i <= 4; i++) {
      split(pairs[i], pair, ":")
      if (!(pair[1] in seen)) continue
      ratios = ""
      for (round = 1; round <= rounds; round++) ratios = ratios " " at[round, pair[1]] / at[round, pair[2]]
      printf "%s / %s: median of round ratios %.2fx, ratio of minimums %.2fx%s\n", pair[1], pair[2], median(ratios),
             minimum(wall[pair[1]]) / minimum(wall[pair[2]]), pair[3] == "-" ? "" : " (target <= " pair[3] "x)"
    }
  }' "$runs"
