#!/usr/bin/env bash
# Benchmarks the installer's start-up under Wine against the bundled local
# release server, which serves a signed release (the manifest and signature
# the program asks for beside the version file), in one run:
#  - process start to the main window on screen, against a bare program of
#    the same architecture that only makes the same HTTPS GET of the version
#    file. The shipped 32-bit program runs under WoW64 as on 64-bit Windows,
#    also with release.txt answered 404 and beside the same program built
#    without release keys (which asks for neither the manifest nor its
#    signature); the 64-bit build's figure is printed beside it;
#  - the up-to-date start: with the add-in installed once and up to date,
#    the installed copy (what the desktop shortcut starts) from its start to
#    its end (it registers the library again, starts Excel and ends),
#    against a bare GET, regsvr32 /s of the installed library waited for and
#    Excel started; with the same two variants. The baseline runs the 64-bit
#    regsvr32 by its full path, as the installer does, and once more by name
#    (the 32-bit regsvr32, which starts the 64-bit one).
# Also prints the shipped executable's size against its budget.
#   BENCH_ROUNDS   rounds of each (7)
# The release server listens on port 8443 and Wine runs a prefix of its own
# under build/bench-startup: beside another test bed, run it in a network
# namespace of its own:
#   unshare -n bash -c 'ip link set lo up; scripts/bench-startup.sh'
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

rounds=${BENCH_ROUNDS:-7}
OQ_BUILD_TREES="win32 win64 win32-unsigned wine:trust_ca,oq_drive,oq_excel_standin,oq_addin \
  wine32:oq_excel_standin,oq_addin" bash scripts/build.sh
for arch in i686 x86_64; do
  cmake --no-warn-unused-cli -S bench/startup -B "build/bench-startup/$arch" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
  cmake --build "build/bench-startup/$arch" -j 2
done

exe32=build/win32/bin/ORBITQuarrySetup.exe
size=$(stat -c %s "$exe32")
awk -v s="$size" 'BEGIN { printf "32-bit executable: %d bytes (%.1f KiB) of its 320 KiB budget: %.0f %%\n", s, s / 1024, s * 100 / 327680 }'

TESTBED_DIR="$root/build/bench-startup/testbed"
source scripts/testbed.sh
trap testbed_down EXIT
testbed_up
manifest="$OQ_TEST_WWW/files/publish/release.txt"
if [ ! -f "$manifest" ] || [ ! -f "$manifest.sig" ]; then
  echo "bench-startup: the test bed serves no signed release" >&2
  exit 1
fi
bench32="build/bench-startup/i686/startup_bench.exe"
bare32=$(winpath "$root/build/bench-startup/i686/bare_get.exe")
keyless=$(winpath "$root/build/win32-unsigned/bin/ORBITQuarrySetup.exe")

echo "== i686 installer (win32, shipped, under WoW64): start to the main window"
wine "$bench32" window "$rounds" "$OQ_SERVER_PORT" "$bare32" "$(winpath "$manifest")" \
  "$(winpath "$root/$exe32")" "$keyless"
echo "== x86_64 installer (win64): start to the main window"
wine build/bench-startup/x86_64/startup_bench.exe window "$rounds" "$OQ_SERVER_PORT" \
  "$(winpath "$root/build/bench-startup/x86_64/bare_get.exe")" - "$(winpath "$root/build/win64/bin/ORBITQuarrySetup.exe")"

# An up-to-date installation: a 64-bit Excel set up as a 64-bit Office setup
# leaves it, and one install by the shipped program (as scripts/run.sh does).
office='C:\Program Files\Microsoft Office\root\Office16\'
mkdir -p "$WINEPREFIX/drive_c/Program Files/Microsoft Office/root/Office16"
cp "$OQ_STANDIN_EXCEL64" "$WINEPREFIX/drive_c/Program Files/Microsoft Office/root/Office16/excel.exe"
testbed_app_path 64 "$office"
if ! wine build/wine/bin/oq_drive.exe --install "$(winpath "$root/$exe32")" "$(winpath "$OQ_ARTIFACTS/installed.png")" \
  >"$OQ_ARTIFACTS/install.log" 2>&1; then
  echo "bench-startup: the install failed:" >&2
  cat "$OQ_ARTIFACTS/install.log" >&2
  exit 1
fi
folder=$(wine reg query 'HKCU\Software\Microsoft\Office\Excel\AddIns\ORBITQuarry.XLL' /v InstallPath 2>/dev/null |
  tr -d '\r' | sed -n 's/.*REG_SZ *//p')
[ -n "$folder" ] || { echo "bench-startup: no InstallPath recorded" >&2; exit 1; }
# The build without keys beside the copy, for the variant without the requests.
cp "$root/build/win32-unsigned/bin/ORBITQuarrySetup.exe" "$(winepath -u "${folder}ORBITQuarry-nokeys.exe")"
echo "== i686 installed copy ${folder}ORBITQuarry.exe, up to date: start to Excel started"
wine "$bench32" uptodate "$rounds" "$OQ_SERVER_PORT" "$bare32" "$(winpath "$manifest")" "${folder}ORBITQuarry.exe" \
  "${folder}ORBITQuarry64.dll" "${office}excel.exe" "${folder}ORBITQuarry-nokeys.exe"

# What the server answered for the signed release over the whole run.
log="$OQ_ARTIFACTS/release-server.log"
for file in release.txt release.txt.sig; do
  printf 'server: GET %s answered 200 %d times, 404 %d times\n' "$file" \
    "$(grep -c "\"GET /files/publish/$file HTTP/1.1\" 200" "$log" || true)" \
    "$(grep -c "\"GET /files/publish/$file HTTP/1.1\" 404" "$log" || true)"
done
