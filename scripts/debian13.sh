#!/usr/bin/env bash
# Tries Quorvel on Debian 13 ("trixie", Wine 10) from a Debian 12 or 13 machine, as root:
# makes a fresh Debian 13 root with debootstrap, copies a clean clone of this repository's
# HEAD into it and runs both README commands there, the run command first, without a display
# and without standard input, as a newcomer would. Not part of the test command: the root
# alone takes minutes to make.
#   bash scripts/debian13.sh [--reuse] [DIR]
#   DIR      where the root goes (default /var/tmp/quorvel-debian13-root, outside the clone, so that
#            nothing that cleans or searches the clone walks into its mounted /dev and /proc); made anew each time,
#            removed only where it is empty or a root made here, and never while anything is mounted in it
#   --reuse  keep a root made earlier in DIR, with what it installed since (quicker)
# Prints each command's exit status and time; exits non-zero if either failed.
set -euo pipefail
# Runs in a mount namespace of its own: what it and debootstrap mount in the root is never the
# host's, and goes with the run whichever way it ends, SIGKILL included.
if [ -z "${QUORVEL_DEBIAN13_NAMESPACE:-}" ] && unshare --mount --propagation private true 2>/dev/null; then
  QUORVEL_DEBIAN13_NAMESPACE=1 exec unshare --mount --propagation private bash "${BASH_SOURCE[0]}" "$@"
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

reuse= dir=
for arg in "$@"; do
  case $arg in
    --reuse) reuse=1 ;;
    -*) echo "debian13.sh: unknown option $arg" >&2; exit 2 ;;
    *) dir=$arg ;;
  esac
done
# A relative DIR is the caller's, so it is resolved before this leaves the caller's folder.
dir=$(realpath -m "${dir:-/var/tmp/quorvel-debian13-root}")
cd "$root"
mirror=http://deb.debian.org/debian
# Put in a root this script makes, before debootstrap starts: only such a folder is ever removed.
marker=.quorvel-debian13-root

# The mount points at or below <path>, one a line. The kernel writes a space, tab, newline
# or backslash in a path as \ooo; they are compared decoded and as plain strings.
mounts_inside() {  # <path>
  local mountpoint
  while read -r _ _ _ _ mountpoint _; do
    printf -v mountpoint '%b' "${mountpoint//\\/\\0}"
    if [ "$mountpoint" = "$1" ] || [[ $mountpoint == "$1"/* ]]; then printf '%s\n' "$mountpoint"; fi
  done </proc/self/mountinfo
}
# The test command's folder that takes no new file (chattr +i, which binds root too), left
# so by a test run that was killed, would stop removing the clone.
thaw() {  # <clone>
  local frozen
  for frozen in "$1"/build/*/bin/frozen-folder; do
    [ ! -d "$frozen" ] || chattr -i "$frozen" 2>/dev/null || true
  done
}
# A killed run leaves the host's /dev, /proc and /sys mounted in the root: nothing is removed
# or mounted again while anything is mounted there.
left_mounted=$(mounts_inside "$dir")
if [ -n "$left_mounted" ]; then
  echo "debian13: file systems are still mounted inside $dir (left by a run that was killed?):" >&2
  # Those not inside another one: umount -R takes what is mounted below with it.
  top= ; while IFS= read -r m; do
    [ -n "$top" ] && [[ $m == "$top"/* ]] && continue
    top=$m; printf '  umount -R %q\n' "$m" >&2
  done < <(printf '%s\n' "$left_mounted" | LC_ALL=C sort)
  echo "debian13: unmount them first, as above, then run this again" >&2
  exit 1
fi

if ! command -v debootstrap >/dev/null; then
  echo "debian13: installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3 -o DPkg::Lock::Timeout=300 -q install -y --no-install-recommends debootstrap \
    >/dev/null || { apt-get -o Acquire::Retries=3 -q update >/dev/null || true
                    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=300 -q install -y --no-install-recommends debootstrap >/dev/null; }
fi

# What is mounted inside the root, unmounted on every way out, the last first.
mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    mountpoint -q "${mounted[i]}" || continue
    # Made a slave first, in case a signal came between mounting and that: an unmount
    # in a shared tree would otherwise unmount the host's own /dev/pts and the like.
    mount --make-rslave "${mounted[i]}" 2>/dev/null || true
    umount -R "${mounted[i]}" 2>/dev/null || umount -lR "${mounted[i]}" || true
  done
  mounted=()
}
trap unmount_all EXIT
trap 'exit 130' INT TERM HUP

# debootstrap removes its own folder in the root when it has finished.
if [ -n "$reuse" ] && [ -f "$dir/etc/debian_version" ] && [ -d "$dir/debootstrap" ]; then
  echo "debian13: the root in $dir was not finished (its debootstrap was cut short); it is made anew"
  reuse=
fi
if [ -z "$reuse" ] || [ ! -f "$dir/etc/debian_version" ]; then
  # Only a folder that is empty or a root made here (with the marker, or by an earlier version
  # of this script: a Debian root with debootstrap's log beside it) is removed.
  if [ -e "$dir" ] && [ -n "$(ls -A "$dir" 2>/dev/null)" ] && [ ! -e "$dir/$marker" ] &&
     ! { [ -f "$dir/etc/debian_version" ] && [ -f "$dir.debootstrap.log" ]; }; then
    echo "debian13: $dir is not a root this script made, and it is not empty; it is left as it is." \
         "Give a new folder, or remove this one yourself" >&2
    exit 1
  fi
  thaw "$dir/root/quorvel"
  # Never into another file system, whatever the check above missed.
  rm -rf --one-file-system "$dir"
  mkdir -p "$dir" && : >"$dir/$marker"
  echo "debian13: making a Debian 13 root in $dir (debootstrap, a few minutes)"
  start=$SECONDS
  debootstrap --variant=minbase trixie "$dir" "$mirror" >"$dir.debootstrap.log" 2>&1 ||
    { tail -n 20 "$dir.debootstrap.log" >&2; echo "debian13: debootstrap failed; its log: $dir.debootstrap.log" >&2; exit 1; }
  echo "debian13: root made in $((SECONDS - start)) s"
  # A user's Debian 13 has its updates and security lists too.
  cat >"$dir/etc/apt/sources.list" <<EOF
deb $mirror trixie main
deb $mirror trixie-updates main
deb http://deb.debian.org/debian-security trixie-security main
EOF
fi
# Replaced, not written through: a link there would point at the host's own file.
cp --remove-destination /etc/resolv.conf "$dir/etc/resolv.conf"
for fs in proc sys dev; do
  mkdir -p "$dir/$fs"
  mounted+=("$dir/$fs")  # before mounting: a signal right after it still has it unmounted
  mount --rbind "/$fs" "$dir/$fs"
  mount --make-rslave "$dir/$fs"
done

thaw "$dir/root/quorvel"
rm -rf --one-file-system "$dir/root/quorvel"
git clone -q --no-hardlinks "$root" "$dir/root/quorvel"
echo "debian13: a clean clone of $(git rev-parse --short HEAD) is in $dir/root/quorvel; $(chroot "$dir" cat /etc/debian_version)"

status=0
for command in run test; do
  echo "debian13: bash scripts/$command.sh (its output: $dir.$command.log)"
  start=$SECONDS
  code=0
  chroot "$dir" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    TERM=dumb LANG=C.UTF-8 bash -c "cd /root/quorvel && bash scripts/$command.sh" </dev/null >"$dir.$command.log" 2>&1 ||
    code=$?
  echo "debian13: bash scripts/$command.sh: exit $code in $((SECONDS - start)) s"
  grep -E '^(run: |install-deps: |test.sh: |[0-9]+% tests passed|The following tests FAILED|=== )' "$dir.$command.log" |
    sed 's/^/  /'
  [ "$code" -eq 0 ] || { tail -n 30 "$dir.$command.log" | sed 's/^/  | /'; status=1; }
done
exit $status
