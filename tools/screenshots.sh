#!/usr/bin/env bash
# Saves a PNG of every tab and sheet of the settings pane, shown by the pane host on a virtual X
# server, into screenshots/ (or the folder given). Expects a build in build/.
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(realpath -m "${1:-$top/screenshots}")"
host="$top/build/panehost/System Preferences.app/Contents/MacOS/System Preferences"
bundle="$top/build/pane/Corvimus.prefPane"
[ -x "$host" ] && [ -d "$bundle" ] || { echo "screenshots: build first (./corvimus test)" >&2; exit 1; }

# A world of its own: no real settings are touched and no agent is started.
world="$(mktemp -d)"
trap 'rm -rf "$world"' EXIT
mkdir -p "$world/config" "$world/run" "$world/pane/Corvimus.prefPane/Contents"
chmod 700 "$world/run"
cp -r "$bundle/Contents/Info.plist" "$bundle/Contents/MacOS" "$world/pane/Corvimus.prefPane/Contents/"
mkdir -p "$world/pane/Corvimus.prefPane/Contents/Resources"
cp -r "$bundle/Contents/Resources/en.lproj" "$world/pane/Corvimus.prefPane/Contents/Resources/"

rm -rf "$out"
mkdir -p "$out"
env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$world/config" XDG_RUNTIME_DIR="$world/run" HOME="$world" \
  xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$host" --pane "$world/pane/Corvimus.prefPane" --screenshots "$out"
ls "$out"
