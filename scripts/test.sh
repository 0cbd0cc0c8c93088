#!/usr/bin/env bash
# Builds everything and runs every test: native, under Wine, end to end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/deps.sh
bash scripts/build.sh

status=0
budget=$((320 * 1024))
echo "== executable sizes"
for exe in build/win32/bin/ORBITQuarrySetup.exe build/win64/bin/ORBITQuarrySetup.exe; do
  printf '%-42s %7d bytes (%d KiB)\n' "$exe" "$(stat -c %s "$exe")" $(( $(stat -c %s "$exe") / 1024 ))
done
if [ "$(stat -c %s build/win32/bin/ORBITQuarrySetup.exe)" -gt "$budget" ]; then
  echo "the 32-bit executable is over its 320 KiB budget"
  status=1
fi
# The program ships as one file: zlib and the compiler's runtime go inside
# it. Wine has a zlib1.dll of its own, so only the import table shows one.
for build in win32:i686 win64:x86_64; do
  exe=build/${build%%:*}/bin/ORBITQuarrySetup.exe
  if "${build##*:}-w64-mingw32-objdump" -p "$exe" | grep -Ei 'DLL Name: *(zlib|libz|libgcc|libstdc|libwinpthread)'; then
    echo "$exe needs a DLL that Windows does not have"
    status=1
  fi
done

echo "== slim runtime link"
bash tests/build/slim_runtime_test.sh || status=1

echo "== native tests"
ctest --test-dir build/native --output-on-failure || status=1

echo "== package extractor fuzzing"
bash scripts/fuzz.sh || status=1

echo "== release server tests"
python3 -m unittest discover -s tests/tools || status=1

echo "== tests under Wine"
source scripts/testbed.sh
trap testbed_down EXIT
testbed_up
# What ships is the 32-bit program: the end-to-end tests drive it, and the
# Win32 side's test programs run as 32-bit programs in the WoW64 prefix, as
# on 64-bit Windows. The 64-bit build of the same test programs runs too.
export OQ_PRODUCT_EXE="$root/build/win32/bin/ORBITQuarrySetup.exe"
export OQ_INSTALLER_TWOKEYS="$root/build/win32-twokeys/bin/ORBITQuarrySetup.exe"
export OQ_INSTALLER_UNSIGNED="$root/build/win32-unsigned/bin/ORBITQuarrySetup.exe"
ctest --test-dir build/wine32 --output-on-failure -E '^e2e_nginx$' || status=1
ctest --test-dir build/wine --output-on-failure -E '^e2e' || status=1
echo "== under a Korean locale"
# Wine reads its code pages from the Unix locale when its server starts.
wineserver -k 2>/dev/null || true
LANG=ko_KR.UTF-8 OQ_KOREAN_LOCALE=1 sh tests/support/run-under-wine.sh build/wine32/bin/win32_side_tests.exe \
  --gtest_filter='*InTheOemCodePage*' || status=1
echo "== the x86_64 build of the program, end to end"
# Not what ships, but built and documented: its installs must end as cleanly.
OQ_PRODUCT_EXE="$root/build/win64/bin/ORBITQuarrySetup.exe" sh tests/support/run-under-wine.sh \
  build/wine32/bin/e2e_tests.exe --gtest_filter='DeployE2E.FirstInstall*' || status=1
echo "== end to end with nginx serving the release"
if testbed_serve_nginx; then
  ctest --test-dir build/wine32 -R '^e2e_nginx$' --output-on-failure || status=1
else
  echo "nginx did not start: $TESTBED_DIR/nginx/error.log"
  status=1
fi
testbed_down
echo "screenshots and logs: $OQ_ARTIFACTS"
exit $status
