#!/usr/bin/env bash
# Pictures for the documentation, drawn on a private X server (Xvfb) in a world of their own (no
# real settings are touched): every tab, action-editor page and sheet of the settings pane, its
# Info tab with the simulated driver and the agent at work, and the button tester lighting up a
# button. Saved into screenshots/ (or the folder given), which is emptied first; with --docs the
# pictures the documentation shows are copied into docs/ as well. Expects a build in build/ (or
# $CORVIMUS_BUILD_DIR).
#   tools/screenshots.sh [--docs] [out-folder]
set -euo pipefail
top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=tools/xvfb.sh
source "$top/tools/xvfb.sh"
build="${CORVIMUS_BUILD_DIR:-$top/build}"
docs=""
if [ "${1:-}" = "--docs" ]; then docs="$top/docs"; shift; fi
out="$(realpath -m "${1:-$top/screenshots}")"
host="$build/panehost/System Preferences.app/Contents/MacOS/System Preferences"
bundle="$build/pane/Corvimus.prefPane"
agent="$build/agent/CorvimusHelper.app/Contents/MacOS/CorvimusHelper"
sim="$build/driver/corvimus-simdriver"
tester="$build/tester/Mouse Button Tester.app/Contents/MacOS/Mouse Button Tester"
prefs="$build/tools/corvimus-prefs"
for f in "$host" "$agent" "$sim" "$tester" "$prefs"; do
  [ -x "$f" ] || { echo "screenshots: build first (./corvimus test): $f is missing" >&2; exit 1; }
done

world="$(mktemp -d)"
pids=()
xvfb_pid=""
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$world"
}
trap cleanup EXIT

start_xvfb 1280x1024x24 141 190

mkdir -p "$world/config" "$world/run" "$world/home" "$world/pane/Corvimus.prefPane/Contents/Resources"
chmod 700 "$world/run"
export XDG_CONFIG_HOME="$world/config" XDG_RUNTIME_DIR="$world/run" HOME="$world/home"
export DISPLAY="$display" QT_QPA_PLATFORM=xcb LANGUAGE=en LC_ALL=C.UTF-8
unset WAYLAND_DISPLAY
# The pane without the agent it carries: the world's agent is started below, once.
cp -r "$bundle/Contents/Info.plist" "$bundle/Contents/MacOS" "$world/pane/Corvimus.prefPane/Contents/"
for lang in "$bundle"/Contents/Resources/*.lproj; do
  cp -r "$lang" "$world/pane/Corvimus.prefPane/Contents/Resources/"
done

# Settings with one application of their own, as a user would have made them.
app="$world/Text Editor.app"
mkdir -p "$app/Contents/MacOS"
cat > "$app/Contents/Info.plist" <<'PLIST'
<?xml version="1.0"?><plist version="1.0"><dict>
<key>CFBundleName</key><string>Text Editor</string><key>CFBundleSignature</key><string>TeXt</string>
</dict></plist>
PLIST
"$prefs" init >/dev/null
"$prefs" add-app "$app" >/dev/null
"$prefs" set --app "Text Editor" C3 back >/dev/null

# Makes the X window whose title is $1 the active one, as a window manager would: the agent follows
# it. There is no window manager here, so the root window's property is set directly.
activate() {
  local id="" root
  for _ in $(seq 100); do
    # The window with a class, not Qt's 1x1 leader window of the same title.
    id="$(xwininfo -root -children | awk -v t="\"$1\": (\"" 'index($0, t) { print $1; exit }')"
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "screenshots: no window \"$1\"" >&2; return 1; }
  root="$(xwininfo -root | awk '/Window id:/ { print $4 }')"
  python3 - "$root" "$id" <<'PY'
import ctypes, sys
xcb = ctypes.CDLL("libxcb.so.1")
class Cookie(ctypes.Structure):
    _fields_ = [("sequence", ctypes.c_uint)]
class AtomReply(ctypes.Structure):
    _fields_ = [("type", ctypes.c_uint8), ("pad", ctypes.c_uint8), ("sequence", ctypes.c_uint16),
                ("length", ctypes.c_uint32), ("atom", ctypes.c_uint32)]
xcb.xcb_connect.restype = ctypes.c_void_p
xcb.xcb_connect.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
xcb.xcb_intern_atom.restype = Cookie
xcb.xcb_intern_atom.argtypes = [ctypes.c_void_p, ctypes.c_uint8, ctypes.c_uint16, ctypes.c_char_p]
xcb.xcb_intern_atom_reply.restype = ctypes.POINTER(AtomReply)
xcb.xcb_intern_atom_reply.argtypes = [ctypes.c_void_p, Cookie, ctypes.c_void_p]
xcb.xcb_change_property.argtypes = [ctypes.c_void_p, ctypes.c_uint8, ctypes.c_uint32,
                                    ctypes.c_uint32, ctypes.c_uint32, ctypes.c_uint8,
                                    ctypes.c_uint32, ctypes.c_void_p]
for f in ("xcb_flush", "xcb_disconnect"):
    getattr(xcb, f).argtypes = [ctypes.c_void_p]
conn = xcb.xcb_connect(None, None)
name = b"_NET_ACTIVE_WINDOW"
atom = xcb.xcb_intern_atom_reply(conn, xcb.xcb_intern_atom(conn, 0, len(name), name), None)
window = ctypes.c_uint32(int(sys.argv[2], 0))
XCB_ATOM_WINDOW = 33
xcb.xcb_change_property(conn, 0, int(sys.argv[1], 0), atom.contents.atom, XCB_ATOM_WINDOW, 32, 1,
                        ctypes.byref(window))
xcb.xcb_flush(conn)
xcb.xcb_disconnect(conn)
PY
}

coproc SIM { "$sim" --mice 2 --bluetooth 1 2>/dev/null; }
pids+=("$SIM_PID")
read -r line <&"${SIM[0]}"
case "$line" in ready*) ;; *) echo "screenshots: the simulated driver did not start" >&2; exit 1 ;; esac
"$agent" >/dev/null 2>&1 &
pids+=("$!")

rm -rf "$out"
mkdir -p "$out"
# The settings window: its pictures are taken 3 s after it starts, once it is the active window
# and the agent has told the Info tab so.
"$host" --pane "$world/pane/Corvimus.prefPane" --screenshots "$out" --screenshot-delay 3000 &
host_pid=$!
pids+=("$host_pid")
activate "Mouse Buttons" || true
wait "$host_pid" || { echo "screenshots: the settings window failed" >&2; exit 1; }

# The button tester in front, told by the driver that button 6 went down (and not yet up).
"$tester" --screenshot "$out/tester.png" --after 2500 >/dev/null &
tester_pid=$!
pids+=("$tester_pid")
activate "Mouse Button Tester" || true
sleep 1
# version 1, a button, slot 5 (C5), EV_KEY BTN_FORWARD pressed, buttons down: bit 5
echo "report 1 010105000100150101000000200000" >&"${SIM[1]}"
wait "$tester_pid" || { echo "screenshots: the tester failed" >&2; exit 1; }
echo "quit" >&"${SIM[1]}"
ls "$out"

if [ -n "$docs" ]; then
  # picture of this run -> its name in docs/
  while read -r from to; do
    cp "$out/$from" "$docs/$to"
  done <<'NAMES'
02-settings-buttons.png pane-buttons.png
03-settings-tracking.png pane-tracking.png
04-info.png pane-info.png
05-action-unchanged.png pane-action-unchanged.png
06-action-click.png pane-action-click.png
07-action-keystroke.png pane-action-keystroke.png
08-action-special-key.png pane-action-special-key.png
09-action-scroll.png pane-action-scroll.png
10-action-open-item.png pane-action-open-item.png
11-application.png pane-application.png
12-sheet-outletmainclickalert.png pane-sheet-main-click.png
13-sheet-outletdeletealert.png pane-sheet-remove.png
tester.png button-tester.png
NAMES
  echo "screenshots: the documentation's pictures are in $docs"
fi
