#!/usr/bin/env bash
# The program's main job: builds it, publishes a sample release on the
# bundled release server and runs the installer under Wine against it.
# With a display it runs for you; without one it runs on a virtual display,
# keeps a screenshot of the main window, clicks Install (or Update, when the
# window offers one), answers the boxes and prints what was recorded.
# Arguments go to the installer (for example UPDATE or FORCE).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/deps.sh
bash scripts/build.sh

had_display=${DISPLAY:-}
TESTBED_DIR="$root/build/run"
source scripts/testbed.sh
trap testbed_down EXIT
testbed_up keep

exe="$root/build/win32/bin/ORBITQuarrySetup.exe"

# A 64-bit Excel for the installer to find, set up as a 64-bit Office setup
# leaves it: the stand-in excel.exe in the Office 16 folder, its application
# path written to the registry's 64-bit view.
office="$WINEPREFIX/drive_c/Program Files/Microsoft Office/root/Office16"
mkdir -p "$office"
cp "$OQ_STANDIN_EXCEL64" "$office/excel.exe"
testbed_app_path 64 'C:\Program Files\Microsoft Office\root\Office16\'
echo "release server: $OQ_TEST_BASE_URL (serving $OQ_TEST_WWW)"
if [ -n "$had_display" ]; then
  wine "$exe" "$@"
  wineserver -w
else
  shot="$OQ_ARTIFACTS/main-window.png"
  mkdir -p "$OQ_ARTIFACTS"
  wine "$root/build/wine/bin/oq_drive.exe" --install "$(winpath "$exe")" "$(winpath "$shot")" "$@"
  echo "screenshot of the main window: $shot"
  addin='HKCU\Software\Microsoft\Office\Excel\AddIns\ORBITQuarry.XLL'
  echo "recorded for the user under $addin:"
  wine reg query "$addin" 2>/dev/null | tr -d '\r' | grep -E 'REG_' || echo "  (nothing)"
fi
