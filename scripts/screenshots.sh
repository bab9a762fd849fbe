#!/usr/bin/env bash
# Drives the desktop app under Xvfb against the virtual camera through one bench
# session and saves the pictures in docs/: connect, two-point correction of a flat
# blackbody at 20 and 60 degrees with 16 frames, one-key write (captured while it
# runs), shutter correction and V10 detection on the corrected video.
# Needs a build (scripts/build.sh) and xvfb, xdotool and imagemagick. Clicks go to
# fixed positions: the window opens centred on a 1280 x 800 screen.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
port=${IRBENCH_SHOT_PORT:-8011}
display=${IRBENCH_SHOT_DISPLAY:-:99}
work=$(mktemp -d)
source scripts/shot-session.sh
start_screen 1280x800
start_camera --flat --scene-temp 20 --preset res384
# A data root of its own, so that the session starts from empty folders.
start_app

shot() { import -window root "$work/shot.png"; convert "$work/shot.png" -crop 852x608+240+100 +repage "$out/$1"; }

connect_to_calibration
click 457 439 3; ok                     # 采集低温点
echo "scene-temp 60" >&3; sleep 1
click 630 439 3; ok                     # 采集高温点
click 802 439 3; ok                     # 一键校正
click 974 439 12                        # 一键写入, still running
shot screenshot-calibration.png
sleep 45; ok
echo "scene-temp 40" >&3
click 290 500 1                         # 标定
click 430 480                           # 坏点表 tab
click 668 585 2                         # 快门校正
click 417 550; xdotool key Down Return; sleep 0.5   # 工具V10
click 542 550 5; ok 1                   # 自动检测
shot screenshot-badpixels.png
echo "saved $out/screenshot-calibration.png and $out/screenshot-badpixels.png"
