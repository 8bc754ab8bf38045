#!/usr/bin/env bash
# A scratch volume for the trash tests on a Mac: a 20 MB APFS disk image,
# attached without showing in the Finder. Items trashed on it go to its own
# .Trashes folder, so the developer's Trash never sees them. CTest runs
# "attach" before the trash tests and "detach" after them.
#
# Usage: scratch_volume.sh attach|detach IMAGE.dmg MOUNT_POINT
set -euo pipefail

if (($# != 3)); then
  echo "usage: $0 attach|detach IMAGE.dmg MOUNT_POINT" >&2
  exit 2
fi
action=$1
image=$2
mount_point=$3

attached() { mount | grep -qF " on $mount_point ("; }

case $action in
  attach)
    # What an interrupted run left behind goes first.
    if attached; then hdiutil detach -force "$mount_point"; fi
    rm -f "$image"
    mkdir -p "$mount_point"
    hdiutil create -size 20m -fs APFS -volname "UK Scratch" "$image"
    hdiutil attach -nobrowse -owners on -mountpoint "$mount_point" "$image"
    ;;
  detach)
    if attached; then hdiutil detach -force "$mount_point"; fi
    rm -f "$image"
    ;;
  *)
    echo "unknown action: $action" >&2
    exit 2
    ;;
esac
