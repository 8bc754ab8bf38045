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

# mount names the place as resolved (/private/tmp/..., not /tmp/...), so the
# check looks for the resolved path when the folder exists.
attached() {
  local resolved=$mount_point
  [[ -d $mount_point ]] && resolved=$(cd "$mount_point" && pwd -P)
  mount | grep -qF " on $resolved ("
}

# hdiutil create fails now and then with "Resource busy" on hosted runners;
# a few tries a few seconds apart get past it. The volume's root belongs to
# whoever runs the tests, not to hdiutil's default owner.
create_image() {
  local try
  for try in 1 2 3 4 5; do
    if hdiutil create -size 20m -fs APFS -volname "UK Scratch" -uid "$(id -u)" -gid "$(id -g)" \
      "$image"; then
      return 0
    fi
    echo "hdiutil create failed (try $try of 5)" >&2
    rm -f "$image"
    sleep 3
  done
  return 1
}

case $action in
  attach)
    # What an interrupted run left behind goes first.
    if attached; then hdiutil detach -force "$mount_point"; fi
    rm -f "$image"
    mkdir -p "$mount_point"
    create_image
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
