#!/usr/bin/env bash
# Installs the Debian packages the project builds and runs with; does nothing when all are present.
set -euo pipefail
packages=(build-essential cmake pkg-config ninja-build libsdl2-dev libsdl2-image-dev libsdl2-ttf-dev
          fonts-wine fonts-dejavu-core fonts-wqy-zenhei libminizip-dev zlib1g-dev libgif-dev libjpeg-dev libsqlite3-dev libgtest-dev libgmock-dev
          libbenchmark-dev librsvg2-bin libpixman-1-dev xvfb xauth clang libclang-rt-14-dev python3 zip unzip)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
