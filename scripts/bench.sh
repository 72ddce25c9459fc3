#!/usr/bin/env bash
# Set-up, an optimised build with the benchmarks, and every benchmark program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_TESTS=OFF \
  -DTESSARY_BENCH=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

for program in "$build"/bench/*_bench; do
  echo "== $(basename "$program")"
  "$program" "$@"
done

echo "== pdf_print"
bash bench/pdf_print.sh "$build"

echo "== documents"
bash bench/documents.sh "$build/server/tessary"

echo "== cups_filter"
bash bench/cups_filter.sh "$build"

echo "== cups_pdf"
bash bench/cups_pdf.sh "$build"

echo "== speed_scale"
bash bench/speed_scale.sh "$build"
