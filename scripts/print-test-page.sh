#!/usr/bin/env bash
# Set-up, an optimised build, and the main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARY_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"

out=out
mkdir -p "$out"
"$build/server/settings-demo" "$out/settings.msg"
