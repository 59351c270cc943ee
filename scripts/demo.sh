#!/usr/bin/env bash
# The installer at work: builds the demo installer (the demo product, version 1) and a patch
# installer that updates it to version 2, runs both under Wine as an updater would, and tells what
# happened. Installs what is missing first.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-packages.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja >/dev/null
echo "Building the demo installer and the patch installer..."
cmake --build "$build" --target demo_installer demo_patch_installer >/dev/null

export WINEPREFIX="$PWD/$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
root=$PWD
run() { "$root/cmake/wine-run.sh" "$@"; }
trap 'wineserver -k 2>/dev/null || true' EXIT

# The installers run from a folder of their own, as if downloaded; the sample setup program
# appends what it received to a record file named by SAMPLE_SETUP_RECORD.
demo_dir="$PWD/$build/demo-run"
rm -rf "$demo_dir" && mkdir -p "$demo_dir"
cp "$build/bin/demo_installer.exe" "$build/bin/demo_patch_installer.exe" "$demo_dir/"
unset SAMPLE_SETUP_EXIT_CODE HalvexUpdateIsMachine 2>/dev/null || true

# Start from a machine without the demo product.
run reg delete 'HKCU\Software\Zarvelo' /v UninstallString /reg:32 /f >/dev/null 2>&1 || true
run reg delete 'HKCU\Software\Zarvelo' /v DrelixInstallerCleanup /f >/dev/null 2>&1 || true
local_app_data=$(winepath -u "$(run cmd /c echo %LOCALAPPDATA% | tr -d '\r')" 2>/dev/null)
rm -rf "$local_app_data/Zarvelo/Drelix"
record="$demo_dir/setup-record.txt"
SAMPLE_SETUP_RECORD=$(winepath -w "$record" 2>/dev/null)
export SAMPLE_SETUP_RECORD

explain() {
  case $1 in
    0) echo "success: the setup program ran and reported success" ;;
    101) echo "the command line could not be split" ;;
    105) echo "the setup command line would be too long" ;;
    107) echo "waiting for the setup program failed" ;;
    108) echo "a path would be too long" ;;
    109) echo "the scratch directory could not be created" ;;
    110) echo "no installed product to patch" ;;
    111) echo "the installed product is not the version the patch is for" ;;
    112) echo "the product archive could not be unpacked" ;;
    115) echo "the setup program could not be unpacked" ;;
    116) echo "the setup program could not be written" ;;
    117) echo "the scratch directory's access rules could not be built" ;;
    118) echo "a rejected switch was given" ;;
    119|120|121) echo "the installed setup program could not be started" ;;
    122|123|124) echo "the unpacked setup program could not be started" ;;
    *) echo "the setup program's own exit code" ;;
  esac
}

# Wine hands a Linux shell only the low 8 bits of the exit code; every code here is below 256.
step() {
  local title=$1 installer=$2
  shift 2
  echo
  echo "== $title"
  echo "   running: $installer $*"
  : >"$record"
  local code=0
  # Wine notes on stderr that the build folder's volume has no label; nothing of the installer's.
  (cd "$demo_dir" && run "$installer" "$@" 2>/dev/null) || code=$?
  echo "   exit code $code: $(explain "$code")"
  echo "   the setup program was started with:"
  sed -n -e 's/^command_line=\(.*--update-setup-exe.*\)/     patch run (the installed one):  \1/p' \
    -e 's/^command_line=/     install run (the unpacked one): /p' "$record"
  local left
  left=$(cd "$demo_dir" && ls -d QV_* 2>/dev/null || true)
  if [ -z "$left" ]; then
    echo "   scratch directory left beside the installer: none"
  else
    echo "   scratch directory left beside the installer: $left"
  fi
  return 0
}

show_installed() {
  echo "   installed versions under %LOCALAPPDATA%\\Zarvelo\\Drelix: $(ls "$local_app_data/Zarvelo/Drelix" 2>/dev/null | tr '\n' ' ')"
  local info
  info=$(ls "$local_app_data"/Zarvelo/Drelix/*/install-info.txt 2>/dev/null | tail -1)
  if [ -n "$info" ]; then
    sed -n -e 's/^version=/   installed version: /p' -e 's/^install_directory=/   install directory: /p' \
      -e 's/^previous_version_received=/   previous version it replaced: /p' "$info" | tr -d '\r'
  fi
  echo "   registered setup program (HKCU\\Software\\Zarvelo, 32-bit view):"
  run reg query 'HKCU\Software\Zarvelo' /v UninstallString /reg:32 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *UninstallString *REG_SZ */     /p'
}

step "1. Install the demo product" demo_installer.exe --demo-flag
show_installed
step "2. Update it with the patch installer" demo_patch_installer.exe --demo-flag
show_installed
echo
echo "The installers and the record of what the setup program received are in $demo_dir."
