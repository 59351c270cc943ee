#!/usr/bin/env bash
# Fuzzes drelix-pack's entry points of untrusted bytes, --inspect, --stub, the version block reader,
# the .ico reader, the signature check, the escaping of every text it prints and the cabinet reader,
# with libFuzzer (clang-19, AddressSanitizer and UndefinedBehaviorSanitizer), SECONDS in all (default
# 60, shared equally), starting from the installers and cabinets the build makes, the test icon and
# every input kept in packager/fuzz/regressions. An input that crashes, leaks or times out is copied
# there, to be replayed by the unit tests from then on, and the run fails.
#   bash scripts/fuzz.sh [SECONDS]
set -eu
cd "$(dirname "$0")/.."
targets=(inspect stub version_block icon_file signature escaped_text cabinet)
seconds=$(((${1:-60} + ${#targets[@]} - 1) / ${#targets[@]}))
build=${BUILD_DIR:-build}
fuzz_build=$build/packager-fuzz
stub=$build/bin/installer_stub.exe
[ -f "$stub" ] || { echo "fuzz.sh: build first ($stub is missing)"; exit 1; }
cmake -S packager -B "$fuzz_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-19 \
  -DDRELIX_PACK_STUB="$PWD/$stub" -DDRELIX_PACK_FUZZERS=ON >/dev/null
fuzzers=()
for target in "${targets[@]}"; do fuzzers+=("drelix_pack_${target}_fuzzer"); done
cmake --build "$fuzz_build" --target "${fuzzers[@]}" >"$fuzz_build/build.log" ||
  { cat "$fuzz_build/build.log"; exit 1; }

status=0
for target in "${targets[@]}"; do
  corpus=$fuzz_build/corpus/$target
  artifacts=$fuzz_build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  # Seeds: the stub, the installers of the build, the test icon, and every kept input of any target.
  find "$stub" "$build"/bin -maxdepth 1 -name '*installer*.exe' -size -1M -exec cp {} "$corpus"/ \;
  cp tests/fixtures/vendor.ico "$corpus"/
  find "$build"/bin/payload_fixtures -name '*.cab' -exec cp {} "$corpus"/ \; 2>/dev/null || true
  cp packager/fuzz/regressions/*/* "$corpus"/
  # Texts to escape are names and paths: a few kilobytes reach every path of the code, and an
  # installer-sized input would only slow the run down.
  max_len=1048576
  [ "$target" != escaped_text ] || max_len=4096
  echo "fuzzing $target for $seconds s"
  "$fuzz_build/drelix_pack_${target}_fuzzer" "$corpus" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -max_len=$max_len -print_final_stats=1 -artifact_prefix="$artifacts/" 2>"$fuzz_build/$target.log" || status=1
  grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb)|cov:' "$fuzz_build/$target.log" | tail -4
  for found in "$artifacts"/*; do
    [ -f "$found" ] || continue
    mkdir -p "packager/fuzz/regressions/$target"
    cp "$found" "packager/fuzz/regressions/$target/$(basename "$found")"
    echo "kept $(basename "$found") in packager/fuzz/regressions/$target"
    status=1
  done
done
exit $status
