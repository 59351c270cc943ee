#!/usr/bin/env bash
# file_system_cases.sh linux|windows <installer without payload> <drelix-pack command>...
# What drelix-pack does to the files around it, case by case, each in a folder of its own: names
# that earlier versions used for their temporary files, symbolic links planted on them, an output
# that is one of the inputs under another name, devices and FIFOs, a missing folder, a long name, the
# mode of a replaced output, and a run stopped half-way. Every input must come out unchanged, and
# nothing but the expected files may be left. Cases that need Unix files (links, FIFOs, devices,
# modes, signals) run for the Linux tool only; the Windows tool is killed instead.
set -u
. "$(cd "$(dirname "$0")" && pwd)/test_inputs.sh"
host=$1 stub=$2
shift 2
tool=("$@")
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0 passed=0

fail() {
  echo "FAIL [$case_name]: $*"
  failures=$((failures + 1))
}

# start NAME: a fresh folder with an archive, a setup program and a victim file.
start() {
  case_name=$1 failures_before=$failures
  cd "$root" && rm -rf "$root/case" && mkdir "$root/case" && cd "$root/case" || exit 1
  write_7z a.7z "archive $case_name"
  write_program setup.exe "setup $case_name"
  printf 'victim\n' >victim
  sums=$(sha256sum a.7z setup.exe victim)
}

# pack EXPECTED_CODE MESSAGE ARGUMENTS...: runs the tool; checks the exit code, the one-line message
# (empty MESSAGE: no message) and that the inputs are unchanged.
pack() {
  local expected=$1 message=$2
  shift 2
  local code=0
  timeout 60 "${tool[@]}" "$@" >stdout.txt 2>stderr.txt </dev/null || code=$?
  tr -d '\r' <stderr.txt >message.txt
  rm -f stdout.txt stderr.txt
  [ "$code" -eq "$expected" ] || fail "exit code $code, expected $expected: $(cat message.txt)"
  if [ -n "$message" ]; then
    grep -qF -- "$message" message.txt || fail "expected \"$message\", said: $(cat message.txt)"
  else
    [ ! -s message.txt ] || fail "unexpected message: $(cat message.txt)"
  fi
  rm -f message.txt
  echo "$sums" | sha256sum --quiet -c - || fail "an input changed"
}

# left FILES...: exactly these files are in the case's folder.
left() {
  local expected actual
  expected=$(printf '%s\n' "$@" | sort)
  actual=$(ls -A | sort)
  [ "$actual" = "$expected" ] || fail "left $(echo "$actual" | tr '\n' ' '), expected $*"
}

# carries FILE: the installer carries the archive's bytes.
carries() {
  local digest
  digest=$(sha256sum a.7z | cut -d' ' -f1)
  "${tool[@]}" --inspect "$1" 2>&1 | tr -d '\r' | grep -q "sha256=$digest" || fail "$1 does not carry the archive"
}

done_case() { [ "$failures" -eq "$failures_before" ] && passed=$((passed + 1)); }

# Names earlier versions wrote their temporary files under are ordinary inputs and neighbours now.
start archive_named_like_a_temporary_file
cp a.7z o.exe.tmp && sums=$(sha256sum a.7z setup.exe victim o.exe.tmp)
pack 0 "" --archive o.exe.tmp --setup setup.exe --output o.exe
carries o.exe && left a.7z setup.exe victim o.exe.tmp o.exe && done_case

start setup_named_like_the_cabinet_file
cp setup.exe o.exe.cabinet.tmp && sums=$(sha256sum a.7z setup.exe victim o.exe.cabinet.tmp)
pack 0 "" --archive a.7z --setup o.exe.cabinet.tmp --output o.exe
left a.7z setup.exe victim o.exe.cabinet.tmp o.exe && done_case

start plain_setup_named_like_a_temporary_file
cp setup.exe o.exe.tmp && sums=$(sha256sum a.7z setup.exe victim o.exe.tmp)
pack 0 "" --archive a.7z --setup o.exe.tmp --setup-form plain --output o.exe
left a.7z setup.exe victim o.exe.tmp o.exe && done_case

start unrelated_neighbours_stay
cp victim o.exe.tmp && cp victim o.exe.cabinet.tmp && sums=$(sha256sum a.7z setup.exe victim o.exe.tmp o.exe.cabinet.tmp)
pack 0 "" --archive a.7z --setup setup.exe --output o.exe
left a.7z setup.exe victim o.exe.tmp o.exe.cabinet.tmp o.exe && done_case

# The output named as one of the inputs, under the same or another name, is refused.
for form in a.7z ./a.7z sub/../a.7z; do
  start "output_is_the_archive_as_$form"
  mkdir sub
  pack 1 "is the same file as --archive" --archive a.7z --setup setup.exe --output "$form"
  left a.7z setup.exe victim sub && done_case
done
start output_is_the_setup_program
pack 1 "is the same file as --setup" --archive a.7z --setup setup.exe --output ./setup.exe
left a.7z setup.exe victim && done_case
start output_is_the_stub
cp "$stub" stub.exe && sums=$(sha256sum a.7z setup.exe victim stub.exe)
mkdir sub
pack 1 "is the same file as --stub" --archive a.7z --setup setup.exe --stub stub.exe --output sub/../stub.exe
left a.7z setup.exe victim stub.exe sub && done_case

start directory_as_archive
mkdir folder
pack 1 "archive \"folder\" is not a regular file (it is a directory)" --archive folder --setup setup.exe --output o.exe
left a.7z setup.exe victim folder && done_case

start missing_output_folder
pack 1 "cannot create a file in the output's folder \"missing\"" --archive a.7z --setup setup.exe --output missing/o.exe
left a.7z setup.exe victim && done_case

# A name of 255 characters is the longest a folder entry holds; the temporary file's own name is
# short, so such an output is written.
start longest_output_name
long_name=$(printf 'o%.0s' $(seq 251)).exe
pack 0 "" --archive a.7z --setup setup.exe --output "$long_name"
left a.7z setup.exe victim "$long_name" && done_case

if [ "$host" = linux ]; then
  # Links planted where earlier versions put their temporary files lead nowhere now.
  start links_on_the_temporary_names
  ln -s victim o.exe.tmp && ln -s victim o.exe.cabinet.tmp
  pack 0 "" --archive a.7z --setup setup.exe --output o.exe
  [ -L o.exe.tmp ] && [ -L o.exe.cabinet.tmp ] || fail "a planted link was replaced"
  left a.7z setup.exe victim o.exe.tmp o.exe.cabinet.tmp o.exe && done_case

  start output_hard_linked_to_the_archive
  ln a.7z o.exe
  pack 1 "is the same file as --archive" --archive a.7z --setup setup.exe --output o.exe
  left a.7z setup.exe victim o.exe && done_case

  start output_is_a_fifo
  mkfifo o.exe
  pack 1 "--output \"o.exe\" is not a regular file (it is a FIFO)" --archive a.7z --setup setup.exe --output o.exe
  [ -p o.exe ] || fail "the FIFO was replaced"
  left a.7z setup.exe victim o.exe && done_case

  # A device node of the case's own (the system's /dev/null would be lost to a tool that got this
  # wrong); making one needs root, as CI runs.
  start output_is_a_device
  if mknod null c 1 3 2>/dev/null; then
    pack 1 "--output \"null\" is not a regular file (it is a character device)" --archive a.7z --setup setup.exe \
      --output null
    [ -c null ] || fail "the device was replaced"
    left a.7z setup.exe victim null && done_case
  else
    echo "skipped [$case_name]: no device node can be made here"
  fi

  for role in archive setup stub inspect; do
    start "fifo_as_$role"
    mkfifo pipe
    case $role in
      archive) pack 1 "archive \"pipe\" is not a regular file (it is a FIFO)" --archive pipe --setup setup.exe --output o.exe ;;
      setup) pack 1 "setup program \"pipe\" is not a regular file (it is a FIFO)" --archive a.7z --setup pipe --output o.exe ;;
      stub) pack 1 "stub \"pipe\" is not a regular file (it is a FIFO)" --archive a.7z --setup setup.exe --stub pipe --output o.exe ;;
      inspect) pack 1 "\"pipe\" is not a regular file (it is a FIFO)" --inspect pipe ;;
    esac
    left a.7z setup.exe victim pipe && done_case
  done

  # Its permission bits, that is: set-user-ID and set-group-ID would pass to the packer's new file.
  start replaced_output_keeps_its_permission_bits
  printf 'old installer\n' >o.exe && chmod 6751 o.exe
  pack 0 "" --archive a.7z --setup setup.exe --output o.exe
  [ "$(stat -c %a o.exe)" = 751 ] || fail "mode $(stat -c %a o.exe), expected 751"
  carries o.exe && left a.7z setup.exe victim o.exe && done_case

  # Stopped half-way through a large archive (sparse, so it costs no disk; under the 2 GiB an
  # installer may have), by each signal.
  for signal in INT TERM KILL; do
    start "stopped_by_sig$signal"
    truncate -s 2000M big.7z && sums=$(sha256sum setup.exe victim)
    # A background job of a script starts with SIGINT ignored; the tool keeps what it inherits.
    env --default-signal=INT "${tool[@]}" --archive big.7z --setup setup.exe --output o.exe 2>/dev/null &
    sleep 0.5
    kill -s "$signal" $! 2>/dev/null || fail "the run ended before the signal"
    wait $! 2>/dev/null
    left a.7z big.7z setup.exe victim && done_case
  done
else
  # Windows removes a file marked for deletion when the last handle closes, also when the process
  # is killed: Wine's server closes them when the process dies (its start-up takes a few seconds).
  start stopped_by_kill
  truncate -s 2000M big.7z && sums=$(sha256sum setup.exe victim)
  "${tool[@]}" --archive big.7z --setup setup.exe --output o.exe 2>/dev/null &
  sleep 4
  kill -s KILL $! 2>/dev/null || fail "the run ended before the signal"
  wait $! 2>/dev/null
  sleep 1
  left a.7z big.7z setup.exe victim && done_case
fi

cd "$root" || exit 1
echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
