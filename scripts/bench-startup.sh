#!/usr/bin/env bash
# Benchmarks the installer's start-up under Wine against the bundled local
# release server: process start to the main window on screen, against a bare
# program of the same architecture that only makes the same HTTPS GET of the
# version file, in one run. The shipped 32-bit program runs under WoW64 as on
# 64-bit Windows; the 64-bit build's figure is printed beside it. Also prints
# the shipped executable's size against its budget.
#   BENCH_ROUNDS   rounds of each (7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/build.sh
for arch in i686 x86_64; do
  cmake -S bench/startup -B "build/bench-startup/$arch" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
  cmake --build "build/bench-startup/$arch"
done

exe32=build/win32/bin/ORBITQuarrySetup.exe
size=$(stat -c %s "$exe32")
awk -v s="$size" 'BEGIN { printf "32-bit executable: %d bytes (%.1f KiB) of its 320 KiB budget: %.0f %%\n", s, s / 1024, s * 100 / 327680 }'

TESTBED_DIR="$root/build/bench-startup/testbed"
source scripts/testbed.sh
trap testbed_down EXIT
testbed_up
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
for run in "i686 win32 (shipped, under WoW64)" "x86_64 win64"; do
  set -- $run
  echo "== $1 installer ($2)"
  wine "build/bench-startup/$1/startup_bench.exe" "$(winpath "$root/build/$2/bin/ORBITQuarrySetup.exe")" \
    "$(winpath "$root/build/bench-startup/$1/bare_get.exe")" "${BENCH_ROUNDS:-7}" "$OQ_SERVER_PORT"
done
