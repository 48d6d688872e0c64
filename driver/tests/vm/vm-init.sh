#!/bin/busybox sh
# The first process of the test virtual machine (the initramfs's /init): loads the modules, makes
# the host's root file system, shared read-only over 9p, writable in memory with an overlay, and
# enters it with switch_root (udev refuses to act inside a chroot). The second stage lives on the
# shared root itself (vm-guest.sh); its path comes on the kernel command line.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
echo "corvimus-vm: guest kernel $(uname -r) up"

fail() {
  echo "corvimus-vm: $*"
  echo "CORVIMUS-VM-EXIT 125"
  echo o >/proc/sysrq-trigger
  sleep 5
  exit 1
}

for m in virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet \
         9pnet_virtio netfs fscache 9p overlay evdev uinput; do
  insmod "/modules/$m.ko" || fail "cannot load module $m"
done

mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=512000,cache=loose host /lower \
  || fail "cannot mount the host's root file system"
mount -t tmpfs -o size=512m tmpfs /upper
mkdir -p /upper/data /upper/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work /newroot \
  || fail "cannot mount the overlay"
for d in proc sys dev run; do mkdir -p "/newroot/$d"; done
mount -t proc proc /newroot/proc || fail "cannot mount proc in the new root"
mount -t sysfs sysfs /newroot/sys
mount -t devtmpfs devtmpfs /newroot/dev
# The host's /run (its udev database, its sockets) must not show through.
mount -t tmpfs -o mode=755 tmpfs /newroot/run
# For tests of what a program leaves behind: the overlay's upper layer (every change the guest made
# to the root: new and changed files, and character devices 0/0 for deleted ones) and its lower
# layer (the host's root as it is). Tests only read them.
mkdir -p /newroot/run/corvimus-vm/changes /newroot/run/corvimus-vm/host
mount --bind /upper/data /newroot/run/corvimus-vm/changes || fail "cannot show the overlay's changes"
mount --bind /lower /newroot/run/corvimus-vm/host || fail "cannot show the host's root"

guest=""
for word in $(cat /proc/cmdline); do
  case "$word" in corvimus.guest=*) guest="${word#corvimus.guest=}" ;; esac
done
[ -n "$guest" ] || fail "no corvimus.guest= on the kernel command line"
umount /proc /sys /dev
exec switch_root /newroot /bin/bash "$guest"
