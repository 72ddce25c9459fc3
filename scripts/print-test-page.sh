#!/usr/bin/env bash
# Set-up, an optimised build, and the main job: a File printer in a fresh root folder, the
# built-in test page printed to a PCL file, and a PNG preview of what the printer would print.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

out="$PWD/out"
rm -rf "$out"
mkdir -p "$out"
export TESSARY_ROOT="$out/root"
tessary="$build/server/tessary"

"$tessary" printer add "Test Printer" --transport File --address "$out/test-page.pcl"
"$tessary" print "Test Printer"
"$tessary" preview "$out/test-page.pcl" -o "$out/preview"

echo
echo "PCL stream:   $out/test-page.pcl"
echo "PNG preview:  $out/preview/page-001.png"
echo "Print tool:   $build/server/tessary   (TESSARY_ROOT=$TESSARY_ROOT keeps its printers)"
