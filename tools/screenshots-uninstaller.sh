#!/usr/bin/env bash
# Pictures of Corvimus Uninstaller's five windows, drawn on a private X server (Xvfb), saved as
# <out>/uninstaller-<window>.png. The application runs from a bundle in a temporary installation
# with a stand-in removal tool and the tests' stand-in authorizer, so nothing is removed.
# Usage: tools/screenshots-uninstaller.sh [out-folder]   (default: build/screenshots)
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=tools/xvfb.sh
source "$top/tools/xvfb.sh"
build="${CORVIMUS_BUILD_DIR:-$top/build}"
out="$(mkdir -p "${1:-$build/screenshots}" && cd "${1:-$build/screenshots}" && pwd)"
cmake --build "$build" --target uninstaller_harness >/dev/null
harness="$build/uninstaller/app/tests/uninstaller_harness"

work="$(mktemp -d)"
xvfb_pid=""
cleanup() {
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb 1024x768x24 91 140

prefix="$work/prefix"
bundle="$prefix/lib/corvimus/Applications/Utilities/Corvimus Uninstaller.app"
mkdir -p "$bundle/Contents/MacOS" "$bundle/Contents/Resources/main.nib" "$prefix/lib/corvimus/Extensions"
cp "$harness" "$bundle/Contents/MacOS/Corvimus Uninstaller"
cp "$top/uninstaller/bundle/Info.plist" "$bundle/Contents/"
cp "$top"/uninstaller/app/resources/main.nib/*.ui "$bundle/Contents/Resources/main.nib/"

# One run of the application: $1 = exit code of the stand-in tool, then commands, one per argument.
run() {
  local code="$1"; shift
  printf '#!/bin/sh\nexit %s\n' "$code" > "$bundle/Contents/Resources/rmkvcv"
  chmod 755 "$bundle/Contents/Resources/rmkvcv"
  coproc APP { DISPLAY="$display" QT_QPA_PLATFORM=xcb CORVIMUS_PREFIX="$prefix" \
               "$bundle/Contents/MacOS/Corvimus Uninstaller" grant 2>/dev/null; }
  local line
  for command in "$@"; do
    echo "$command" >&"${APP[1]}"
    IFS= read -r line <&"${APP[0]}"
    case "$line" in
      missing) echo "screenshots: '$command' failed" >&2; exit 1 ;;
    esac
  done
  wait "$APP_PID" || true
}

mkdir -p "$prefix/lib/corvimus/Extensions/Corvimus.kext"
run 0 "grab Confirm $out/uninstaller-Confirm.png" "menu Confirm abou" \
      "grab Info $out/uninstaller-Info.png" "click Confirm CVCV" \
      "grab Success $out/uninstaller-Success.png" "close Success"
run 213 "click Confirm CVCV" "grab Error $out/uninstaller-Error.png" "close Error"
rmdir "$prefix/lib/corvimus/Extensions/Corvimus.kext"
run 0 "grab NotNeeded $out/uninstaller-NotNeeded.png" "close NotNeeded"

echo "screenshots: uninstaller windows in $out"
