#!/usr/bin/env bash
# mount|umount <dir>: a file system of 1 MiB at <dir> for the full-disk tests, where this host
# lets us mount one (root, and mounting allowed); elsewhere the tests that need it skip.
set -u
case $1 in
  mount)
    mkdir -p "$2"
    mountpoint -q "$2" && exit 0
    mount -t tmpfs -o size=1m quorvel-small-disk "$2" 2>/dev/null ||
      echo "small_disk: could not mount a small file system at $2; the full-disk tests skip"
    ;;
  umount)
    mountpoint -q "$2" && umount "$2"
    ;;
esac
exit 0
