#!/usr/bin/env bash
# Turns the runner's summary into the benchmark's table, checks the targets and writes them as
# targets.csv beside the summary.
#
#   report.sh <bench build directory> <installer without payload>
set -eu
bench=$1
stub=$2
summary=$bench/results/summary.csv
cabinet=$bench/bench_installer_large_cabinet_payload/SETUP.EX_

# The median of one case, or its peak private memory, from the summary.
field() { awk -F, -v group="$1" -v contender="$2" -v size="$3" -v column="$4" \
  '$1 == group && $2 == contender && $3 == size { print $column }' "$summary"; }
median() { field "$1" "$2" "$3" 4; }
memory() { field payload installer "$1" 9; }
sizes=$(awk -F, '$1 == "payload" && $2 == "floor" { print $3 }' "$summary")
rounds=$(awk -F, 'NR == 2 { print $7 }' "$summary")
mib() { echo $(($1 / 1048576)); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The table as printed, one row per payload size, also goes to table.csv (and into the plot).
table=$bench/results/table.csv
echo "payload_mib,floor_seconds,installer_seconds,installer_ratio,nsis_seconds,nsis_ratio,floor_mapped_seconds,floor_mapped_ratio,installer_peak_private_bytes" > "$table"
echo
echo "Whole run, median seconds of $rounds rounds (ratio to the floor)"
printf '%-9s %-8s %-16s %-16s %-16s\n' payload floor installer NSIS "floor, mapped file"
for size in $sizes; do
  floor=$(median payload floor "$size")
  printf '%-9s %-8.4f' "$(mib "$size") MiB" "$floor"
  row="$(mib "$size"),$floor"
  for contender in installer nsis floor_mapped; do
    time=$(median payload "$contender" "$size")
    printf ' %-16s' "$(printf '%.4f (%sx)' "$time" "$(ratio "$time" "$floor")")"
    row="$row,$time,$(ratio "$time" "$floor")"
  done
  echo
  echo "$row,$(memory "$size")" >> "$table"
done

echo
echo "Peak private memory of the installer, polled from the running process"
first_size=$(echo "$sizes" | head -n 1)
last_size=$(echo "$sizes" | tail -n 1)
for size in $sizes; do
  printf '%-9s %9d bytes\n' "$(mib "$size") MiB" "$(memory "$size")"
done

echo
large=$(awk -F, '$1 == "cabinet" { print $3; exit }' "$summary")
cabinet_plain=$(median cabinet installer_plain_setup "$large")
cabinet_form=$(median cabinet installer_cabinet_setup "$large")
expand_run=$(median cabinet wine_expand "$large")
process_start=$(median cabinet process_start "$large")
installer_expansion=$(awk -v a="$cabinet_form" -v b="$cabinet_plain" 'BEGIN { printf "%.4f", a - b }')
expand_expansion=$(awk -v a="$expand_run" -v b="$process_start" 'BEGIN { printf "%.4f", a - b }')
echo "Cabinet expansion of a $(mib "$large") MiB setup program ($(stat -c %s "$cabinet") bytes as a cabinet), median seconds"
printf '  installer: whole run with the cabinet %.4f - with the setup program plain %.4f = %s\n' \
  "$cabinet_form" "$cabinet_plain" "$installer_expansion"
printf "  Wine's expand: whole run %.4f - start of a program that exits at once %.4f = %s\n" \
  "$expand_run" "$process_start" "$expand_expansion"

echo
stub_bytes=$(stat -c %s "$stub")
# Code and data: every section's content but the resources (manifest, version, icon).
code_and_data=0
sections=""
while read -r name size; do
  sections="$sections $name $((16#$size))"
  [ "$name" = .rsrc ] || code_and_data=$((code_and_data + 16#$size))
done < <(x86_64-w64-mingw32-objdump -h "$stub" | awk '$1 ~ /^[0-9]+$/ { print $2, $3 }')
echo "Installer without payload ($(basename "$stub")): $stub_bytes bytes; code and data $code_and_data bytes"
echo "  sections:$sections"

# target, measured, limit, met
targets=$bench/results/targets.csv
echo "target,measured,limit,met" > "$targets"
check() { awk -v t="$1" -v m="$2" -v l="$3" 'BEGIN { printf "%s,%s,%s,%s\n", t, m, l, (m + 0 <= l + 0 ? "yes" : "no") }' >> "$targets"; }
for size in $sizes; do
  floor=$(median payload floor "$size")
  check "installer / floor at $(mib "$size") MiB" "$(ratio "$(median payload installer "$size")" "$floor")" 1.05
done
check "installer memory at $(mib "$last_size") MiB - at $(mib "$first_size") MiB (bytes)" \
  $(($(memory "$last_size") - $(memory "$first_size"))) 262144
check "installer peak private memory (bytes)" \
  "$(for size in $sizes; do memory "$size"; done | sort -n | tail -n 1)" 2600000
check "installer without payload (bytes)" "$stub_bytes" 32768
check "installer without payload: code and data (bytes)" "$code_and_data" 16384
echo
echo "Targets"
awk -F, 'NR > 1 { printf "  %-58s %12s  limit %9s  %s\n", $1, $2, $3, ($4 == "yes" ? "met" : "MISSED") }' "$targets"
nsis_ratio=$(ratio "$(median payload nsis "$last_size")" "$(median payload installer "$last_size")")
echo "  At $(mib "$last_size") MiB NSIS takes ${nsis_ratio}x the installer's time."
