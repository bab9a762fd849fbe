#!/usr/bin/env bash
# Builds IrBench, starts the virtual camera on 127.0.0.1:8000 and runs the
# headless front against it.
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
cli() { echo "+ irbench-cli --net 127.0.0.1:$port $*"; ./build/cli/irbench-cli --net "127.0.0.1:$port" --trace "$@"; }
cli read-reg 0xF0E3
cli read-reg 0xF0E4
cli read-short 0x84
cli write-reg 0xF02A 100
cli write-short 0x13 1 1
cli raw F004361300014AFF
echo "虚拟机芯运行中 (127.0.0.1:$port, 用户 admin, 密码 admin); 按 Ctrl+C 结束。"
wait "$sim"
