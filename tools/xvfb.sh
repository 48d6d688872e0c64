# Sourced by the screenshot scripts: start_xvfb SCREEN FIRST LAST starts Xvfb with the screen
# geometry SCREEN (e.g. 1280x1024x24) on the first free display numbered FIRST..LAST, waits until it
# answers, and sets `display` and `xvfb_pid` (the caller's clean-up stops it). Scripts given
# different ranges can run side by side.
start_xvfb() {
  display=""
  local n
  for n in $(seq "$2" "$3"); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=":$n"; break; fi
  done
  [ -n "$display" ] || { echo "screenshots: no free X display" >&2; exit 1; }
  Xvfb "$display" -screen 0 "$1" -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    xdpyinfo -display "$display" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
}
