#!/usr/bin/env bash
# What scripts/debian13.sh removes before it makes a root: never a folder it did not make,
# never through a file system still mounted inside it (a killed run's /dev and /proc), whatever
# characters the folder's path holds, and never a half-made root taken for a whole one. debootstrap
# is replaced on PATH by a script that records its call and fails, so no root is made and nothing
# is mounted from the host; the mounts are a tmpfs in a mount namespace of this test's own.
# Needs root and a private mount namespace (a chroot has none); elsewhere it says so and passes.
#   debian13_guard_test.sh <scratch-dir>
set -u
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
script=$here/../../scripts/debian13.sh
if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
  echo "debian13 guard: skipped: needs root and a private mount namespace (none in a chroot)"; exit 0
fi
# The whole test runs in a mount namespace of its own: nothing it mounts is seen outside.
if [ -z "${DEBIAN13_GUARD_NS:-}" ]; then
  DEBIAN13_GUARD_NS=1 exec unshare -m --propagation private bash "${BASH_SOURCE[0]}" "$@"
fi
scratch=$1
chattr -i "$scratch/frozen/root/quorvel/build/cross/bin/frozen-folder" 2>/dev/null  # a killed run's
rm -rf "$scratch" && mkdir -p "$scratch/bin"
source "$(dirname "${BASH_SOURCE[0]}")/checks.sh"
cat >"$scratch/bin/debootstrap" <<'SH'
#!/bin/sh
echo "$*" >>"$GUARD_LOG"
[ -n "${GUARD_HALF:-}" ] && mkdir -p "$3/etc" "$3/debootstrap" && echo 13.0 >"$3/etc/debian_version"
if [ -n "${GUARD_MOUNT:-}" ]; then  # as debootstrap mounts /proc in the root, then is killed
  mkdir -p "$3/proc" && mount -t tmpfs guard-proc "$3/proc" && : >"$GUARD_MOUNT" && exec sleep 600
fi
echo "E: no root made here"; exit 1
SH
chmod +x "$scratch/bin/debootstrap"
export GUARD_LOG=$scratch/debootstrap.log PATH="$scratch/bin:$PATH"
d13() { : >"$GUARD_LOG"; bash "$script" "$@" </dev/null >"$scratch/out" 2>&1; echo $? >"$scratch/status"; }
bootstrapped() { [ -s "$GUARD_LOG" ]; }
not_bootstrapped() { ! bootstrapped; }

for name in "plain" "with space" "with [bracket" "back\\slash"; do
  echo "--- a killed run's mount left inside the root ($name)"
  dir=$scratch/$name/root
  mkdir -p "$dir/dev" && : >"$dir/.quorvel-debian13-root"
  mount -t tmpfs guard-canary "$dir/dev" && echo kept >"$dir/dev/canary"
  d13 "$dir"
  check "refused" [ "$(cat "$scratch/status")" != 0 ]
  check "the file inside the mount is kept" [ "$(cat "$dir/dev/canary" 2>/dev/null)" = kept ]
  check "it tells how to unmount what is mounted there" grep -qF "umount -R $(printf %q "$dir/dev")" "$scratch/out"
  d13 --reuse "$dir"
  check "--reuse refuses it too" [ "$(cat "$scratch/status")" != 0 ]
  check "and keeps the file" [ "$(cat "$dir/dev/canary" 2>/dev/null)" = kept ]
  umount "$dir/dev"
done

echo "--- a folder that is not a root made here"
mkdir -p "$scratch/mine/work" && echo mine >"$scratch/mine/work/notes.txt"
d13 "$scratch/mine"
check "refused" [ "$(cat "$scratch/status")" != 0 ]
check "its files are kept" [ "$(cat "$scratch/mine/work/notes.txt" 2>/dev/null)" = mine ]
check "debootstrap not started" not_bootstrapped
check "it says why" grep -q "not a root this script made" "$scratch/out"

echo "--- a relative folder is the caller's"
mkdir -p "$scratch/cwd"
(cd "$scratch/cwd" && d13 rel-root)
check "made in the caller's folder" grep -q "$scratch/cwd/rel-root" "$GUARD_LOG"

echo "--- a root made here and unmounted is made anew"
mkdir -p "$scratch/ours/etc" && : >"$scratch/ours/.quorvel-debian13-root" && echo 13.0 >"$scratch/ours/etc/debian_version"
d13 "$scratch/ours"
check "debootstrap started" bootstrapped
check "the old root is gone" [ ! -e "$scratch/ours/etc/debian_version" ]

echo "--- a root made here whose test run was killed with its folder that takes no new file"
frozen=$scratch/frozen/root/quorvel/build/cross/bin/frozen-folder
mkdir -p "$frozen" && : >"$scratch/frozen/.quorvel-debian13-root" && : >"$frozen/output.txt"
if chattr +i "$frozen" 2>/dev/null; then
  d13 "$scratch/frozen"
  check "debootstrap started" bootstrapped
  check "the old root is gone" [ ! -e "$frozen" ]
  chattr -i "$frozen" 2>/dev/null
else
  echo "skipped: chattr +i does not work in $scratch"
fi

echo "--- --reuse of a root whose debootstrap was cut short"
rm -rf "$scratch/half"
GUARD_HALF=1 d13 "$scratch/half"
d13 --reuse "$scratch/half"
check "it is made anew, not reused" bootstrapped
check "and it says so" grep -q "not finished" "$scratch/out"

echo "--- killed (SIGKILL) while debootstrap has a file system mounted in the root"
rm -rf "$scratch/killed" "$scratch/ready"
GUARD_MOUNT=$scratch/ready setsid bash "$script" "$scratch/killed" </dev/null >"$scratch/out" 2>&1 &
group=$!
for _ in $(seq 600); do [ -e "$scratch/ready" ] && break; sleep 0.1; done
check "debootstrap got as far as mounting" [ -e "$scratch/ready" ]
kill -KILL -- -"$group" 2>/dev/null; wait "$group" 2>/dev/null
# The namespace's last process (the fake's sleep) may take a moment to be reaped.
for _ in $(seq 50); do grep -qF "$scratch/killed/proc" /proc/self/mountinfo || break; sleep 0.1; done
check "nothing it mounted is left mounted" not grep -qF "$scratch/killed/proc" /proc/self/mountinfo
umount "$scratch/killed/proc" 2>/dev/null

checks_done "debian13 guard"
