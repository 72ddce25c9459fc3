#!/usr/bin/env bash
# Set-up, a sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer), and every test;
# then the threaded parts under ThreadSanitizer, a short run of each fuzz target, and the
# Debian packages built and tested unpacked (about four minutes on two cores).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

build=build/asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARY_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# The threaded kits once more under ThreadSanitizer.
bash scripts/test-tsan.sh

# The fuzz targets, built from the product's libraries with clang, a short run each.
bash scripts/fuzz.sh 20

# The Debian packages, built and tested as they install.
bash scripts/test-packages.sh
