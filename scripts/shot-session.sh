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

# The message box's button, wherever the box is (its size follows its text).
ok() {
  local id X Y WIDTH HEIGHT
  id=$(xdotool search --onlyvisible --name '^(提示|警告|错误)$' | tail -1)
  [ -n "$id" ] || return 0
  eval "$(xdotool getwindowgeometry --shell "$id")"
  click $((X + WIDTH - 62)) $((Y + HEIGHT - 25)) "${1:-0.5}"
}

# On a 1280 x 800 screen: past the first start's message, "相机 > 连接网络" to the
# camera on $port, then the calibration page "检测" with 16 frames a capture.
connect_to_calibration() {
  ok 1                                  # "module_info" folder created
  click 276 146; click 305 179 1        # 相机 > 连接网络
  click 690 280; xdotool key ctrl+a type 127.0.0.1
  click 690 312; xdotool key ctrl+a type "$port"
  click 690 344; xdotool key ctrl+a type admin
  click 690 376; xdotool key ctrl+a type admin
  click 635 478 4                       # 确定: identification, stream
  click 290 410 1                       # 检测
  click 808 321; click 534 286; xdotool key ctrl+a type 16
}
