#!/usr/bin/env bash
# Builds IrBench, starts the virtual camera on 127.0.0.1:8000 and opens the desktop
# app in front of it ("相机 > 连接网络", address 127.0.0.1, port 8000, admin/admin).
# Without a display it runs the headless front against the camera instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
port=${IRBENCH_SIM_PORT:-8000}
./build/sim/irbench-sim --port "$port" > build/irbench-sim.log 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  grep -q listening build/irbench-sim.log 2>/dev/null && break
  kill -0 "$sim" 2>/dev/null || { cat build/irbench-sim.log; exit 1; }
  sleep 0.1
done
cat build/irbench-sim.log
echo "虚拟机芯: 地址 127.0.0.1, 端口 $port, 用户 admin, 密码 admin"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  ./build/src/app/irbench
  exit 0
fi

echo "没有图形显示, 改用命令行前端:"
cli() { echo "+ irbench-cli --net 127.0.0.1:$port $*"; ./build/cli/irbench-cli --net "127.0.0.1:$port" "$@"; }
cli identify
cli --trace write-reg 0xF02A 100
cli read-reg 0xF02A
cli raw F004361300014AFF
