#!/usr/bin/env bash
# Builds every tree:
#   build/native  the portable logic and its unit tests, for this Linux host
#   build/win32   the shipped 32-bit ORBITQuarrySetup.exe
#   build/win64   the same program for x86_64 (the one Wine runs here)
#   build/wine32  the Windows test programs, the end-to-end driver and the 32-bit
#                 stand-ins (i686, posix threads): the tests of what ships
#   build/wine    the same test programs and the 64-bit stand-ins (x86_64)
#   build/win32-twokeys, build/win32-unsigned  the 32-bit program trusting a
#                 second key as well (and one version later), and one that
#                 takes releases unverified (for the end-to-end cases of both)
# Extra arguments go to every Windows configure, e.g. -DRELEASE_BASE_URL=...
#
# OQ_BUILD_TREES names the trees to configure and build instead of all of
# them, each optionally followed by the only targets wanted in it, e.g.
#   OQ_BUILD_TREES="win32 wine:trust_ca,oq_drive" scripts/build.sh
# so that a script needing a few programs does not build every test.
#
# The release keys: unless the arguments name RELEASE_PUBLIC_KEYS or
# RELEASE_UNSIGNED, the program trusts a development key pair made here on
# first use, build/devkeys/release-key.pem (private, owner only) and
# release-key.pub.pem, with which the test bed signs its releases. A second
# pair, release-key2*, is the next key of the two-key build. Never commit them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=$(nproc)
all_trees="native win32 win64 wine wine32 win32-twokeys win32-unsigned"
declare -A targets=()
for entry in ${OQ_BUILD_TREES:-$all_trees}; do
  tree=${entry%%:*}
  case " $all_trees " in *" $tree "*) ;; *) echo "build.sh: no tree \"$tree\" (trees: $all_trees)" >&2; exit 2 ;; esac
  targets[$tree]=$([ "$entry" = "$tree" ] || echo "${entry#*:}" | tr , ' ')
done
configure() {  # dir, cmake args...
  local dir=$1; shift
  [ -n "${targets[${dir#build/}]+set}" ] || return 0
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
}

devkeys=$root/build/devkeys
make_key_pair() {  # private, public
  [ -f "$1" ] && [ -f "$2" ] && return
  mkdir -p "$devkeys"
  rm -f "$1" "$2"  # keygen will not overwrite half a pair
  python3 tools/release_server.py keygen --private "$1" --public "$2" >/dev/null
}
make_key_pair "$devkeys/release-key.pem" "$devkeys/release-key.pub.pem"
make_key_pair "$devkeys/release-key2.pem" "$devkeys/release-key2.pub.pem"
keys=(-DRELEASE_UNSIGNED=OFF "-DRELEASE_PUBLIC_KEYS=$devkeys/release-key.pub.pem")
case " $* " in *-DRELEASE_PUBLIC_KEYS=*|*-DRELEASE_UNSIGNED=*) keys=() ;; esac
set -- "${keys[@]}" "$@"

configure build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
configure build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "$@"
configure build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "$@"
configure build/wine -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DOQ_MINGW_THREADS=posix \
  -DOQ_PRODUCT=OFF -DOQ_WINE_TESTS=ON -DOQ_STANDINS=ON "$@"
configure build/wine32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DOQ_MINGW_THREADS=posix \
  -DOQ_PRODUCT=OFF -DOQ_WINE_TESTS=ON -DOQ_STANDINS=ON "$@"
# Given last, these two settle the keys whatever came before.
# The two-key build is also a later installer (one more in the version's last
# part): the one a release offers the installed copies in the tests of the
# installer updating itself and of the release key's rotation.
configure build/win32-twokeys -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "$@" -DRELEASE_UNSIGNED=OFF \
  "-DRELEASE_PUBLIC_KEYS=$devkeys/release-key.pub.pem;$devkeys/release-key2.pub.pem" -DOQ_INSTALLER_VERSION=1.7.17.1
configure build/win32-unsigned -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "$@" -DRELEASE_PUBLIC_KEYS= \
  -DRELEASE_UNSIGNED=ON

for dir in build/native build/win32 build/win64 build/wine32 build/wine build/win32-twokeys build/win32-unsigned; do
  tree=${dir#build/}
  [ -n "${targets[$tree]+set}" ] || continue
  echo "build: $dir${targets[$tree]:+ (${targets[$tree]})}"
  # shellcheck disable=SC2086  # the targets are words
  cmake --build "$dir" -j "$jobs" ${targets[$tree]:+--target ${targets[$tree]}}
done
