#!/usr/bin/env bash
# Builds IrBench and runs the whole test suite (unit, integration over real TCP and
# a real pty, GUI offscreen).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
