#!/usr/bin/env bash
# wine-prefix.sh PREFIX CA_DER TRUST_CA_EXE
# Makes a Wine prefix (unless PREFIX holds one) and trusts the release
# server's test authority in it.
set -euo pipefail
prefix=$1 ca=$2 trust=$3
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
fi
wine "$trust" "$(printf 'Z:%s' "$(realpath "$ca")" | tr / '\\')"
wineserver -w
