#!/bin/bash
# The second stage of the test virtual machine, run as its first process inside the overlay root:
# starts systemd-udevd (without replaying the devices already there, which under TCG takes half a
# minute; only the devices the test makes are of interest), runs the program named by the
# corvimus.run file, reports its exit status on the serial console and powers off.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export HOME=/root LANG=C.UTF-8
# Programs that would take over real mice on a host check this before they start.
export CORVIMUS_VM=1
run=""
for word in $(cat /proc/cmdline); do
  case "$word" in corvimus.run=*) run="${word#corvimus.run=}" ;; esac
done

mkdir -p /dev/pts /dev/shm /run/udev
mount -t devpts devpts /dev/pts 2>/dev/null
mount -t tmpfs tmpfs /dev/shm 2>/dev/null
# What udev or systemd would link on a booted system: bash's process substitution needs /dev/fd.
for fd in fd:/proc/self/fd stdin:/proc/self/fd/0 stdout:/proc/self/fd/1 stderr:/proc/self/fd/2; do
  [ -e "/dev/${fd%%:*}" ] || ln -s "${fd#*:}" "/dev/${fd%%:*}"
done
hostname corvimus-vm

udevd=""
for candidate in /lib/systemd/systemd-udevd /usr/lib/systemd/systemd-udevd; do
  [ -x "$candidate" ] && { udevd="$candidate"; break; }
done
if [ -n "$udevd" ]; then
  "$udevd" --daemon 2>/dev/null || echo "corvimus-vm: systemd-udevd did not start"
fi

echo "corvimus-vm: guest running $run"
status=125
if [ -n "$run" ] && [ -r "$run" ]; then
  bash "$run" </dev/null 2>&1
  status=$?
else
  echo "corvimus-vm: nothing to run"
fi
sync
echo "CORVIMUS-VM-EXIT $status"
echo o >/proc/sysrq-trigger
sleep 10
