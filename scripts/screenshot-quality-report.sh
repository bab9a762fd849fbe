#!/usr/bin/env bash
# Writes the acceptance report of a simulated 160 x 118 run (gradient, table pixels, one
# missed hot pixel) and saves its first page as docs/screenshot-quality-report.png.
# Needs a configured build/ and pdftoppm (poppler-utils).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
cmake --build build --target quality_report_sample >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
QT_QPA_PLATFORM=offscreen ./build/tests/gui/quality_report_sample "$tmp/report.pdf"
pdftoppm -r 100 -png -f 1 -l 1 -singlefile "$tmp/report.pdf" "$tmp/page"
cp "$tmp/page.png" "$out/screenshot-quality-report.png"
echo "$out/screenshot-quality-report.png"
