#!/bin/sh
# The system unit as installed: systemd must accept it, and its sandbox must stay tight
# (systemd-analyze's exposure, 1.6 of 10, must not grow).
#   check-unit.sh TEMPLATE CORVIMUSD
set -eu
template="$1"
program="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bundle="$work/lib/corvimus/Extensions/Corvimus.kext/Contents/MacOS"
mkdir -p "$bundle" "$work/units"
cp "$program" "$bundle/corvimusd"
sed "s|@CORVIMUS_PREFIX@|$work|g" "$template" >"$work/units/corvimusd.service"
systemd-analyze verify --man=no "$work/units/corvimusd.service"
status=0
report="$(systemd-analyze security --offline=yes --threshold=16 "$work/units/corvimusd.service")" ||
  status=$?
printf '%s\n' "$report" | tail -n 1
exit "$status"
