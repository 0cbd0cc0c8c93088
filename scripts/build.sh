#!/usr/bin/env bash
# Builds every tree:
#   build/native  the portable logic and its unit tests, for this Linux host
#   build/win32   the shipped 32-bit ORBITQuarrySetup.exe
#   build/win64   the same program for x86_64 (the one Wine runs here)
#   build/wine32  the Windows test programs, the end-to-end driver and the 32-bit
#                 stand-ins (i686, posix threads): the tests of what ships
#   build/wine    the same test programs and the 64-bit stand-ins (x86_64)
# Extra arguments go to every Windows configure, e.g. -DRELEASE_BASE_URL=...
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=$(nproc)
configure() {  # dir, cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

configure build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "$@"
configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "$@"
configure build/wine -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DOQ_MINGW_THREADS=posix \
  -DOQ_PRODUCT=OFF -DOQ_WINE_TESTS=ON -DOQ_STANDINS=ON "$@"
configure build/wine32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DOQ_MINGW_THREADS=posix \
  -DOQ_PRODUCT=OFF -DOQ_WINE_TESTS=ON -DOQ_STANDINS=ON "$@"

for dir in build/native build/win32 build/win64 build/wine32 build/wine; do
  echo "build: $dir"
  cmake --build "$dir" -j "$jobs"
done
