#!/bin/sh
# Runs a test executable with a really full volume at hand: a 1 MiB tmpfs mounted as root and
# mapped as drive R: of the build's private Wine prefix, named to the test in FULL_VOLUME_DRIVE.
# Where mounting is not allowed the test still runs and is told why in FULL_VOLUME_UNAVAILABLE, so
# it can skip with the reason. The drive and the mount are removed on every way out.
#
#   with_full_volume.sh <wine prefix> <wine runner> <test executable> [arguments]
set -u
prefix=$1
runner=$2
test_executable=$3
shift 3
export WINEPREFIX="$prefix"

# The prefix, and with it its drive folder, must exist before a drive can be added.
"$runner" cmd /c exit 0 >/dev/null 2>&1

drive_link="$prefix/dosdevices/r:"
mount_point=""
reason=""
if [ "$(id -u)" -ne 0 ]; then
  reason="mounting a tmpfs needs root"
else
  mount_point=$(mktemp -d)
  if ! message=$(mount -t tmpfs -o size=1m tmpfs "$mount_point" 2>&1); then
    reason="mount -t tmpfs refused: $message"
    rmdir "$mount_point"
    mount_point=""
  fi
fi

release() {
  if [ -n "$mount_point" ]; then
    rm -f "$drive_link"
    umount "$mount_point" 2>/dev/null || umount -l "$mount_point"
    rmdir "$mount_point"
  fi
}
trap release EXIT

if [ -n "$mount_point" ]; then
  # The prefix belongs to this build tree and only this test uses R:, so a link left by an
  # interrupted run is simply replaced.
  ln -sfn "$mount_point" "$drive_link"
  FULL_VOLUME_DRIVE=r: "$runner" "$test_executable" "$@"
else
  FULL_VOLUME_UNAVAILABLE="$reason" "$runner" "$test_executable" "$@"
fi
