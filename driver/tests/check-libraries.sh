#!/bin/sh
# corvimusd stays resident on every machine: each shared library it loads costs resident memory,
# so it may need only the ones it calls itself. Fails, naming it, on any other.
#   check-libraries.sh PROGRAM ALLOWED-NAME...   (names without the version: libudev.so)
set -eu
program="$1"
shift
needed="$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')"
[ -n "$needed" ] || { echo "$program: readelf found no needed libraries" >&2; exit 1; }
status=0
for lib in $needed; do
  base="${lib%%.so*}.so"
  allowed=no
  for name in "$@"; do [ "$base" = "$name" ] && allowed=yes; done
  if [ "$allowed" = no ]; then
    echo "$program needs $lib, which it has no call of its own for" >&2
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "$program needs only:" $needed
exit "$status"
