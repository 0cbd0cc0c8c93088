#!/usr/bin/env bash
# Benchmarks the installer's start-up under Wine against the bundled local
# release server: process start to the main window on screen, against a bare
# program that only makes the same HTTPS GET of the version file, in one run.
# Also prints the finished 32-bit executable's size against its budget.
#   BENCH_ROUNDS   rounds of each (7)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/build.sh
out=build/bench-startup
cmake -S bench/startup -B "$out" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$out"

exe32=build/win32/bin/ORBITQuarrySetup.exe
size=$(stat -c %s "$exe32")
awk -v s="$size" 'BEGIN { printf "32-bit executable: %d bytes (%.1f KiB) of its 256 KiB budget: %.0f %%\n", s, s / 1024, s * 100 / 262144 }'

TESTBED_DIR="$root/build/bench-startup/testbed"
source scripts/testbed.sh
trap testbed_down EXIT
testbed_up
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine "$out/startup_bench.exe" "$(winpath "$root/build/win64/bin/ORBITQuarrySetup.exe")" \
  "$(winpath "$root/$out/bare_get.exe")" "${BENCH_ROUNDS:-7}" "$OQ_SERVER_PORT"
