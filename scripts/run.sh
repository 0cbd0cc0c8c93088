#!/usr/bin/env bash
# The program's main job: builds it, publishes a sample release on the
# bundled release server and runs the installer under Wine against it.
# With a display it runs for you; without one it runs on a virtual display,
# keeps a screenshot of the main window and closes the program.
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

exe="$root/build/win64/bin/ORBITQuarrySetup.exe"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
echo "release server: $OQ_TEST_BASE_URL (serving $OQ_TEST_WWW)"
if [ -n "$had_display" ]; then
  wine "$exe" "$@"
  wineserver -w
else
  shot="$OQ_ARTIFACTS/main-window.png"
  mkdir -p "$OQ_ARTIFACTS"
  wine "$root/build/wine/bin/oq_drive.exe" "$(winpath "$exe")" "$(winpath "$shot")" "$@"
  echo "screenshot of the main window: $shot"
fi
