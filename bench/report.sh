#!/usr/bin/env bash
# Turns the runner's summary into the benchmark's table, checks the targets and writes them as
# targets.csv beside the summary.
#
#   report.sh <bench build directory> <installer without payload>
set -eu
bench=$1
stub=$2
summary=$bench/results/summary.csv
run=$bench/run

# The median of one case, or its peak private memory, from the summary.
field() { awk -F, -v group="$1" -v contender="$2" -v size="$3" -v column="$4" \
  '$1 == group && $2 == contender && $3 == size { print $column }' "$summary"; }
median() { field "$1" "$2" "$3" 4; }
memory() { field payload installer "$1" 9; }
sizes=$(awk -F, '$1 == "payload" && $2 == "floor" { print $3 }' "$summary")
rounds=$(awk -F, 'NR == 2 { print $7 }' "$summary")
first_size=$(echo "$sizes" | head -n 1)
last_size=$(echo "$sizes" | tail -n 1)
mib() { echo $(($1 / 1048576)); }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

# The table as printed, one row per payload size, also goes to table.csv (and into the plot).
# Installer / floor is the installer's overhead; NSIS / installer is how much faster it is than NSIS.
table=$bench/results/table.csv
echo "payload_mib,floor_seconds,installer_seconds,installer_ratio,nsis_seconds,nsis_ratio,nsis_crc_off_seconds,nsis_crc_off_ratio,floor_mapped_seconds,floor_mapped_ratio,installer_peak_private_bytes" > "$table"
echo
echo "Whole run, median seconds of $rounds rounds"
printf '%-9s %-8s %-10s %-10s %-10s %-10s %-10s %-10s %s\n' payload floor installer "inst/floor" \
  "NSIS" "NSIS/inst" "NSIS-CRC" "(off)/inst" "floor, mapped file"
for size in $sizes; do
  floor=$(median payload floor "$size")
  installer=$(median payload installer "$size")
  nsis=$(median payload nsis "$size")
  nsis_crc_off=$(median payload nsis_crc_off "$size")
  mapped=$(median payload floor_mapped "$size")
  printf '%-9s %-8.4f %-10.4f %-10s %-10.4f %-10s %-10.4f %-10s %.4f\n' "$(mib "$size") MiB" "$floor" \
    "$installer" "$(ratio "$installer" "$floor")x" "$nsis" "$(ratio "$nsis" "$installer")x" \
    "$nsis_crc_off" "$(ratio "$nsis_crc_off" "$installer")x" "$mapped"
  echo "$(mib "$size"),$floor,$installer,$(ratio "$installer" "$floor"),$nsis,$(ratio "$nsis" "$installer"),$nsis_crc_off,$(ratio "$nsis_crc_off" "$installer"),$mapped,$(ratio "$mapped" "$floor"),$(memory "$size")" >> "$table"
done
echo "(NSIS: as shipped by default, checking its CRC; NSIS-CRC: with CRCCheck off)"

# The floor with the installer's imports, one call each: what Wine charges for loading the libraries
# the installer links, apart from anything the installer does.
echo
echo "Start-up cost of the installer's imports, at $(mib "$first_size") MiB, median seconds"
floor=$(median payload floor "$first_size")
installer=$(median payload installer "$first_size")
printf '  floor %.4f; + shell32 (CommandLineToArgvW) %.4f; + advapi32 (RegOpenKeyExW) %.4f; installer %.4f\n' \
  "$floor" "$(median imports floor_shell32 "$first_size")" "$(median imports floor_shell32_advapi32 "$first_size")" "$installer"
with_imports=$(median imports floor_shell32_advapi32 "$first_size")
echo "  installer / floor with both imports: $(ratio "$installer" "$with_imports")x"

echo
echo "Peak private memory of the installer, polled from the running process"
floor_memory() { field payload floor "$1" 9; }
for size in $sizes; do
  printf '%-9s %9d bytes (floor %9d bytes)\n' "$(mib "$size") MiB" "$(memory "$size")" "$(floor_memory "$size")"
done
# Wine keeps a byte of its own per page of every mapped view, in the process's private memory: a
# program mapping a larger image grows by that much whatever it does, as the floor shows.
echo "Growth from $(mib "$first_size") to $(mib "$last_size") MiB: installer" \
  "$(($(memory "$last_size") - $(memory "$first_size"))) bytes, floor $(($(floor_memory "$last_size") - $(floor_memory "$first_size"))) bytes"

echo
large=$(awk -F, '$1 == "cabinet" { print $3; exit }' "$summary")
cabinet_plain=$(median cabinet installer_plain_setup "$large")
cabinet_form=$(median cabinet installer_cabinet_setup "$large")
expand_run=$(median cabinet wine_expand "$large")
process_start=$(median cabinet process_start "$large")
installer_expansion=$(awk -v a="$cabinet_form" -v b="$cabinet_plain" 'BEGIN { printf "%.4f", a - b }')
expand_expansion=$(awk -v a="$expand_run" -v b="$process_start" 'BEGIN { printf "%.4f", a - b }')
# The cabinet's size as the installer carries it, read back by the packaging tool.
cabinet_bytes=$("$(dirname "$stub")/drelix-pack" --inspect "$run/bench_installer_large_cabinet.exe" |
  awk '$1 == "resource:" && $2 == "type=BL" { sub("size=", "", $5); print $5 }')
echo "Cabinet expansion of a $(mib "$large") MiB setup program ($cabinet_bytes bytes as a cabinet), median seconds"
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

# target, measured, limit, met; a limit is the most allowed unless the target says "at least".
targets=$bench/results/targets.csv
echo "target,measured,limit,met" > "$targets"
check() { awk -v t="$1" -v m="$2" -v l="$3" -v least="${4:-}" \
  'BEGIN { met = least == "" ? m + 0 <= l + 0 : m + 0 >= l + 0; printf "%s,%s,%s,%s\n", t, m, l, (met ? "yes" : "no") }' >> "$targets"; }
for size in $sizes; do
  floor=$(median payload floor "$size")
  installer=$(median payload installer "$size")
  # The smallest payloads are dominated by starting two processes, where a few milliseconds of the
  # installer's own set-up weigh more.
  limit=1.10
  [ "$size" -gt 1048576 ] || limit=1.25
  check "installer / floor at $(mib "$size") MiB" "$(ratio "$installer" "$floor")" "$limit"
  if [ "$size" -ge $((160 * 1048576)) ]; then
    check "NSIS with CRCCheck off / installer at $(mib "$size") MiB (at least)" \
      "$(ratio "$(median payload nsis_crc_off "$size")" "$installer")" 2.00 at-least
  fi
done
check "installer memory at $(mib "$last_size") MiB - at $(mib "$first_size") MiB (bytes)" \
  $(($(memory "$last_size") - $(memory "$first_size"))) 262144
check "installer peak private memory (bytes)" \
  "$(for size in $sizes; do memory "$size"; done | sort -n | tail -n 1)" 2600000
check "installer without payload (bytes)" "$stub_bytes" 32768
check "installer without payload: code and data (bytes)" "$code_and_data" 16384
echo
echo "Targets"
awk -F, 'NR > 1 { printf "  %-62s %12s  limit %9s  %s\n", $1, $2, $3, ($4 == "yes" ? "met" : "MISSED") }' "$targets"
