# Sourced by the scripts that check a bare Debian root (check-fresh,
# check-arm64): making, entering and removing such a root.

# unmount_below DIR: every mount at or below DIR, deepest first.
unmount_below() {
  local m
  for m in $(awk -v d="$1" '$2 == d || index($2, d "/") == 1 { print $2 }' /proc/mounts | sort -r); do
    umount "$m" 2>/dev/null || umount -l "$m"
  done
}

# remove_root DIR: deletes a root only once nothing is mounted in it (a bound
# /dev would otherwise be emptied with it).
remove_root() {
  unmount_below "$1"
  if awk -v d="$1" '$2 == d || index($2, d "/") == 1 { found = 1 } END { exit !found }' /proc/mounts; then
    echo "scripts/${0##*/}: $1 still has mounts; not removed" >&2
    return 1
  fi
  rm -rf "$1"
}

seconds_since() { echo $(($(date +%s) - $1)); }

# mount_root DIR: /proc, /sys, /dev and the machine's resolver in a new root;
# apt there accepts a Release file past its Valid-Until date (snapshot mirrors
# may serve a moving suite such as testing that way), and says so.
mount_root() {
  local dir=$1
  mount -t proc proc "$dir/proc"
  mount -t sysfs -o ro sysfs "$dir/sys"
  # The bound /dev is made private first, so that nothing mounted on it here
  # shows in the machine's own /dev.
  mount --bind /dev "$dir/dev"
  mount --make-private "$dir/dev"
  mount -t tmpfs tmpfs "$dir/dev/shm"
  cp /etc/resolv.conf "$dir/etc/resolv.conf" 2>/dev/null || true
  echo 'Acquire::Check-Valid-Until "false";' >"$dir/etc/apt/apt.conf.d/99check-fresh"
  echo "  apt in this root accepts a Release file past its Valid-Until date (snapshot mirrors)"
}

# in_root DIR CMD: runs CMD in the root with a bare environment, as a login would.
in_root() {
  local dir=$1
  shift
  chroot "$dir" /usr/bin/env -i HOME=/root TERM=dumb \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$*"
}
