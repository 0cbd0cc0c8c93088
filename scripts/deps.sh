#!/usr/bin/env bash
# Installs the Debian packages the build and the tests use, when missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config googletest libgtest-dev zlib1g-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-mingw-w64-x86-64
  wine wine64 xvfb x11-apps imagemagick fonts-nanum openssl python3 ca-certificates zip unzip clang
  libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
