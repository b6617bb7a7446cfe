#!/usr/bin/env bash
# Tries Quorvel on Debian 13 ("trixie", Wine 10) from a Debian 12 or 13 machine, as root:
# makes a fresh Debian 13 root with debootstrap, copies a clean clone of this repository's
# HEAD into it and runs both README commands there, the run command first, without a display
# and without standard input, as a newcomer would. Not part of the test command: the root
# alone takes minutes to make.
#   bash scripts/debian13.sh [--reuse] [DIR]
#   DIR      where the root goes (default /var/tmp/quorvel-debian13-root, outside the clone, so that
#            nothing that cleans or searches the clone walks into its mounted /dev and /proc); made anew each time
#   --reuse  keep a root made earlier in DIR, with what it installed since (quicker)
# Prints each command's exit status and time; exits non-zero if either failed.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

reuse= dir=
for arg in "$@"; do
  case $arg in
    --reuse) reuse=1 ;;
    -*) echo "debian13.sh: unknown option $arg" >&2; exit 2 ;;
    *) dir=$arg ;;
  esac
done
dir=$(realpath -m "${dir:-/var/tmp/quorvel-debian13-root}")
mirror=http://deb.debian.org/debian

if ! command -v debootstrap >/dev/null; then
  echo "debian13: installing debootstrap"
  DEBIAN_FRONTEND=noninteractive apt-get -o Acquire::Retries=3 -q install -y --no-install-recommends debootstrap \
    >/dev/null || { apt-get -o Acquire::Retries=3 -q update >/dev/null || true
                    DEBIAN_FRONTEND=noninteractive apt-get -q install -y --no-install-recommends debootstrap >/dev/null; }
fi

# What is mounted inside the root, unmounted on every way out, the last first.
mounted=()
unmount_all() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -R "${mounted[i]}" 2>/dev/null || umount -lR "${mounted[i]}"; done
  mounted=()
}
trap unmount_all EXIT
trap 'exit 130' INT TERM HUP

if [ -z "$reuse" ] || [ ! -f "$dir/etc/debian_version" ]; then
  # A root left mounted by a run that was killed must not take the host's /dev with it.
  if grep -q " $dir/" /proc/mounts; then
    echo "debian13: $dir still has file systems mounted inside it; unmount them first" >&2; exit 1
  fi
  rm -rf "$dir"
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
cp /etc/resolv.conf "$dir/etc/resolv.conf"
for fs in proc sys dev; do
  mkdir -p "$dir/$fs"
  mount --rbind "/$fs" "$dir/$fs"
  mount --make-rslave "$dir/$fs"
  mounted+=("$dir/$fs")
done

rm -rf "$dir/root/quorvel"
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
