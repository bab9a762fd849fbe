#!/usr/bin/env bash
# Installs the Debian 12 packages IrBench needs to build, run and test.
# Used by the README commands and by CI; safe to run again.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-apps imagemagick fonts-noto-cjk
  qt6-translations-l10n
  libqt6sql6-sqlite libqt6sql6-psql postgresql
  libfreexl-dev libquazip1-qt6-dev python3-openpyxl python3-xlsxwriter python3-xlwt
  libeigen3-dev qt6-charts-dev
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
