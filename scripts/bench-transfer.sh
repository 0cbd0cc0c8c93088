#!/usr/bin/env bash
# Benchmarks a large package under Wine against the bundled local release
# server, in one run:
#  - the transfer: TfmMain::DownloadToFile through the real WinHttpTransport
#    (request on a worker thread) against a bare WinHTTP downloader doing the
#    same work on one thread, alternating, medians and their ratio; built for
#    i686 (the shipped architecture, under WoW64) and x86_64;
#  - the memory: the shipped installer's private bytes and working set with
#    its window idle, and their peak over the install of that package, read
#    before the success box is answered.
# The package is the 64-bit package of a signed release: the stand-in add-in
# library and a stored file of random bytes.
#   BENCH_ROUNDS   rounds of each downloader (7)
#   BENCH_MIB      the random file's size in MiB (100)
# The release server listens on port 8443 and Wine runs a prefix of its own
# under build/bench-transfer: beside another test bed, run it in a network
# namespace of its own:
#   unshare -n bash -c 'ip link set lo up; scripts/bench-transfer.sh'
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

rounds=${BENCH_ROUNDS:-7}
mib=${BENCH_MIB:-100}

# The shipped program, the test driver, trust_ca and the stand-ins; nothing else.
OQ_BUILD_TREES="win32 wine:trust_ca,oq_drive,oq_excel_standin,oq_addin wine32:oq_excel_standin,oq_addin" \
  bash scripts/build.sh
for arch in i686 x86_64; do
  cmake --no-warn-unused-cli -S bench/transfer -B "build/bench-transfer/$arch" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" >/dev/null
done
cmake --build build/bench-transfer/i686 -j 2
cmake --build build/bench-transfer/x86_64 -j 2 --target transfer_bench

TESTBED_DIR="$root/build/bench-transfer/testbed"
source scripts/testbed.sh
trap testbed_down EXIT
testbed_up

# The large package replaces the served 64-bit one, and the release is
# signed again over it: publish without libraries lists the packages there.
publish="$OQ_TEST_WWW/files/publish"
package="$publish/ORBITQuarry64n.zip"
version=$(tail -c +4 "$publish/xlllibver.txt")
python3 - "$OQ_STANDIN_ADDIN64" "$package" "$mib" <<'PY'
import os, sys, zipfile
library, package, mib = sys.argv[1], sys.argv[2], int(sys.argv[3])
with zipfile.ZipFile(package, "w") as z:
    z.write(library, "ORBITQuarry64n.dll", zipfile.ZIP_DEFLATED)
    # Random bytes do not compress: stored, as packers leave such files.
    payload = zipfile.ZipInfo("data/payload.bin", date_time=(2024, 1, 1, 0, 0, 0))
    payload.compress_type = zipfile.ZIP_STORED
    z.writestr(payload, os.urandom(mib << 20))
PY
python3 tools/release_server.py publish --root "$OQ_TEST_WWW" --version "$version" --key "$OQ_RELEASE_KEY" >/dev/null
python3 tools/release_server.py verify --root "$OQ_TEST_WWW" --public-key "${OQ_RELEASE_KEY%.pem}.pub.pem" >/dev/null
size=$(stat -c %s "$package")
sha=$(sha256sum "$package" | cut -d' ' -f1)
echo "package: ORBITQuarry64n.zip, $size bytes, SHA-256 $sha, release $version signed"

for arch in i686 x86_64; do
  echo "== transfer, $arch"
  wine "build/bench-transfer/$arch/transfer_bench.exe" "${OQ_TEST_BASE_URL}files/publish/ORBITQuarry64n.zip" \
    "$size" "$sha" 'C:\bench-transfer' "$rounds"
done

# A 64-bit Excel, set up as a 64-bit Office setup leaves it (as scripts/run.sh does).
office="$WINEPREFIX/drive_c/Program Files/Microsoft Office/root/Office16"
mkdir -p "$office"
cp "$OQ_STANDIN_EXCEL64" "$office/excel.exe"
testbed_app_path 64 'C:\Program Files\Microsoft Office\root\Office16\'
echo "== memory of the shipped i686 installer over the install of that package"
wine build/bench-transfer/i686/install_memory.exe "$(winpath "$root/build/win32/bin/ORBITQuarrySetup.exe")"
