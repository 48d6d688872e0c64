#!/usr/bin/env bash
# The demo behind `./corvimus run`: builds, installs into stage/ inside the checkout, starts the
# simulated driver with two virtual mice (one Bluetooth) and the agent on the user's own settings,
# and shows live what each mouse's controls do as the front application changes and after
# `corvimus-prefs` edits followed by `corvimus-prefs apply`. Lines typed here go to the simulated
# driver (press 1 C3, report 1 0102, add bluetooth, remove 2, show, ...). Ctrl-C stops everything
# this script started, and nothing else.
set -euo pipefail

top="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$top/build"
stage="$top/stage"

echo "corvimus: building"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Everything: the installation below needs every program it installs.
cmake --build "$build" -j "$(nproc)"
echo "corvimus: installing into $stage"
cmake --install "$build" --prefix "$stage" >/dev/null
# The agent travels inside the pane, the driver is the kernel extension's bundle.
agent="$stage/lib/corvimus/Library/PreferencePanes/Corvimus.prefPane/Contents/Resources/CorvimusHelper.app/Contents/MacOS/CorvimusHelper"
simdriver="$stage/lib/corvimus/Extensions/Corvimus.kext/Contents/MacOS/corvimus-simdriver"
prefs="$stage/bin/corvimus-prefs"

if pgrep -u "$(id -u)" -x CorvimusHelper >/dev/null 2>&1; then
  echo "corvimus: note: another CorvimusHelper of yours is running; when it runs on this display,"
  echo "          the pane and corvimus-prefs may talk to it rather than to the demo's."
fi

sim_pid=""
work=""
agent_pid=""
stopping=0
stop_all() {
  [ "$stopping" = 1 ] && return
  stopping=1
  trap - INT TERM EXIT
  echo
  echo "corvimus: stopping"
  if [ -n "$agent_pid" ] && kill -0 "$agent_pid" 2>/dev/null; then
    kill -INT "$agent_pid" 2>/dev/null || true
    wait "$agent_pid" 2>/dev/null || true
  fi
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -n "${work:-}" ]; then rm -rf "$work"; fi
}
trap 'stop_all; exit 0' INT TERM
trap stop_all EXIT

# The simulator's standard input and output are FIFOs held open here, so that its control lines can
# be written and its answers read from anywhere in this script.
work=$(mktemp -d "${TMPDIR:-/tmp}/corvimus-demo.XXXXXX")
mkfifo "$work/in" "$work/out"
"$simdriver" --mice 2 --bluetooth 1 <"$work/in" >"$work/out" &
sim_pid=$!
exec 3>"$work/in" 4<"$work/out"
sim_in=3
sim_out=4
read -r -t 10 ready <&"$sim_out" || { echo "corvimus: the simulated driver did not start" >&2; exit 1; }
echo "corvimus: simulated driver ${ready#ready }"

"$agent" &
agent_pid=$!

# One control line to the simulator; its answer up to the closing "ok"/"error" line.
sim_command() {
  printf '%s\n' "$1" >&"$sim_in"
  local line
  while IFS= read -r -t 5 line <&"$sim_out"; do
    printf '%s\n' "$line"
    case "$line" in ok* | error*) return 0 ;; esac
  done
  return 1
}

front_application() {
  [ -n "${DISPLAY:-}" ] && command -v xprop >/dev/null || { echo "(no display)"; return; }
  local window pid
  window=$(xprop -root _NET_ACTIVE_WINDOW 2>/dev/null | awk '{print $NF}')
  case "$window" in 0x*) ;; *) echo "(none)"; return ;; esac
  pid=$(xprop -id "$window" _NET_WM_PID 2>/dev/null | awk '{print $NF}')
  if [[ "$pid" =~ ^[0-9]+$ ]] && [ -r "/proc/$pid/comm" ]; then
    echo "$(cat "/proc/$pid/comm") (pid $pid)"
  else
    echo "window $window"
  fi
}

cat <<EOF

The agent runs on your own settings file (corvimus-prefs show prints it). Try, in another terminal:
  $prefs set C3 copy
  $prefs set --app NAME speed 90
  $prefs apply
or switch applications when there is a display. Lines typed here go to the simulated driver:
  press 1 C3 | report 1 0102 | add bluetooth | remove 2 | show
Ctrl-C stops the driver and the agent.

These mice are simulated. For your real mice the driver is corvimusd, which needs root: either
  sudo ./corvimus install            (a system service, started at boot: systemctl status corvimusd)
or, for this session only, in another terminal and with this demo stopped:
  sudo ${stage}/lib/corvimus/Extensions/Corvimus.kext/Contents/MacOS/corvimusd
and then start the agent: ${agent}
Only the agent of the user whose session is active on the seat steers the mice.

EOF

last=""
last_front=""
while kill -0 "$agent_pid" 2>/dev/null; do
  if read -r -t 1 typed; then
    if [ -n "$typed" ]; then sim_command "$typed" || true; fi
  elif [ $? -le 128 ]; then
    sleep 1  # no more input (not a terminal): just keep showing
  fi
  state=$(sim_command show | grep -v '^ok$' || true)
  front=$(front_application)
  if [ "$state" != "$last" ] || [ "$front" != "$last_front" ]; then
    echo "---- $(date +%H:%M:%S)  front application: $front"
    printf '%s\n' "$state"
    last="$state"
    last_front="$front"
  fi
done
echo "corvimus: the agent ended"
