#!/usr/bin/env bash
# Drives the desktop app under Xvfb against the virtual camera (res160, flat blackbody)
# through the whole chain and the acceptance check, twice: a camera without noisy
# pixels (passes) and the default one (its noisy pixels are not in the V20 table:
# fails). Saves docs/screenshot-quality-pass.png, docs/screenshot-quality-fail.png and
# page 1 of the failing core's report as docs/screenshot-quality-report.png.
# Needs a build, xvfb, xdotool, imagemagick and pdftoppm. Clicks go to fixed positions:
# the window opens centred on a 1280 x 800 screen. Takes about three minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
port=${IRBENCH_SHOT_PORT:-8034}
display=${IRBENCH_SHOT_DISPLAY:-:93}

to_bottom() { for _ in $(seq 1 30); do xdotool mousemove 700 500 click 5; done; sleep 1; }

session() { # NOISY SHOT
  work=$(mktemp -d)
  source scripts/shot-session.sh
  start_screen 1280x800
  start_camera --flat --scene-temp 20 --preset res160 --noisy-pixels "$1"
  start_app
  connect_to_calibration
  click 457 439 3; ok                   # 采集低温点 at 20
  echo "scene-temp 60" >&3; sleep 1
  click 630 439 3; ok                   # 采集高温点 at 60
  click 802 439 3; ok                   # 一键校正
  click 974 439 20; ok                  # 一键写入
  click 467 470 5; ok                   # 坏点检测 (V20)
  echo "scene-temp 45" >&3
  click 290 500 1; click 430 480        # 标定 > 坏点表
  click 668 585 2                       # 快门校正
  click 290 410 1; to_bottom            # 检测, down to 质量检验
  click 542 184 10                      # 质量检验
  xdotool mousemove 1270 790; to_bottom
  import -window root "$work/shot.png"
  convert "$work/shot.png" -crop 938x627+240+100 +repage "$out/$2"
  pdf=$(ls "$work"/app/*/Report/*.pdf | head -1)
  pdftoppm -r 80 -f 1 -l 1 -png -singlefile "$pdf" "$work/report"
  cp "$work/report.png" "$out/screenshot-quality-report.png"
  cleanup
  trap - EXIT
}

session 0 screenshot-quality-pass.png
port=$((port + 1)); display=":$(( ${display#:} + 1 ))"
session 4 screenshot-quality-fail.png
echo "saved $out/screenshot-quality-pass.png, $out/screenshot-quality-fail.png and $out/screenshot-quality-report.png"
