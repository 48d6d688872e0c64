#!/usr/bin/env bash
# Runs one program inside a virtual machine with a real Linux kernel, for the tests that need the
# kernel's input stack (evdev, uinput) and are not allowed to touch the host's devices.
#
#   corvimus-vm.sh --cache DIR [--timeout SECONDS] [--memory MIB] [--] PROGRAM [ARGS...]
#
# The guest is Debian's kernel, booted by QEMU (TCG: KVM hangs at boot on this kind of machine)
# with this machine's root file system shared read-only over 9p and made writable in memory by an
# overlay, so PROGRAM and everything it needs are found at the same paths as here. PROGRAM runs as
# root in the guest with evdev and uinput loaded and systemd-udevd running; what it prints comes
# out here through the serial console, and this script exits with PROGRAM's status.
#
# The kernel package is fetched once with apt-get download and unpacked into the cache folder (it is
# never installed); the initramfs is built once from busybox. Exit status 77 means the virtual
# machine could not start at all (no QEMU, or QEMU refused to run): the caller counts it as skipped.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cache=""
timeout_s=240
memory=1024
while [ $# -gt 0 ]; do
  case "$1" in
    --cache) cache="$2"; shift 2 ;;
    --timeout) timeout_s="$2"; shift 2 ;;
    --memory) memory="$2"; shift 2 ;;
    --) shift; break ;;
    -*) echo "corvimus-vm: unknown option $1" >&2; exit 2 ;;
    *) break ;;
  esac
done
[ -n "$cache" ] && [ $# -ge 1 ] || {
  echo "usage: corvimus-vm.sh --cache DIR [--timeout SECONDS] [--memory MIB] [--] PROGRAM [ARGS...]" >&2
  exit 2
}
skip() { echo "corvimus-vm: SKIPPED: $*" >&2; exit 77; }

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (package qemu-system-x86)"
for tool in busybox cpio dpkg-deb apt-get; do
  command -v "$tool" >/dev/null || { echo "corvimus-vm: $tool is missing" >&2; exit 1; }
done
mkdir -p "$cache"
cache="$(cd "$cache" && pwd)"

# Several tests may boot at once: the shared cache is filled under a lock.
exec 9>"$cache/.lock"
flock 9

# The kernel: the package linux-image-amd64 depends on, unpacked once.
kernel_dir="$cache/kernel"
if ! ls "$kernel_dir"/boot/vmlinuz-* >/dev/null 2>&1; then
  kernel_package() { apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-/{print $2; exit}'; }
  package="$(kernel_package)"
  if [ -z "$package" ] && [ "$(id -u)" -eq 0 ]; then
    apt-get update -qq >/dev/null 2>&1 || true
    package="$(kernel_package)"
  fi
  [ -n "$package" ] || { echo "corvimus-vm: apt-cache knows no linux-image-amd64 (run apt-get update)" >&2; exit 1; }
  rm -rf "$cache/download" "$kernel_dir.new"
  mkdir -p "$cache/download"
  echo "corvimus-vm: fetching $package (once)"
  # apt's download user cannot write into a root-owned build folder: a temporary folder of its own.
  (cd "$cache/download" && apt-get download -q "$package" 2>&1 | grep -v '^W: Download is performed unsandboxed' || true)
  deb="$(ls "$cache"/download/*.deb 2>/dev/null | head -n 1)"
  [ -n "$deb" ] || { echo "corvimus-vm: apt-get download $package failed" >&2; exit 1; }
  dpkg-deb -x "$deb" "$kernel_dir.new"
  rm -rf "$kernel_dir" "$cache/download"
  mv "$kernel_dir.new" "$kernel_dir"
fi
vmlinuz="$(ls "$kernel_dir"/boot/vmlinuz-* | head -n 1)"
release="${vmlinuz##*/vmlinuz-}"
modules="$kernel_dir/lib/modules/$release/kernel"

# Modules in dependency order: virtio and 9p for the shared root, overlay to make it writable,
# evdev and uinput for the tests.
module_list="drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_modern_dev
drivers/virtio/virtio_pci_legacy_dev drivers/virtio/virtio_pci net/9p/9pnet net/9p/9pnet_virtio
fs/netfs/netfs fs/fscache/fscache fs/9p/9p fs/overlayfs/overlay drivers/input/evdev
drivers/input/misc/uinput"

initrd="$cache/initrd-$release.cpio"
if [ ! -s "$initrd" ] || [ "$initrd" -ot "$here/vm-init.sh" ]; then
  tree="$(mktemp -d "$cache/initrd.XXXXXX")"
  mkdir -p "$tree"/{bin,proc,sys,dev,modules,lower,upper,newroot}
  cp "$(command -v busybox)" "$tree/bin/busybox"
  for m in $module_list; do cp "$modules/$m.ko" "$tree/modules/"; done
  cp "$here/vm-init.sh" "$tree/init"
  chmod 755 "$tree/init"
  (cd "$tree" && find . | cpio -o -H newc --quiet) >"$initrd.new"
  mv "$initrd.new" "$initrd"
  rm -rf "$tree"
fi
flock -u 9

# What the guest runs, handed over as a file on the shared root: the command line cannot carry
# arbitrary arguments safely.
run_file="$(mktemp "$cache/run.XXXXXX")"
log="$(mktemp "$cache/console.XXXXXX")"
trap 'rm -f "$run_file" "$log"' EXIT
{
  printf 'cd %q\n' "$PWD"
  printf 'exec'
  for a in "$@"; do printf ' %q' "$a"; done
  printf '\n'
} >"$run_file"
chmod 644 "$run_file"

marker="CORVIMUS-VM-EXIT"
boot_limit=120

# One boot. Returns 2 when the kernel has said nothing within boot_limit seconds: now and then a
# boot under TCG stalls before the first line on a heavily loaded machine, and a second boot does
# not. Otherwise qemu_status is QEMU's status.
boot() {
  : >"$log"
  timeout --kill-after=10 "$timeout_s" qemu-system-x86_64 \
    -accel tcg -m "$memory" -smp 1 -nodefaults -no-reboot -display none -serial stdio \
    -kernel "$vmlinuz" -initrd "$initrd" \
    -append "console=ttyS0 panic=-1 quiet loglevel=3 corvimus.run=$run_file corvimus.guest=$here/vm-guest.sh" \
    -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap \
    </dev/null >"$log" 2>&1 &
  local qemu=$!
  tail -n +1 -f --pid="$qemu" "$log" | grep -a --line-buffered -v "^$marker " &
  local shown=$!
  local waited=0
  while kill -0 "$qemu" 2>/dev/null && ! grep -aq 'corvimus-vm: guest kernel' "$log"; do
    if [ "$waited" -ge "$boot_limit" ]; then
      kill "$qemu" 2>/dev/null
      wait "$qemu"
      wait "$shown"
      return 2
    fi
    sleep 1
    waited=$((waited + 1))
  done
  wait "$qemu"
  qemu_status=$?
  wait "$shown"
  return 0
}

start=$(date +%s)
set +e
boot
if [ $? -eq 2 ]; then
  echo "corvimus-vm: the guest kernel said nothing within ${boot_limit}s; booting once more"
  boot
  [ $? -eq 2 ] && { echo "corvimus-vm: the guest kernel did not come up, twice" >&2; exit 1; }
fi
set -e
elapsed=$(( $(date +%s) - start ))
status_line="$(grep -a "^$marker " "$log" | tail -n 1 | tr -d '\r' || true)"
if [ -n "$status_line" ]; then
  status="${status_line#"$marker "}"
  echo "corvimus-vm: guest program exited with status $status after ${elapsed}s in the virtual machine"
  exit "$status"
fi
if [ "$qemu_status" -eq 124 ] || [ "$qemu_status" -eq 137 ]; then
  echo "corvimus-vm: the virtual machine did not finish within ${timeout_s}s" >&2
  exit 1
fi
# QEMU that refuses to run at all says so itself and the guest never speaks: nothing to test here.
if ! grep -aq 'corvimus-vm: guest' "$log" && grep -aq '^qemu-system-x86_64: ' "$log"; then
  skip "QEMU could not start a virtual machine here: $(grep -a '^qemu-system-x86_64: ' "$log" | head -n 1)"
fi
echo "corvimus-vm: the guest stopped without reporting a status (QEMU status $qemu_status)" >&2
exit 1
