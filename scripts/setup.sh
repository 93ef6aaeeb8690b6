#!/usr/bin/env bash
# Installs the Debian packages Kelvarin builds and runs with, only those missing, so that a second
# run on a prepared machine costs one dpkg query.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config locales clang libclang-rt-14-dev
  qt6-base-dev qt6-serialport-dev qt6-svg-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  fonts-liberation2 xvfb xauth
  dpkg-dev file help2man lintian desktop-file-utils appstream
  prometheus-cpp-dev libcivetweb-dev prometheus
  ser2net libtelnet-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
