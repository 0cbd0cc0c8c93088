#!/usr/bin/env bash
# The slim runtime (src/app/runtime_slim.cpp) replaces libstdc++'s throw
# helpers by defining them again. Its promise: a program that needs another
# helper of the same archive member does not link silently with two
# definitions, it fails to link. Both sides of that promise, for the
# shipped 32-bit toolchain:
#   1. a program that uses only the replaced helpers links;
#   2. one that also needs a helper left to libstdc++ is refused with
#      "multiple definition".
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cxx=i686-w64-mingw32-g++-win32
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
passed=0 failed=0

cat >"$dir/uses_replaced.cpp" <<'CPP'
#include <string>
int wmain(int argc, wchar_t**) { std::wstring s(L"abc"); return s.at(static_cast<size_t>(argc)); }
CPP
cat >"$dir/uses_another.cpp" <<'CPP'
#include <bits/functexcept.h>
int wmain(int argc, wchar_t**) { if (argc > 5) std::__throw_runtime_error("x"); return 0; }
CPP

link() {  # source -> output of the link; status of the link
  "$cxx" -std=c++20 -Os "$dir/$1" "$root/src/app/runtime_slim.cpp" -static -municode -o "$dir/${1%.cpp}.exe" 2>&1
}

if out=$(link uses_replaced.cpp); then
  echo "ok: a program using only the replaced helpers links"; passed=$((passed + 1))
else
  echo "FAILED: a program using only the replaced helpers does not link:"; echo "$out"; failed=$((failed + 1))
fi
if out=$(link uses_another.cpp); then
  echo "FAILED: a program needing another helper linked with two definitions"; failed=$((failed + 1))
elif grep -q "multiple definition" <<<"$out"; then
  echo "ok: a program needing another helper is refused (multiple definition)"; passed=$((passed + 1))
else
  echo "FAILED: the link failed for another reason:"; echo "$out"; failed=$((failed + 1))
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
