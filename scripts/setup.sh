#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds and runs with. Idempotent: packages
# already present are left alone, and apt is not touched at all when nothing is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libcairo2-dev libfreetype-dev libfontconfig-dev fonts-dejavu-core
  libpng-dev libjpeg62-turbo-dev libcli11-dev libpoppler-glib-dev
  libxcb1-dev libxcb-icccm4-dev libxkbcommon-dev libxkbcommon-x11-dev
  libxcb-xtest0-dev libxcb-damage0-dev xvfb
  libpappl-dev libavahi-client-dev cups-ipp-utils
  attr
  ghostscript python3-numpy
  libcups2-dev libcupsimage2-dev cups cups-client cups-filters cups-ppdc
  # The Debian packages (scripts/build-packages.sh) and their tests: systemd for
  # systemd-analyze only (nothing of it is started), bash-completion for the completion's
  # test and the packages' build.
  debhelper dpkg-dev fakeroot lintian bash-completion systemd
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}" >&2
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
