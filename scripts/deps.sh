#!/usr/bin/env bash
# Installs the Debian packages the build and the tests use, when missing.
# The shipped program is 32-bit, so Wine must run 32-bit programs too:
# wine32 comes from the i386 architecture, added here when it is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config googletest libgtest-dev zlib1g-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 libz-mingw-w64-dev binutils-mingw-w64-x86-64
  wine wine64 wine32:i386 xvfb x11-apps imagemagick fonts-nanum openssl python3 ca-certificates
  zip unzip clang libclang-rt-14-dev nginx-light libssl-dev locales
)

export DEBIAN_FRONTEND=noninteractive
updated=
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "deps: adding the i386 architecture for 32-bit Wine"
  dpkg --add-architecture i386
  apt-get update -qq
  updated=1
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "deps: installing ${missing[*]}"
  [ -n "$updated" ] || apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# A Korean locale for the case that reads ZIP entry names in code page 949:
# Wine takes its code pages from the Unix locale, which must exist.
if ! locale -a 2>/dev/null | grep -qix 'ko_KR.utf8'; then
  echo "deps: generating the ko_KR.UTF-8 locale"
  localedef -i ko_KR -f UTF-8 ko_KR.UTF-8
fi
