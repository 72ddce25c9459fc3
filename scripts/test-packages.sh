#!/usr/bin/env bash
# Builds the Debian packages (scripts/build-packages.sh) and tests them as they install: the
# package tests (tests/packages) unpack them into a temporary root with dpkg-deb -x (nothing
# is installed on this machine), print a PDF with the unpacked tool to a File printer and
# through the project's private cupsd with the unpacked filter and PPD, ask every unpacked
# program for its version, check the service unit with systemd-analyze and start the
# unpacked printer application as the unit does, and run lintian on the packages.
#
#   bash scripts/test-packages.sh [PACKAGE_FOLDER]
#
# With a folder, the packages in it are tested as they are, without a build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

if [ $# -ge 1 ]; then
  packages=$(cd "$1" && pwd)
else
  bash scripts/build-packages.sh
  packages=$PWD/build/packages
fi

# The tests themselves are built in the test build.
build=build/asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARY_SANITIZE=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target packages_tests

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
TESSARY_PACKAGES=$packages ctest --test-dir "$build" --output-on-failure \
  -R '^(InstalledPackages|ServiceUnit)\.'
