#!/usr/bin/env bash
# Writes the acceptance report of a simulated 160 x 118 run (gradient, table pixels, one
# missed hot pixel) and saves its first page as quality-report-sample.png in the folder
# given (default docs/; the committed report picture comes from scripts/screenshots-quality.sh).
# Needs a configured build/ and pdftoppm (poppler-utils).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
cmake --build build --target quality_report_sample >/dev/null
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
QT_QPA_PLATFORM=offscreen ./build/tests/gui/quality_report_sample "$tmp/report.pdf"
pdftoppm -r 100 -png -f 1 -l 1 -singlefile "$tmp/report.pdf" "$tmp/page"
cp "$tmp/page.png" "$out/quality-report-sample.png"
echo "$out/quality-report-sample.png"
