# Shared by the screenshot scripts (sourced): a virtual screen, the virtual camera with
# its control input on fd 3, and the app started in a data root of its own under $work.
# Uses $display, $port and $work; sets $xvfb, $sim and $app for the cleanup.
export DISPLAY=$display

cleanup() {
  kill "${app:-}" "${sim:-}" "${xvfb:-}" 2>/dev/null || true
  exec 3>&- 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# start_screen WxH, start_camera SIM-ARGS..., start_app (after $work/app is prepared)
start_screen() {
  Xvfb "$display" -screen 0 "$1"x24 >/dev/null 2>&1 &
  xvfb=$!
  sleep 1
}

start_camera() {
  # The camera takes control commands on stdin.
  mkfifo "$work/ctl"
  ./build/sim/irbench-sim --port "$port" "$@" <"$work/ctl" >"$work/sim.log" 2>&1 &
  sim=$!
  exec 3>"$work/ctl"
  sleep 1
  grep -q listening "$work/sim.log" || { cat "$work/sim.log"; exit 1; }
}

start_app() {
  mkdir -p "$work/app"
  cp build/src/app/irbench "$work/app/"
  (cd "$work/app" && exec ./irbench >"$work/app.log" 2>&1) &
  app=$!
  sleep 3
}

click() { xdotool mousemove "$1" "$2" click 1; sleep "${3:-0.5}"; }
