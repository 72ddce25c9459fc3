#!/usr/bin/env bash
# Set-up, the fuzz build of README.md (clang, every library instrumented), and a short run of
# each libFuzzer target on its seeds: SECONDS each (30 by default). New inputs go to scratch
# folders below build/fuzz; a crash stops the script with the target's report and the input
# that caused it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
seconds=${1:-30}

build=build/fuzz
CXX=clang++ CC=clang cmake -S . -B "$build" -G Ninja -DTESSARY_FUZZ=ON -DTESSARY_TESTS=OFF \
  >/dev/null
cmake --build "$build" --target picture_fuzz message_fuzz spool_fuzz
mkdir -p "$build/corpus" "$build/messages" "$build/spools"

run() {
  local target=$1
  shift
  echo "fuzz: $target for ${seconds}s" >&2
  if ! LSAN_OPTIONS=suppressions=fuzz/lsan.supp "$build/fuzz/$target" "$@" \
      -max_total_time="$seconds" -artifact_prefix="$build/" >"$build/$target.log" 2>&1; then
    tail -n 60 "$build/$target.log" >&2
    echo "fuzz: $target failed (log: $build/$target.log)" >&2
    exit 1
  fi
}
run picture_fuzz "$build/corpus" tests/data/pictures
run message_fuzz "$build/messages" tests/data/message-seeds tests/data/messages
run spool_fuzz "$build/spools" tests/data/spools
