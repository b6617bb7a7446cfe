#!/usr/bin/env bash
# mount|umount <dir>: a file system of 1 MiB at <dir> for the full-disk tests, and one at <dir>-one-file
# with room for a single file (two inodes: its root and the file), where this host lets us mount them
# (root, and mounting allowed); elsewhere the tests that need them skip.
set -u
for disk in "$2:size=1m" "$2-one-file:size=1m,nr_inodes=2"; do
  dir=${disk%:*}
  case $1 in
    mount)
      mkdir -p "$dir"
      mountpoint -q "$dir" && continue
      mount -t tmpfs -o "${disk##*:}" quorvel-small-disk "$dir" 2>/dev/null ||
        echo "small_disk: could not mount a small file system at $dir; the tests that need it skip"
      ;;
    umount)
      mountpoint -q "$dir" && umount "$dir"
      ;;
  esac
done
exit 0
