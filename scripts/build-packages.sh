#!/usr/bin/env bash
# Builds the Debian packages (dpkg-buildpackage -b) and leaves them in build/packages:
#
#   tessary_VERSION_ARCH.deb                 the print tool, the driver add-on, the transports
#   printer-driver-tessary_VERSION_ARCH.deb  the CUPS driver: filters and PPD
#   tessary-printer-app_VERSION_ARCH.deb     the printer application and its service
#
# with their debug symbols (*-dbgsym_*.deb) and the build's .changes and .buildinfo. The
# source tree is copied into build/debian first, so that the build's own files (and the files
# dpkg-buildpackage writes beside the source folder) stay out of the work tree.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

top=$PWD
work=$top/build/debian
out=$top/build/packages
version=$(dpkg-parsechangelog -l debian/changelog -S Version)
source=$work/tessary-$version

rm -rf "$work" "$out"
mkdir -p "$source" "$out"
tar -C "$top" --exclude=./build --exclude=./build-* --exclude=./out --exclude=./.git -cf - . |
  tar -C "$source" -xf -

start=$(date +%s)
(
  cd "$source"
  export DEB_BUILD_OPTIONS="parallel=$(nproc) ${DEB_BUILD_OPTIONS:-}"
  dpkg-buildpackage -b --no-sign >"$work/build.log" 2>&1
) || {
  tail -n 60 "$work/build.log" >&2
  echo "build-packages: dpkg-buildpackage failed; the whole log is $work/build.log" >&2
  exit 1
}
mv "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out"/
echo "build-packages: built in $(($(date +%s) - start)) s (log: $work/build.log):" >&2
ls -1 "$out"/*.deb
