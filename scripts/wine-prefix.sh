#!/usr/bin/env bash
# wine-prefix.sh PREFIX CA_DER TRUST_CA_EXE
# Makes a Wine prefix (unless PREFIX holds one) and trusts the release
# server's test authority in it. Safe to run again on the same prefix.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 PREFIX CA_DER TRUST_CA_EXE" >&2
  exit 2
fi
prefix=$1 ca=$2 trust=$3
# Checked before wineboot, which takes a while and would only fail later.
for f in "$ca" "$trust"; do
  [ -f "$f" ] || { echo "wine-prefix.sh: $f does not exist" >&2; exit 1; }
done
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The shipped program is 32-bit and runs beside a 64-bit Excel, so the
# prefix must be a WoW64 one, as 64-bit Windows is. A prefix made before
# 32-bit Wine was installed has no syswow64 and starts nothing: remade.
if [ -f "$prefix/system.reg" ] && [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
  echo "wine-prefix.sh: $prefix is not a WoW64 prefix; making it afresh" >&2
  rm -rf "$prefix"
fi
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
  if [ ! -d "$prefix/drive_c/windows/syswow64" ]; then
    echo "wine-prefix.sh: Wine made no WoW64 prefix; is wine32 (i386) installed? (scripts/deps.sh)" >&2
    exit 1
  fi
fi
# "Segoe UI" and Wine's own dialog font have no Hangul; link them to the
# Nanum font (fonts-nanum) so that the Korean texts can be read on screen and
# in the screenshots, as a Korean Windows shows them.
link=$(printf 'NanumGothic.ttf,NanumGothic' | iconv -f utf-8 -t utf-16le | od -An -tx1 -v |
  tr -s ' \n' ',' | sed 's/^,//; s/,$//')
reg=$(mktemp --suffix=.reg)
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink]\r\n"Segoe UI"=hex(7):%s,00,00,00,00\r\n"Tahoma"=hex(7):%s,00,00,00,00\r\n' \
  "$link" "$link" | iconv -f utf-8 -t utf-16 >"$reg"
wine regedit /S "$(printf 'Z:%s' "$reg" | tr / '\\')"
rm -f "$reg"
# Z: is the host's root in every prefix, so the authority need not be copied in.
wine "$trust" "$(printf 'Z:%s' "$(realpath "$ca")" | tr / '\\')"
wineserver -w
